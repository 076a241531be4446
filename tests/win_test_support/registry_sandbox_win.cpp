#include "tests/win_test_support/registry_sandbox_win.h"

#include "tests/win_test_support/process_win.h"

namespace veltrona::test_support {

UserHiveSandbox::UserHiveSandbox(const std::wstring& name)
    : root_(L"Software\\VeltronaTests\\" + name + UniqueSuffix()) {
  ::RegCreateKeyExW(HKEY_CURRENT_USER, root_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &user_, nullptr);
  overridden_ = ::RegOverridePredefKey(HKEY_CURRENT_USER, user_) == ERROR_SUCCESS;
}

UserHiveSandbox::~UserHiveSandbox() {
  ::RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
  ::RegCloseKey(user_);
  ::RegDeleteTreeW(HKEY_CURRENT_USER, root_.c_str());
}

RegistrySandbox::RegistrySandbox(const std::wstring& name)
    : root_(L"Software\\VeltronaTests\\" + name + UniqueSuffix()) {
  ::RegCreateKeyExW(HKEY_CURRENT_USER, (root_ + L"\\machine").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                    &machine_, nullptr);
  ::RegCreateKeyExW(HKEY_CURRENT_USER, (root_ + L"\\user").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &user_,
                    nullptr);
  overridden_ = ::RegOverridePredefKey(HKEY_LOCAL_MACHINE, machine_) == ERROR_SUCCESS &&
                ::RegOverridePredefKey(HKEY_CURRENT_USER, user_) == ERROR_SUCCESS;
}

RegistrySandbox::~RegistrySandbox() {
  ::RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
  ::RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
  ::RegCloseKey(machine_);
  ::RegCloseKey(user_);
  ::RegDeleteTreeW(HKEY_CURRENT_USER, root_.c_str());
}

}  // namespace veltrona::test_support
