#include "tests/win_test_support/registry_sandbox_win.h"

#include "tests/win_test_support/process_win.h"

namespace veltrona::test_support {

HiveOverride::HiveOverride(HKEY hive, const std::wstring& name)
    : hive_(hive), path_(L"Software\\VeltronaTests\\" + name + UniqueSuffix()) {
  if (::RegCreateKeyExW(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key_.Put(),
                        nullptr) == ERROR_SUCCESS) {
    overridden_ = ::RegOverridePredefKey(hive_, key_.Get()) == ERROR_SUCCESS;
  }
}

HiveOverride::~HiveOverride() {
  ::RegOverridePredefKey(hive_, nullptr);
  key_.Reset();
  ::RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str());
}

}  // namespace veltrona::test_support
