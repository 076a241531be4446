#include "service/openvpn_launch_win.h"

#include <optional>
#include <vector>

#include "base/known_folders_win.h"
#include "base/settings.h"
#include "base/wide_text.h"
#include "service/event_log_win.h"
#include "service/openvpn_command_line.h"
#include "service/openvpn_config_check.h"
#include "service/security_win.h"

namespace veltrona::service {

namespace {

constexpr size_t kMaxPathChars = 260;
constexpr DWORD kInstallPathBytes = 520;
constexpr DWORD kMaxReferencedFileBytes = 1 << 20;
constexpr wchar_t kPrivateFolderName[] = L"session";
constexpr wchar_t kConfigCopyName[] = L"Veltrona.ovpn";
constexpr int kOutputFileAttempts = 100;
constexpr DWORD kOutputFileRetryMs = 50;

struct FileRead {
  bool ok = false;
  DWORD error = 0;
  std::string bytes;
};

// A plain file only: no folder, no link, no device; at most `limit` bytes.
FileRead ReadPlainFile(const std::wstring& path, DWORD limit) {
  FileRead result;
  UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file) {
    result.error = ::GetLastError();
    return result;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (::GetFileType(file.Get()) != FILE_TYPE_DISK || !::GetFileInformationByHandle(file.Get(), &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
    result.error = ERROR_ACCESS_DENIED;
    return result;
  }
  if (info.nFileSizeHigh != 0 || info.nFileSizeLow > limit) {
    result.error = ERROR_FILE_TOO_LARGE;
    return result;
  }
  result.bytes.resize(info.nFileSizeLow);
  DWORD read = 0;
  if (!result.bytes.empty() &&
      !::ReadFile(file.Get(), result.bytes.data(), static_cast<DWORD>(result.bytes.size()), &read, nullptr)) {
    result.error = ::GetLastError();
    return result;
  }
  result.bytes.resize(read);
  result.ok = true;
  return result;
}

UniqueFile CreateOutputFile(const ClientSession& session) {
  // As the client: log.txt can only be somewhere that user may write.
  ScopedImpersonation as_client(session.token.Get());
  if (!as_client.ok()) return UniqueFile();
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  const std::wstring path = ToWide(session.paths.output_path);
  // The previous OpenVPN's console may still hold the file for a moment
  // after OpenVPN itself has ended.
  for (int attempt = 0;; ++attempt) {
    UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inheritable, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file || ::GetLastError() != ERROR_SHARING_VIOLATION || attempt == kOutputFileAttempts) return file;
    ::Sleep(kOutputFileRetryMs);
  }
}

// Why a start was refused: the log line, and the code that goes with it.
struct Refusal {
  std::string message;
  std::optional<DWORD> code;
};

// Reads the configuration and the files it names as the client, checks it,
// and writes the accepted copy into the service's private folder, where it
// stays held until OpenVPN has ended. A refusal says why.
std::optional<Refusal> PrepareConfiguration(const ClientSession& session, const ServiceFolder& service_folder,
                                            HeldCopy* copy) {
  if (!service_folder.usable()) {
    return Refusal{"The service folder " + AnsiText(service_folder.wanted_path()) +
                       " cannot be used; OpenVPN is not started",
                   std::nullopt};
  }
  ConfigCheckResult check;
  std::vector<std::pair<std::wstring, std::string>> copies;
  {
    ScopedImpersonation as_client(session.token.Get());
    if (!as_client.ok()) return Refusal{"Cannot act as the connection tool's user", ::GetLastError()};
    const FileRead config = ReadPlainFile(ToWide(session.paths.config_path), static_cast<DWORD>(kMaxConfigBytes));
    if (!config.ok) return Refusal{"OpenVPN configuration cannot be read", config.error};
    check = CheckOpenVpnConfig(config.bytes, session.paths.folder);
    if (!check.accepted) {
      return Refusal{"OpenVPN configuration refused: " + check.reason + " (line " + std::to_string(check.line) + ")",
                     std::nullopt};
    }
    copies.emplace_back(kConfigCopyName, check.text);
    for (const ConfigFileReference& reference : check.files) {
      const std::wstring relative = ToWide(reference.relative_path);
      const std::wstring source = ToWide(session.paths.folder) + L"\\" + relative;
      if (PathHasReparsePoint(source)) {
        return Refusal{"OpenVPN configuration refused: " + reference.directive + " names a file reached through a link",
                       std::nullopt};
      }
      FileRead file = ReadPlainFile(source, kMaxReferencedFileBytes);
      if (!file.ok) {
        return Refusal{"OpenVPN configuration refused: " + reference.directive + " names a file that cannot be read",
                       file.error};
      }
      copies.emplace_back(relative, std::move(file.bytes));
    }
  }
  std::string why_not;
  if (!WriteHeldCopy(service_folder, kPrivateFolderName, copies, copy, &why_not)) {
    return Refusal{"Cannot write the service's copy of the configuration: " + why_not, std::nullopt};
  }
  return std::nullopt;
}

// The refusal in the service log and, when it exists, in log.txt.
void ReportRefusal(ServiceLog& log, HANDLE output, const Refusal& refusal) {
  if (refusal.code) {
    log.WriteCode(refusal.message, *refusal.code);
  } else {
    log.Write(refusal.message);
  }
  if (output == INVALID_HANDLE_VALUE) return;
  const std::string line = "Veltrona VPN service: " + refusal.message +
                           (refusal.code ? CodeSuffix(*refusal.code) : std::string()) + "\r\n";
  DWORD written = 0;
  (void)::WriteFile(output, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

}  // namespace

InstallFolderResult ReadInstallFolder() {
  InstallFolderResult result;
  UniqueRegKey key;
  // The installer's value, named where every other setting is.
  const config::SettingDefinition& install_path = config::Setting(config::SettingId::kInstallPath);
  const std::wstring key_name = ToWide(install_path.key);
  const std::wstring value_name = ToWide(install_path.value);
  result.open_status = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, key_name.c_str(), 0, KEY_QUERY_VALUE, key.Put());
  if (result.open_status != ERROR_SUCCESS) return result;
  wchar_t folder[kInstallPathBytes / sizeof(wchar_t) + 1] = {};
  DWORD size = kInstallPathBytes;
  result.query_status =
      ::RegQueryValueExW(key.Get(), value_name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(folder), &size);
  if (result.query_status == ERROR_SUCCESS) {
    // The value need not be terminated; the extra element always is.
    folder[std::min<DWORD>(size, kInstallPathBytes) / sizeof(wchar_t)] = L'\0';
    result.folder = folder;
  }
  return result;
}

std::wstring OpenVpnProgramPath(const std::wstring& install_folder) {
  // Without a folder the name would be looked up relative to wherever the
  // service happens to be.
  if (install_folder.empty()) return {};
  std::wstring path = install_folder + L"openvpn.exe";
  return path.size() < kMaxPathChars ? path : std::wstring();
}

std::optional<RunningOpenVpn> StartOpenVpn(ServiceLog& log, const ClientSession& session,
                                           const std::wstring& program, const ServiceFolder& service_folder) {
  RunningOpenVpn openvpn;
  openvpn.output = CreateOutputFile(session);
  if (!openvpn.output) log.WriteCode("CreateFile for OVPN log failed", ::GetLastError());

  if (const std::optional<Refusal> refusal = PrepareConfiguration(session, service_folder, &openvpn.copy)) {
    ReportRefusal(log, openvpn.output.Get(), *refusal);
    if (!service_folder.usable()) ReportErrorEvent(kEventOpenVpnNotStarted, refusal->message);
    return std::nullopt;
  }
  const std::wstring config_copy = openvpn.copy.folder() + L"\\" + kConfigCopyName;
  const auto command_line = BuildOpenVpnCommandLine(ToU16(config_copy));
  if (!command_line) {
    ReportRefusal(log, openvpn.output.Get(), Refusal{"OpenVPN command line does not fit", std::nullopt});
    return std::nullopt;
  }
  std::wstring line = ToWide(*command_line);

  STARTUPINFOW startup{};
  ::GetStartupInfoW(&startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
  startup.wShowWindow = SW_HIDE;
  startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = openvpn.output.Get();
  startup.hStdError = openvpn.output.Get();
  // Relative file names in the copied configuration are relative to it.
  const std::wstring& working_folder = openvpn.copy.folder();
  PROCESS_INFORMATION info{};
  if (program.empty() || !::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_NEW_CONSOLE,
                                           nullptr, working_folder.c_str(), &startup, &info)) {
    if (program.empty()) ::SetLastError(ERROR_PATH_NOT_FOUND);
    ReportRefusal(log, openvpn.output.Get(), Refusal{"Failed to start Open VPN process", ::GetLastError()});
    return std::nullopt;
  }
  openvpn.process.Reset(info.hProcess);
  openvpn.thread.Reset(info.hThread);
  return openvpn;
}

}  // namespace veltrona::service
