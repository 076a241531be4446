#include "client/support/diagnostics_win.h"

#include <shlobj.h>

#include <optional>
#include <vector>

#include "base/known_folders_win.h"
#include "base/system_error_win.h"
#include "base/unique_handle_win.h"

namespace veltrona::support {

namespace {

// How long an ended command may take to let go of the output file.
constexpr DWORD kEndedCommandWaitMs = 5000;

StepOutcome LastFailure(std::string_view message) {
  const DWORD code = ::GetLastError();
  return StepOutcome::Failure(message, code, SystemTextAnsi(code));
}

std::wstring SystemProgram(const wchar_t* name) {
  wchar_t folder[MAX_PATH] = {};
  const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return name;
  return std::wstring(folder, length) + L"\\" + name;
}

std::optional<std::wstring> ServiceLogPath() {
  const std::optional<std::wstring> folder = KnownFolder(CSIDL_COMMON_APPDATA);
  if (!folder) return std::nullopt;
  return *folder + L"\\" + kProductFolderName + L"\\service.log";
}

// Reads the file from its start; over `max_bytes`, only its last part,
// behind the notice. False on a read failure, with the error left set.
bool ReadBounded(HANDLE file, std::size_t max_bytes, std::string& text) {
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file, &size)) return false;
  const auto total = static_cast<std::uint64_t>(size.QuadPart);
  const std::uint64_t skipped = total > max_bytes ? total - max_bytes : 0;
  LARGE_INTEGER start{};
  start.QuadPart = static_cast<LONGLONG>(skipped);
  if (!::SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) return false;
  std::string bytes(static_cast<std::size_t>(total - skipped), '\0');
  std::size_t filled = 0;
  while (filled < bytes.size()) {
    DWORD read = 0;
    if (!::ReadFile(file, bytes.data() + filled, static_cast<DWORD>(bytes.size() - filled), &read, nullptr)) {
      return false;
    }
    if (read == 0) break;  // the file shrank meanwhile
    filled += read;
  }
  bytes.resize(filled);
  text = skipped != 0 ? CutNotice(skipped) + FileText(bytes) : FileText(bytes);
  return true;
}

// Starts the command suspended inside `job`, with `output` as its standard
// output, so that ending the job ends whatever the command started.
bool StartInJob(std::wstring_view command, HANDLE output, HANDLE job, UniqueProcess& process) {
  HANDLE inheritable = nullptr;
  if (!::DuplicateHandle(::GetCurrentProcess(), output, ::GetCurrentProcess(), &inheritable, 0, TRUE,
                         DUPLICATE_SAME_ACCESS)) {
    return false;
  }
  const UniqueKernelHandle inherited(inheritable);
  // Only this one handle goes to the child.
  SIZE_T list_size = 0;
  ::InitializeProcThreadAttributeList(nullptr, 1, 0, &list_size);
  std::vector<char> list_memory(list_size);
  auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(list_memory.data());
  if (!::InitializeProcThreadAttributeList(list, 1, 0, &list_size)) return false;
  const bool listed = ::UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, &inheritable,
                                                  sizeof inheritable, nullptr, nullptr) != FALSE;
  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof startup;
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
  startup.StartupInfo.wShowWindow = SW_HIDE;
  startup.StartupInfo.hStdOutput = inheritable;
  startup.StartupInfo.hStdError = inheritable;
  startup.lpAttributeList = listed ? list : nullptr;
  const std::wstring program = SystemProgram(L"cmd.exe");
  std::wstring line = L"cmd.exe /c ";
  line += command;
  PROCESS_INFORMATION info{};
  const BOOL started = ::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE,
                                        CREATE_NO_WINDOW | CREATE_SUSPENDED | EXTENDED_STARTUPINFO_PRESENT,
                                        nullptr, nullptr, &startup.StartupInfo, &info);
  const DWORD error = ::GetLastError();
  ::DeleteProcThreadAttributeList(list);
  if (!started) {
    ::SetLastError(error);
    return false;
  }
  process.Reset(info.hProcess);
  const UniqueKernelHandle thread(info.hThread);
  // Without the job the command still runs; only its cut-off would miss
  // what it started.
  (void)::AssignProcessToJobObject(job, info.hProcess);
  ::ResumeThread(thread.Get());
  return true;
}

UniqueKernelHandle MakeKillOnCloseJob() {
  UniqueKernelHandle job(::CreateJobObjectW(nullptr, nullptr));
  if (job) {
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    ::SetInformationJobObject(job.Get(), JobObjectExtendedLimitInformation, &limits, sizeof limits);
  }
  return job;
}

std::string HeaderTime() {
  char text[128] = {};
  if (::GetTimeFormatA(LOCALE_USER_DEFAULT, 0, nullptr, nullptr, text, static_cast<int>(sizeof text)) == 0) {
    return {};
  }
  return text;
}

}  // namespace

std::string SystemTextAnsi(DWORD code) {
  std::string text = SystemMessageTextAnsi(code);
  // A double-byte character is never split.
  std::size_t end = 0;
  while (end < text.size()) {
    const std::size_t step = ::IsDBCSLeadByte(static_cast<BYTE>(text[end])) && end + 1 < text.size() ? 2 : 1;
    if (end + step > kSystemTextChars) break;
    end += step;
  }
  text.resize(end);
  return text;
}

StepOutcome RunCommandOutput(std::wstring_view command, const std::wstring& output_path, DWORD timeout_ms,
                             const CommandMessages& messages) {
  if (!::DeleteFileW(output_path.c_str()) && ::GetLastError() != ERROR_FILE_NOT_FOUND) {
    return LastFailure(kDeleteTemporaryFailed);
  }
  // CREATE_NEW with the reparse flag: whatever reappears at the name,
  // link or file, is refused instead of followed.
  UniqueFile output(::CreateFileW(output_path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!output) return LastFailure(kOpenTemporaryFailed);

  StepOutcome outcome;
  {
    const UniqueKernelHandle job = MakeKillOnCloseJob();
    UniqueProcess process;
    if (!StartInJob(command, output.Get(), job.Get(), process)) {
      outcome = LastFailure(messages.execute_failed);
    } else if (::WaitForSingleObject(process.Get(), timeout_ms) == WAIT_TIMEOUT) {
      if (job) ::TerminateJobObject(job.Get(), 1);
      ::TerminateProcess(process.Get(), 1);
      ::WaitForSingleObject(process.Get(), kEndedCommandWaitMs);
      outcome = StepOutcome::Failure(messages.timed_out, WAIT_TIMEOUT, SystemTextAnsi(WAIT_TIMEOUT));
    } else {
      std::string text;
      outcome = ReadBounded(output.Get(), kMaxCommandOutputBytes, text) ? StepOutcome::Text(std::move(text))
                                                                          : LastFailure(messages.read_failed);
    }
  }
  output.Reset();
  ::DeleteFileW(output_path.c_str());
  return outcome;
}

StepOutcome ReadLogFile(const std::wstring& path, std::string_view open_failed, std::string_view read_failed) {
  // The service may hold the file open for writing, or replace it.
  const UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return LastFailure(open_failed);
  std::string text;
  if (!ReadBounded(file.Get(), kMaxLogBytes, text)) return LastFailure(read_failed);
  return StepOutcome::Text(std::move(text));
}

std::string CollectDiagnostics() {
  DiagnosticsPieces pieces;
  pieces.time = HeaderTime();
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof version;
  if (::GetVersionExA(&version)) {
    pieces.major_version = version.dwMajorVersion;
    pieces.minor_version = version.dwMinorVersion;
    pieces.build_number = version.dwBuildNumber;
    pieces.service_pack = std::string(version.szCSDVersion, strnlen(version.szCSDVersion, sizeof version.szCSDVersion));
  }
  SYSTEM_INFO system{};
  ::GetNativeSystemInfo(&system);
  pieces.architecture = system.wProcessorArchitecture;

  const std::optional<std::wstring> folder = ClientDataFolder();
  if (folder) {
    const std::wstring temporary = *folder + L"\\out.tmp";
    pieces.ipconfig = RunCommandOutput(L"ipconfig /all", temporary, kCommandTimeoutMs,
                                       {kExecuteIpconfigFailed, kReadIpconfigFailed, kIpconfigTimedOut});
    pieces.route_print = RunCommandOutput(L"route print", temporary, kCommandTimeoutMs,
                                          {kExecuteRoutePrintFailed, kReadRoutePrintFailed, kRoutePrintTimedOut});
    pieces.openvpn_log = ReadLogFile(*folder + L"\\log.txt", kOpenOpenVpnLogFailed, kReadOpenVpnLogFailed);
  } else {
    // Without the user's folder there is nowhere to put the commands' output.
    const std::string text = SystemTextAnsi(ERROR_PATH_NOT_FOUND);
    pieces.ipconfig = StepOutcome::Failure(kOpenTemporaryFailed, ERROR_PATH_NOT_FOUND, text);
    pieces.route_print = StepOutcome::Failure(kOpenTemporaryFailed, ERROR_PATH_NOT_FOUND, text);
    pieces.openvpn_log = StepOutcome::Failure(kOpenOpenVpnLogFailed, ERROR_PATH_NOT_FOUND, text);
  }
  const std::optional<std::wstring> service_log = ServiceLogPath();
  if (service_log) {
    pieces.service_log = ReadLogFile(*service_log, kOpenServiceLogFailed, kReadServiceLogFailed);
  } else {
    pieces.service_log = StepOutcome::Failure(kOpenServiceLogFailed, ERROR_PATH_NOT_FOUND,
                                              SystemTextAnsi(ERROR_PATH_NOT_FOUND));
  }
  return BuildDiagnosticsText(pieces);
}

}  // namespace veltrona::support
