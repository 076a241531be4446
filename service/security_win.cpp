#include "service/security_win.h"

#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

namespace veltrona::service {

UniqueSecurityDescriptor DescriptorFromSddl(const wchar_t* sddl) noexcept {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr)) {
    return UniqueSecurityDescriptor();
  }
  return UniqueSecurityDescriptor(descriptor);
}

bool PathHasReparsePoint(const std::wstring& path) noexcept {
  try {
    // Walk "C:\a", "C:\a\b", ... and look at each existing component.
    for (size_t pos = path.find(L'\\', 3); ; pos = path.find(L'\\', pos + 1)) {
      const std::wstring prefix = path.substr(0, pos);
      const DWORD attributes = ::GetFileAttributesW(prefix.c_str());
      if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return true;
      if (pos == std::wstring::npos) break;
    }
    return false;
  } catch (...) {
    return true;
  }
}

std::optional<PipeClient> IdentifyPipeClient(HANDLE pipe, DWORD* error) noexcept {
  *error = ERROR_SUCCESS;
  if (!::ImpersonateNamedPipeClient(pipe)) {
    *error = ::GetLastError();
    return std::nullopt;
  }
  PipeClient client;
  HANDLE token = nullptr;
  const bool have_token = ::OpenThreadToken(::GetCurrentThread(),
                                            TOKEN_QUERY | TOKEN_IMPERSONATE | TOKEN_DUPLICATE, TRUE, &token);
  if (!have_token) *error = ::GetLastError();
  client.token.Reset(token);
  wchar_t folder[MAX_PATH] = {};
  HRESULT found = E_FAIL;
  if (have_token) {
    found = ::SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, token, SHGFP_TYPE_CURRENT, folder);
    if (FAILED(found)) *error = static_cast<DWORD>(found);
  }
  ::RevertToSelf();
  if (!have_token || FAILED(found)) return std::nullopt;
  client.local_app_data = folder;
  return client;
}

ScopedImpersonation::ScopedImpersonation(HANDLE token) noexcept
    : ok_(token != nullptr && ::ImpersonateLoggedOnUser(token)) {}

ScopedImpersonation::~ScopedImpersonation() {
  if (ok_) ::RevertToSelf();
}

}  // namespace veltrona::service
