#include "service/security_win.h"

#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include <filesystem>

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

bool IsTrustedServiceFolder(const std::wstring& folder) noexcept {
  if (folder.empty()) return false;
  const DWORD attributes = ::GetFileAttributesW(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
  if (PathHasReparsePoint(folder)) return false;
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (::GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                              nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  UniqueSecurityDescriptor owned(descriptor);
  if (owner == nullptr) return false;
  if (::IsWellKnownSid(owner, WinLocalSystemSid) || ::IsWellKnownSid(owner, WinBuiltinAdministratorsSid)) return true;
  // The account the service runs as: SYSTEM on Windows, and the one account
  // Wine has.
  HANDLE raw_token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw_token)) return false;
  UniqueKernelHandle token(raw_token);
  alignas(TOKEN_USER) unsigned char user[SECURITY_MAX_SID_SIZE + sizeof(TOKEN_USER)];
  DWORD size = 0;
  if (!::GetTokenInformation(token.Get(), TokenUser, user, sizeof user, &size)) return false;
  return ::EqualSid(owner, reinterpret_cast<TOKEN_USER*>(user)->User.Sid) != FALSE;
}

bool PreparePrivateFolder(const std::wstring& folder) noexcept {
  try {
    UniqueSecurityDescriptor descriptor = DescriptorFromSddl(kPrivateFolderSddl);
    if (!descriptor) return false;
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.Get(), FALSE};
    if (!::CreateDirectoryW(folder.c_str(), &attributes) && ::GetLastError() != ERROR_ALREADY_EXISTS) return false;
    if (PathHasReparsePoint(folder)) return false;
    // An earlier session's copies go; only what was just checked may run.
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
      std::filesystem::remove_all(entry.path(), error);
      if (error) return false;
    }
    return !error;
  } catch (...) {
    return false;
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
