// What the service, running as LocalSystem, does to stay out of reach of
// the local users whose requests it serves: the access it grants on its
// objects, the folders it trusts, and acting as the requesting user.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "base/unique_handle_win.h"

namespace veltrona::service {

// SYSTEM and administrators: everything, the service's further pipe
// instances included. Interactive and other local authenticated users: write
// the pipe, nothing more, so they cannot add an instance of their own;
// anonymous and network logons get nothing.
inline constexpr wchar_t kPipeSddl[] =
    L"D:P(D;;GA;;;AN)(D;;GA;;;NU)(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x120082;;;AU)";
// Local authenticated users may wait on and set the events, nothing more.
inline constexpr wchar_t kEventSddl[] =
    L"D:P(D;;GA;;;AN)(D;;GA;;;NU)(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x100002;;;AU)";
// The service's private copies: SYSTEM and administrators only.
inline constexpr wchar_t kPrivateFolderSddl[] = L"O:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

UniqueSecurityDescriptor DescriptorFromSddl(const wchar_t* sddl) noexcept;

// Whether any existing component of `path`, from the drive down, is a
// reparse point (junction, symbolic link, mount point).
[[nodiscard]] bool PathHasReparsePoint(const std::wstring& path) noexcept;

// The user at the other end of the pipe: an impersonation token, and that
// user's local application-data folder.
struct PipeClient {
  UniqueKernelHandle token;
  std::wstring local_app_data;
};
[[nodiscard]] std::optional<PipeClient> IdentifyPipeClient(HANDLE pipe, DWORD* error) noexcept;

// Runs the current thread as the token's user until destroyed.
class ScopedImpersonation {
 public:
  explicit ScopedImpersonation(HANDLE token) noexcept;
  ~ScopedImpersonation();
  ScopedImpersonation(const ScopedImpersonation&) = delete;
  ScopedImpersonation& operator=(const ScopedImpersonation&) = delete;
  [[nodiscard]] bool ok() const noexcept { return ok_; }

 private:
  bool ok_ = false;
};

}  // namespace veltrona::service
