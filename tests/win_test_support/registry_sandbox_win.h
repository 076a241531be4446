// Points this process's predefined registry hives at fresh keys of the
// test's own for as long as the object lives, so code under test reads and
// writes nothing of the prefix's.
#pragma once

#include <windows.h>

#include <string>

#include "base/unique_handle_win.h"

namespace veltrona::test_support {

// One predefined hive pointed at a fresh key under the real
// HKEY_CURRENT_USER; put back, and the key removed, when the object goes.
class HiveOverride {
 public:
  HiveOverride(HKEY hive, const std::wstring& name);
  ~HiveOverride();
  HiveOverride(const HiveOverride&) = delete;
  HiveOverride& operator=(const HiveOverride&) = delete;
  [[nodiscard]] bool Ready() const { return overridden_; }
  // The real key behind the hive, for looking at what was stored.
  [[nodiscard]] HKEY Key() const { return key_.Get(); }

 private:
  HKEY hive_;
  std::wstring path_;
  UniqueRegKey key_;
  bool overridden_ = false;
};

// HKEY_CURRENT_USER alone.
class UserHiveSandbox {
 public:
  explicit UserHiveSandbox(const std::wstring& name) : user_(HKEY_CURRENT_USER, name) {}
  [[nodiscard]] bool Ready() const { return user_.Ready(); }
  [[nodiscard]] HKEY User() const { return user_.Key(); }

 private:
  HiveOverride user_;
};

// HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER, so that code reading
// machine-wide and per-user settings runs unchanged.
class RegistrySandbox {
 public:
  explicit RegistrySandbox(const std::wstring& name)
      : machine_(HKEY_LOCAL_MACHINE, name + L"-machine"), user_(HKEY_CURRENT_USER, name + L"-user") {}
  [[nodiscard]] bool Ready() const { return machine_.Ready() && user_.Ready(); }
  [[nodiscard]] HKEY Machine() const { return machine_.Key(); }
  [[nodiscard]] HKEY User() const { return user_.Key(); }

 private:
  // The user's hive goes back first, so that the machine's key is removed
  // from the real one.
  HiveOverride machine_;
  HiveOverride user_;
};

}  // namespace veltrona::test_support
