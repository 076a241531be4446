// An installed service in the test prefix, with what an installation and a
// client leave around it: the service's folder, "Install Path" with the
// OpenVPN stand-in as openvpn.exe, and the client's data folder with a
// configuration.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "base/unique_handle_win.h"

namespace veltrona::test_support {

// A client configuration the service accepts, with the stand-in's
// behaviour lines after it.
std::string ClientConfig(const std::string& standin_lines = "");

class InstalledService {
 public:
  // Installs `program` (the service program unless a test variant is given)
  // and waits until it runs.
  // `before_start` runs once the folders are laid out, before the install;
  // the service's own folder is not there then, the service makes it.
  explicit InstalledService(const std::wstring& program = L"", const std::function<void()>& before_start = {});
  ~InstalledService();
  InstalledService(const InstalledService&) = delete;
  InstalledService& operator=(const InstalledService&) = delete;

  [[nodiscard]] bool running() const { return running_; }

  static std::wstring ServiceFolder();   // C:\ProgramData\Veltrona VPN
  static std::wstring InstallFolder();   // with a trailing backslash
  static std::wstring DataFolder();      // the client's, for this user

  static void WriteClientFile(const std::wstring& name, const std::string& bytes);
  static std::string LogText();          // service.log
  static std::string OpenVpnOutput();    // the client's log.txt
  // Waits until OpenVPN is listening for its management client, after which
  // its exit event exists.
  static bool WaitForOpenVpnReady(DWORD timeout_ms = 20000);

  // Waits until service.log holds `text` (at least `count` times).
  static bool WaitForLog(const std::string& text, DWORD timeout_ms = 20000, size_t count = 1);

  bool Stop();
  DWORD ProcessId() const;

 private:
  bool running_ = false;
};

// Holds the client's single-instance mutex, as a running client does.
class ClientPresence {
 public:
  ClientPresence();
  ~ClientPresence();

 private:
  UniqueMutex mutex_;
};

size_t CountOccurrences(const std::string& text, const std::string& what);

// Processes of this prefix whose program file is `name`.
size_t CountProcesses(const std::wstring& name);
void TerminateProcesses(const std::wstring& name);

}  // namespace veltrona::test_support
