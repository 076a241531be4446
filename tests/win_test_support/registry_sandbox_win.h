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

// Points HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER of this process at two
// fresh keys of the test's own, so that code reading machine-wide and
// per-user settings runs unchanged and touches nothing of the prefix's.
class RegistrySandbox {
 public:
  explicit RegistrySandbox(const std::wstring& name);
  ~RegistrySandbox();
  RegistrySandbox(const RegistrySandbox&) = delete;
  RegistrySandbox& operator=(const RegistrySandbox&) = delete;
  [[nodiscard]] bool Ready() const { return overridden_; }
  // The real key behind a hive, for looking at what was stored.
  [[nodiscard]] HKEY Machine() const { return machine_; }
  [[nodiscard]] HKEY User() const { return user_; }

 private:
  std::wstring root_;
  HKEY machine_ = nullptr;
  HKEY user_ = nullptr;
  bool overridden_ = false;
};

}  // namespace veltrona::test_support
