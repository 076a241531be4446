// The client program with a recording RAS in place of rasapi32's and a
// recording launcher in place of ShellExecuteW, so that tests can drive the
// PPTP engine through the real window and see what RAS would receive.
// Everything goes through files in C:\ProgramData\Veltrona Test RAS\:
//   calls.txt   written: one line per RAS call or program start, with the
//               fields of its structures as RAS would read them
//   dial.txt    read: the result RasDialW gives (0 when missing)
//   events.txt  read: "<connection state> <error>[ fixed]" lines; each new
//               line is posted to the dial's notifier window as RAS posts
//               its progress ("RasDialEvent", or WM_RASDIALEVENT with
//               "fixed")
//   stats.txt   read: "<received> <sent>", or "fail"; missing counts 0
#include <windows.h>
#include <ras.h>
#include <raserror.h>
#include <shlobj.h>

#include <atomic>
#include <cstddef>
#include <cstring>
#include <fstream>
#include <filesystem>
#include <iterator>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/known_folders_win.h"
#include "client/app/startup_win.h"
#include "client/common/user_messages_win.h"
#include "client/engines/ras_api_win.h"

namespace {

std::wstring RasFolder() {
  return veltrona::KnownFolder(CSIDL_COMMON_APPDATA).value_or(std::wstring()) + L"\\Veltrona Test RAS\\";
}

std::string ReadFile(const wchar_t* name) {
  std::ifstream file(std::filesystem::path(RasFolder() + name), std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
  std::string result(static_cast<size_t>(size > 0 ? size : 0), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), size, nullptr,
                        nullptr);
  return result;
}

// A fixed field read as RAS reads it: up to its terminator, never past it.
template <size_t N>
std::string Field(const WCHAR (&field)[N]) {
  size_t length = 0;
  while (length < N && field[length] != 0) ++length;
  if (length == N) return "<unterminated>";
  return Utf8(std::wstring(field, length));
}

std::string Hex(uint64_t value) {
  std::ostringstream text;
  text << "0x" << std::hex << value;
  return text.str();
}

std::mutex journal_lock;
void Record(const std::string& line) {
  const std::lock_guard<std::mutex> hold(journal_lock);
  std::ofstream file(std::filesystem::path(RasFolder() + L"calls.txt"), std::ios::binary | std::ios::app);
  file << line << "\n";
}

// "zero" when every byte of `bytes` outside the named fields is zero;
// otherwise the offsets of the first few that are not.
std::string OtherBytes(std::vector<unsigned char> bytes, std::initializer_list<std::pair<size_t, size_t>> fields) {
  for (const auto& [offset, size] : fields) {
    if (offset + size <= bytes.size()) std::memset(bytes.data() + offset, 0, size);
  }
  std::string found;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == 0) continue;
    if (!found.empty()) found += ',';
    found += std::to_string(i);
    if (found.size() > 40) break;
  }
  return found.empty() ? "zero" : "nonzero@" + found;
}

// <ras.h> spells its types as "struct tag...", which cannot stand before ::.
#define FIELD_OF(type, member) \
  std::pair<size_t, size_t> { offsetof(type, member), sizeof(std::declval<type&>().member) }

const HRASCONN kConnection = reinterpret_cast<HRASCONN>(static_cast<INT_PTR>(0x5EED));

class RecordingRas final : public veltrona::engines::RasApi {
 public:
  DWORD DeleteEntry(const wchar_t* phonebook, const wchar_t* entry) override {
    Record("DeleteEntry phonebook=" + Utf8(phonebook) + " entry=" + Utf8(entry));
    return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
  }

  DWORD SetEntryProperties(const wchar_t* phonebook, const wchar_t* entry, RASENTRYW* properties, DWORD size,
                           BYTE* device_info, DWORD device_info_size) override {
    // Only as much as the structure says it holds, and never more than the
    // largest one this client knows.
    const size_t readable = std::min<size_t>(properties->dwSize, 5680);
    std::vector<unsigned char> bytes(reinterpret_cast<unsigned char*>(properties),
                                     reinterpret_cast<unsigned char*>(properties) + readable);
    Record("SetEntryProperties phonebook=" + Utf8(phonebook) + " entry=" + Utf8(entry) +
           " size=" + std::to_string(size) + " dwSize=" + std::to_string(properties->dwSize) +
           " options=" + Hex(properties->dwfOptions) + " protocols=" + Hex(properties->dwfNetProtocols) +
           " device=" + Field(properties->szDeviceType) + " type=" + std::to_string(properties->dwType) +
           " encryption=" + std::to_string(properties->dwEncryptionType) +
           " strategy=" + std::to_string(properties->dwVpnStrategy) +
           " deviceinfo=" + (device_info == nullptr ? "null" : "set") + "/" + std::to_string(device_info_size) +
           " others=" +
           OtherBytes(bytes, {FIELD_OF(RASENTRYW, dwSize), FIELD_OF(RASENTRYW, dwfOptions),
                              FIELD_OF(RASENTRYW, dwfNetProtocols), FIELD_OF(RASENTRYW, szDeviceType),
                              FIELD_OF(RASENTRYW, dwType), FIELD_OF(RASENTRYW, dwEncryptionType),
                              FIELD_OF(RASENTRYW, dwVpnStrategy)}));
    return 0;
  }

  DWORD Dial(RASDIALEXTENSIONS* extensions, const wchar_t* phonebook, RASDIALPARAMSW* parameters,
             DWORD notifier_type, void* notifier, HRASCONN* connection) override {
    const size_t readable = std::min<size_t>(parameters->dwSize, sizeof(RASDIALPARAMSW));
    std::vector<unsigned char> bytes(reinterpret_cast<unsigned char*>(parameters),
                                     reinterpret_cast<unsigned char*>(parameters) + readable);
    Record("Dial extensions=" + std::string(extensions == nullptr ? "null" : "set") +
           " phonebook=" + Utf8(phonebook) + " dwSize=" + std::to_string(parameters->dwSize) +
           " entry=" + Field(parameters->szEntryName) + " phone=" + Field(parameters->szPhoneNumber) +
           " user=" + Field(parameters->szUserName) + " password=" + Field(parameters->szPassword) +
           " domain=" + Field(parameters->szDomain) + " notifiertype=" + Hex(notifier_type) +
           " notifier=" + Hex(reinterpret_cast<uintptr_t>(notifier)) + " others=" +
           OtherBytes(bytes, {FIELD_OF(RASDIALPARAMSW, dwSize), FIELD_OF(RASDIALPARAMSW, szEntryName),
                              FIELD_OF(RASDIALPARAMSW, szPhoneNumber), FIELD_OF(RASDIALPARAMSW, szUserName),
                              FIELD_OF(RASDIALPARAMSW, szPassword)}));
    // RAS hands out a handle even for a dial it refuses.
    *connection = kConnection;
    live_ = true;
    notifier_ = static_cast<HWND>(notifier);
    const std::string result = ReadFile(L"dial.txt");
    const DWORD code = result.empty() ? 0 : static_cast<DWORD>(std::stoul(result));
    if (code == 0) StartReporting();
    return code;
  }

  DWORD HangUp(HRASCONN connection) override {
    const bool known = connection == kConnection && live_;
    // "stuck": RAS takes the hang-up but never lets the connection go.
    const bool stuck = known && ReadFile(L"hangup.txt") == "stuck";
    Record("HangUp handle=" + Hex(reinterpret_cast<uintptr_t>(connection)) +
           (stuck ? " stuck" : known ? " ok" : " invalid"));
    if (!known) return ERROR_INVALID_HANDLE;
    if (!stuck) live_ = false;
    return 0;
  }

  DWORD GetConnectStatus(HRASCONN connection, RASCONNSTATUSW* status) override {
    Record("ConnectStatus handle=" + Hex(reinterpret_cast<uintptr_t>(connection)) +
           (connection == kConnection && live_ ? " live" : " invalid"));
    if (connection != kConnection || !live_) return ERROR_INVALID_HANDLE;
    status->rasconnstate = RASCS_Connected;
    return 0;
  }

  DWORD GetConnectionStatistics(HRASCONN connection, RAS_STATS* statistics) override {
    Record("Statistics handle=" + Hex(reinterpret_cast<uintptr_t>(connection)) +
           " dwSize=" + std::to_string(statistics->dwSize));
    const std::string text = ReadFile(L"stats.txt");
    if (text.rfind("fail", 0) == 0) return ERROR_INVALID_HANDLE;
    std::istringstream counts(text);
    DWORD received = 0;
    DWORD sent = 0;
    counts >> received >> sent;
    statistics->dwBytesRcved = received;
    statistics->dwBytesXmited = sent;
    return 0;
  }

 private:
  // RAS reports from a thread of its own; so does this.
  void StartReporting() {
    if (reporting_.exchange(true)) return;
    std::thread([this] {
      const UINT registered = ::RegisterWindowMessageA("RasDialEvent");
      size_t posted = 0;
      for (;;) {
        ::Sleep(50);
        std::istringstream lines(ReadFile(L"events.txt"));
        std::string line;
        size_t index = 0;
        while (std::getline(lines, line)) {
          if (line.empty() || index++ < posted) continue;
          std::istringstream fields(line);
          std::string state;
          long error = 0;
          std::string fixed;
          fields >> state >> error >> fixed;
          const UINT message = fixed == "fixed" ? WM_RASDIALEVENT : registered;
          ::PostMessageW(notifier_.load(), message, static_cast<WPARAM>(std::stoul(state, nullptr, 0)),
                         static_cast<LPARAM>(error));
          Record("Posted state=" + state + " error=" + std::to_string(error) + (fixed.empty() ? "" : " fixed"));
          ++posted;
        }
      }
    }).detach();
  }

  std::atomic<bool> live_{false};
  std::atomic<bool> reporting_{false};
  std::atomic<HWND> notifier_{nullptr};
};

// What WinMain receives: the ANSI command line without the program name.
std::string CommandLineArguments() {
  const char* line = ::GetCommandLineA();
  if (*line == '"') {
    ++line;
    while (*line != '\0' && *line != '"') ++line;
    if (*line == '"') ++line;
  } else {
    while (*line != '\0' && *line != ' ' && *line != '\t') ++line;
  }
  while (*line == ' ' || *line == '\t') ++line;
  return line;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
  ::CreateDirectoryW(RasFolder().c_str(), nullptr);
  static RecordingRas ras;
  veltrona::engines::SetEngineRas(&ras);
  veltrona::common::SetLauncher([](const veltrona::common::LaunchRequest& request) {
    Record("Launch program=" + Utf8(request.program) + " parameters=" + Utf8(request.parameters) +
           " verb=" + Utf8(request.verb) + " show=" + std::to_string(request.show) +
           " owner=" + Hex(reinterpret_cast<uintptr_t>(request.owner)));
    return true;
  });
  return veltrona::app::RunClient(instance, CommandLineArguments());
}
