// Points this process's HKEY_CURRENT_USER at a fresh key of the test's own
// for as long as the object lives, so code under test writes nothing of the
// prefix's.
#pragma once

#include <windows.h>

#include <string>

namespace veltrona::test_support {

class UserHiveSandbox {
 public:
  explicit UserHiveSandbox(const std::wstring& name);
  ~UserHiveSandbox();
  UserHiveSandbox(const UserHiveSandbox&) = delete;
  UserHiveSandbox& operator=(const UserHiveSandbox&) = delete;
  [[nodiscard]] bool Ready() const { return overridden_; }

 private:
  std::wstring root_;
  HKEY user_ = nullptr;
  bool overridden_ = false;
};

}  // namespace veltrona::test_support
