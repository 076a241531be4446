#include "tests/win_test_support/process_win.h"

#include <atomic>
#include <thread>

#include "base/unique_handle_win.h"

namespace veltrona::test_support {

std::wstring BinFolder() {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, length);
  return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

std::wstring PeerProgram(const std::wstring& name) { return BinFolder() + L"peers\\" + name + L".exe"; }

std::optional<UniqueProcess> StartProgram(const wchar_t* program, std::wstring command_line, DWORD flags) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(program, command_line.data(), nullptr, nullptr, FALSE, flags, nullptr, nullptr, &startup,
                        &info)) {
    return std::nullopt;
  }
  const UniqueKernelHandle thread(info.hThread);
  return UniqueProcess(info.hProcess);
}

ProgramResult RunProgram(const std::wstring& program, const std::wstring& arguments, DWORD timeout_ms) {
  ProgramResult result;
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  if (!::CreatePipe(&read_end, &write_end, &inheritable, 0)) return result;
  UniqueKernelHandle reader(read_end);
  UniqueKernelHandle writer(write_end);
  ::SetHandleInformation(reader.Get(), HANDLE_FLAG_INHERIT, 0);

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = writer.Get();
  startup.hStdError = writer.Get();
  std::wstring command_line = L"\"" + program + L"\"";
  if (!arguments.empty()) command_line += L" " + arguments;
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &info)) {
    return result;
  }
  UniqueProcess process(info.hProcess);
  UniqueKernelHandle thread(info.hThread);
  writer.Reset();

  std::thread drain([&] {
    char buffer[4096];
    DWORD read = 0;
    while (::ReadFile(reader.Get(), buffer, sizeof buffer, &read, nullptr) && read > 0) {
      result.output.append(buffer, read);
    }
  });
  if (::WaitForSingleObject(process.Get(), timeout_ms) != WAIT_OBJECT_0) {
    result.timed_out = true;
    ::TerminateProcess(process.Get(), 0xDEAD);
    ::WaitForSingleObject(process.Get(), 10000);
  }
  drain.join();
  ::GetExitCodeProcess(process.Get(), &result.exit_code);
  return result;
}

std::string UnixPath(const std::wstring& path) {
  using ToUnix = char*(CDECL*)(LPCWSTR);
  const auto to_unix = reinterpret_cast<ToUnix>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (to_unix == nullptr) return {};
  char* name = to_unix(path.c_str());
  if (name == nullptr) return {};
  std::string result(name);
  ::HeapFree(::GetProcessHeap(), 0, name);
  return result;
}

std::wstring UniqueSuffix() {
  static std::atomic<unsigned> counter{0};
  return std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(counter++);
}

}  // namespace veltrona::test_support
