// The Windows Installer package as a user or an administrator meets it, in a
// fresh Wine prefix that tests/release/installer_tests.sh makes: refused
// without the TAP-Windows driver, installed silently, the installed client
// connected through the installed service and the OpenVPN that came with it,
// upgraded while it runs, removed while it runs, and removed a second time.
// The cases build on each other and run in the order they are written.
//
// VELTRONA_MSI and VELTRONA_NEXT_MSI name the package and a newer build of
// it (the same programs with a higher version).
#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <msi.h>
#include <msiquery.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "base/unique_handle_win.h"
#include "client/resources/resource.h"
#include "tests/test_text.h"
#include "tests/win_test_support/client_window_win.h"
#include "tests/win_test_support/config_host_win.h"
#include "tests/win_test_support/files_win.h"
#include "tests/win_test_support/process_win.h"
#include "tests/win_test_support/registry_values_win.h"
#include "tests/win_test_support/scm_win.h"
#include "tests/win_test_support/service_fixture_win.h"

namespace veltrona {
namespace {

using test_support::Ascii;
using test_support::ClientWindow;
using test_support::KeyExists;
using test_support::KnownFolderPath;
using test_support::ReadDword;
using test_support::ReadString;
using test_support::WaitFor;
using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;

constexpr wchar_t kMachineKey[] = L"Software\\VeltronaVPN";
constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kUninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr wchar_t kTapKey[] = L"SYSTEM\\CurrentControlSet\\Services\\tap0901";
constexpr unsigned short kConfigPort = 18983;
constexpr DWORD kUnknownProduct = 1605;  // ERROR_UNKNOWN_PRODUCT
constexpr DWORD kInstallFailure = 1603;  // ERROR_INSTALL_FAILURE

std::wstring Environment(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? L"" : std::wstring(value, value + std::char_traits<char>::length(value));
}

std::wstring InstallFolder() { return KnownFolderPath(CSIDL_PROGRAM_FILES) + L"\\Veltrona VPN\\"; }
std::wstring ServiceFolder() { return KnownFolderPath(CSIDL_COMMON_APPDATA) + L"\\Veltrona VPN"; }
std::wstring UserDataFolder() { return KnownFolderPath(CSIDL_LOCAL_APPDATA) + L"\\Veltrona VPN"; }

bool IsWine() { return ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr; }

// Windows puts a per-machine package's shortcut in the common Start menu;
// Wine's installer always uses the user's (it does not look at ALLUSERS).
std::wstring ShortcutPath() {
  return KnownFolderPath(IsWine() ? CSIDL_PROGRAMS : CSIDL_COMMON_PROGRAMS) + L"\\Veltrona VPN.lnk";
}

// Each run keeps its verbose log in C:\ (msiexec-1.log, ...) for a look
// after a failure.
DWORD Msiexec(const std::wstring& arguments) {
  static int run = 0;
  const std::wstring msiexec = KnownFolderPath(CSIDL_SYSTEM) + L"\\msiexec.exe";
  const std::wstring log = L" /l*v C:\\msiexec-" + std::to_wstring(++run) + L".log";
  return test_support::RunProgram(msiexec, arguments + log, 300000).exit_code;
}

enum class Listed { kSubKeys, kValues };

// The names of a key's sub-keys or values; none when the key is missing.
std::vector<std::wstring> RegistryNames(HKEY root, const std::wstring& key, Listed what) {
  std::vector<std::wstring> names;
  UniqueRegKey opened;
  if (::RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, opened.Put()) != ERROR_SUCCESS) return names;
  wchar_t name[256];
  for (DWORD i = 0;; ++i) {
    DWORD length = 256;
    const LSTATUS read = what == Listed::kSubKeys
                             ? ::RegEnumKeyExW(opened.Get(), i, name, &length, nullptr, nullptr, nullptr, nullptr)
                             : ::RegEnumValueW(opened.Get(), i, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (read != ERROR_SUCCESS) break;
    names.emplace_back(name, length);
  }
  return names;
}

std::vector<std::wstring> FolderEntries(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found{};
  UniqueFindHandle search(::FindFirstFileW((folder + L"\\*").c_str(), &found));
  if (!search) return names;
  do {
    const std::wstring name = found.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (::FindNextFileW(search.Get(), &found));
  return names;
}

bool MentionsVeltrona(const std::wstring& text) {
  std::wstring lower = text;
  for (wchar_t& c : lower) c = static_cast<wchar_t>(::towlower(c));
  return lower.find(L"veltrona") != std::wstring::npos;
}

// The installed-programs entries named "Veltrona VPN": their keys under
// the Uninstall key.
std::vector<std::wstring> ProgramEntries() {
  std::vector<std::wstring> entries;
  for (const std::wstring& code : RegistryNames(HKEY_LOCAL_MACHINE, kUninstallKey, Listed::kSubKeys)) {
    const std::wstring key = std::wstring(kUninstallKey) + L"\\" + code;
    if (ReadString(HKEY_LOCAL_MACHINE, key, L"DisplayName") == L"Veltrona VPN") entries.push_back(key);
  }
  return entries;
}

// Everything of Veltrona in the places an installation or the programs
// write to: folders, the Start menus, the machine's and the user's
// software keys, the log-on entries, the services and installed programs.
std::vector<std::wstring> Traces() {
  std::vector<std::wstring> found;
  const std::pair<int, const wchar_t*> folders[] = {
      {CSIDL_PROGRAM_FILES, L"Program Files"}, {CSIDL_COMMON_APPDATA, L"ProgramData"},
      {CSIDL_LOCAL_APPDATA, L"LocalAppData"},  {CSIDL_APPDATA, L"AppData"},
      {CSIDL_COMMON_PROGRAMS, L"Common Start menu"}, {CSIDL_PROGRAMS, L"Start menu"},
      {CSIDL_COMMON_STARTUP, L"Common Startup"}, {CSIDL_STARTUP, L"Startup"},
      {CSIDL_COMMON_DESKTOPDIRECTORY, L"Common Desktop"}, {CSIDL_DESKTOPDIRECTORY, L"Desktop"}};
  for (const auto& [csidl, label] : folders) {
    // Wine reports a known folder that is missing as a failure: it holds
    // nothing (an empty path would list the drive's root instead).
    const std::wstring folder = KnownFolderPath(csidl);
    if (folder.empty()) continue;
    for (const std::wstring& name : FolderEntries(folder)) {
      if (MentionsVeltrona(name)) found.push_back(std::wstring(label) + L"\\" + name);
    }
  }
  for (const auto& [root, label] : {std::pair{HKEY_LOCAL_MACHINE, L"HKLM"}, std::pair{HKEY_CURRENT_USER, L"HKCU"}}) {
    for (const std::wstring& name : RegistryNames(root, L"Software", Listed::kSubKeys)) {
      if (MentionsVeltrona(name)) found.push_back(std::wstring(label) + L"\\Software\\" + name);
    }
    for (const std::wstring& name : RegistryNames(root, kRunKey, Listed::kValues)) {
      if (MentionsVeltrona(name)) found.push_back(std::wstring(label) + L"\\Run\\" + name);
    }
  }
  for (const std::wstring& name :
       RegistryNames(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services", Listed::kSubKeys)) {
    if (MentionsVeltrona(name)) found.push_back(L"Service " + name);
  }
  for (const std::wstring& entry : ProgramEntries()) found.push_back(L"Installed programs " + entry);
  return found;
}

std::wstring VersionString(const std::wstring& file, const wchar_t* name) {
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(file.c_str(), &ignored);
  if (size == 0) return L"";
  std::vector<BYTE> block(size);
  if (!::GetFileVersionInfoW(file.c_str(), 0, size, block.data())) return L"";
  wchar_t* value = nullptr;
  UINT length = 0;
  const std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
  if (!::VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &length) || length == 0) {
    return L"";
  }
  return std::wstring(value, wcsnlen(value, length));
}

std::wstring ShortcutTarget(const std::wstring& link) {
  std::wstring target;
  IShellLinkW* shell_link = nullptr;
  if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&shell_link)))) {
    return target;
  }
  IPersistFile* file = nullptr;
  if (SUCCEEDED(shell_link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
    wchar_t path[MAX_PATH] = {};
    if (SUCCEEDED(file->Load(link.c_str(), STGM_READ)) && SUCCEEDED(shell_link->GetPath(path, MAX_PATH, nullptr, 0))) {
      target = path;
    }
    file->Release();
  }
  shell_link->Release();
  return target;
}

// The first field of the first row the query gives, read from the package.
std::wstring PackageQuery(const std::wstring& package, const std::wstring& query) {
  PMSIHANDLE database;
  if (::MsiOpenDatabaseW(package.c_str(), MSIDBOPEN_READONLY, &database) != ERROR_SUCCESS) return L"";
  PMSIHANDLE view;
  if (::MsiDatabaseOpenViewW(database, query.c_str(), &view) != ERROR_SUCCESS) return L"";
  PMSIHANDLE record;
  if (::MsiViewExecute(view, 0) != ERROR_SUCCESS || ::MsiViewFetch(view, &record) != ERROR_SUCCESS) return L"";
  wchar_t value[256] = {};
  DWORD length = 256;
  if (::MsiRecordGetStringW(record, 1, value, &length) != ERROR_SUCCESS) return L"";
  return std::wstring(value, length);
}

// A program started with a whole command line, as the log-on entry or a
// shortcut starts it; ended when the object goes if it still runs.
class Started {
 public:
  explicit Started(std::wstring command_line) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (::CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
      process_.Reset(info.hProcess);
      const UniqueProcess thread(info.hThread);
    }
  }
  ~Started() {
    if (process_ && ::WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT) ::TerminateProcess(process_.Get(), 1);
  }
  Started(const Started&) = delete;
  Started& operator=(const Started&) = delete;

  explicit operator bool() const { return static_cast<bool>(process_); }
  bool Ended(DWORD timeout_ms) const { return ::WaitForSingleObject(process_.Get(), timeout_ms) == WAIT_OBJECT_0; }
  DWORD ExitCode() const {
    DWORD code = 0xFFFFFFFF;
    ::GetExitCodeProcess(process_.Get(), &code);
    return code;
  }

 private:
  UniqueProcess process_;
};

class Installer : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const std::wstring content = test_support::BinFolder() + L"..\\..\\..\\data\\config-host";
    host_ = new test_support::ConfigHost(kConfigPort, content);
  }
  static void TearDownTestSuite() {
    delete host_;
    host_ = nullptr;
  }
  void SetUp() override {
    ASSERT_FALSE(package_.empty()) << "VELTRONA_MSI is not set";
    ASSERT_TRUE(test_support::FileExists(package_)) << Ascii(package_);
  }

  static void WriteTapDriverKey() {
    UniqueRegKey key;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kTapKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.Put(), nullptr),
              ERROR_SUCCESS);
    const DWORD kernel_driver = SERVICE_KERNEL_DRIVER;
    const DWORD demand = SERVICE_DEMAND_START;
    ::RegSetValueExW(key.Get(), L"Type", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&kernel_driver), sizeof(DWORD));
    ::RegSetValueExW(key.Get(), L"Start", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&demand), sizeof(DWORD));
  }

  // The installed client, started as the Start-menu shortcut starts it,
  // connected through the installed service.
  static void Connect(const ClientWindow& window) {
    // The window's start-up fills the server box and then the cached
    // credentials: the fields are typed into once it has.
    ASSERT_TRUE(WaitFor([&] { return window.SelectServer(L"vpn-demo.example"); }, 15000));
    ASSERT_TRUE(WaitFor(
        [&] {
          window.SetText(IDC_VPN_ID, L"demo-id");
          window.SetText(IDC_ACTIVATION_CODE, L"demo-code");
          ::Sleep(200);
          return window.Text(IDC_VPN_ID) == L"demo-id" && window.Text(IDC_ACTIVATION_CODE) == L"demo-code";
        },
        10000));
    window.Click(IDC_CONNECT);
    ASSERT_TRUE(window.WaitForText(IDC_STATUS, L"connected")) << "status: " << Ascii(window.Text(IDC_STATUS))
                                                              << Diagnostics();
  }
  // What the client and the service said, for a connection that failed.
  static std::string Diagnostics() {
    std::string text = "\nservice.log:\n" + test_support::ReadWholeFile(ServiceFolder() + L"\\service.log");
    text += "\nlog.txt:\n" + test_support::ReadWholeFile(UserDataFolder() + L"\\log.txt");
    for (const auto& box : test_support::MessageBoxes()) {
      text += "\nmessage box: " + Ascii(box.caption) + ": " + Ascii(box.text);
    }
    return text;
  }

  static void PointClientAtConfigHost() {
    UniqueRegKey key;
    ASSERT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kMachineKey, 0, KEY_SET_VALUE, key.Put()), ERROR_SUCCESS);
    const std::wstring host = L"127.0.0.1:" + std::to_wstring(kConfigPort);
    ::RegSetValueExW(key.Get(), L"Config Host", 0, REG_SZ, reinterpret_cast<const BYTE*>(host.c_str()),
                     static_cast<DWORD>((host.size() + 1) * sizeof(wchar_t)));
  }
  // The configuration host's address is the test's own value, not the
  // installer's: it goes before the uninstall, which must leave nothing.
  static void ForgetConfigHost() { ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kMachineKey, L"Config Host"); }

  static inline const std::wstring package_ = Environment("VELTRONA_MSI");
  static inline const std::wstring next_package_ = Environment("VELTRONA_NEXT_MSI");
  static test_support::ConfigHost* host_;
  // The shell link reader is a COM object.
  const ScopedComInitialize com_{COINIT_APARTMENTTHREADED};
};

test_support::ConfigHost* Installer::host_ = nullptr;

TEST_F(Installer, WithoutTheTapDriverRefusesToInstallAndSaysWhatIsMissing) {
  ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kTapKey);
  EXPECT_EQ(Msiexec(L"/i \"" + package_ + L"\" /qn"), kInstallFailure);
  EXPECT_THAT(Traces(), ::testing::IsEmpty());

  // With its basic user interface the installer tells why.
  Started installer(L"msiexec.exe /i \"" + package_ + L"\" /qb");
  ASSERT_TRUE(installer);
  const auto box = test_support::WaitForMessageBox(60000);
  ASSERT_TRUE(box.has_value()) << "no message";
  EXPECT_EQ(box->text,
            L"Veltrona VPN needs the TAP-Windows adapter driver (tap0901), which is not installed. Install OpenVPN "
            L"for Windows with its TAP-Windows driver first, then run this installer again.");
  test_support::Answer(*box);
  EXPECT_TRUE(installer.Ended(60000));
  EXPECT_EQ(installer.ExitCode(), kInstallFailure);
  EXPECT_THAT(Traces(), ::testing::IsEmpty());
}

TEST_F(Installer, AServiceOfTheSameNameThatIsNotOursStopsTheInstallAndIsLeftAlone) {
  WriteTapDriverKey();
  const std::wstring foreign = L"C:\\Tools\\VeltronaVPNsrv.exe";
  {
    UniqueServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    UniqueServiceHandle service(::CreateServiceW(manager.Get(), test_support::kServiceName, L"VeltronaVPN Service",
                                                 SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                                 SERVICE_ERROR_NORMAL, foreign.c_str(), nullptr, nullptr, nullptr,
                                                 nullptr, nullptr));
    ASSERT_TRUE(service);
  }
  EXPECT_EQ(Msiexec(L"/i \"" + package_ + L"\" /qn"), kInstallFailure);
  const auto config = test_support::QueryServiceConfiguration(test_support::kServiceName);
  ASSERT_TRUE(config.has_value());
  EXPECT_EQ(config->binary_path, foreign);
  EXPECT_THAT(Traces(), ElementsAre(L"Service VeltronaVPNService"));

  Started installer(L"msiexec.exe /i \"" + package_ + L"\" /qb");
  const auto box = test_support::WaitForMessageBox(60000);
  ASSERT_TRUE(box.has_value()) << "no message";
  EXPECT_EQ(box->text, L"A VeltronaVPN Service that this installer did not install is registered (" + foreign +
                           L"). Remove it with that program's -remove switch, then run this installer again.");
  test_support::Answer(*box);
  EXPECT_TRUE(installer.Ended(60000));
  test_support::RemoveServiceIfPresent(test_support::kServiceName);
}

TEST_F(Installer, SilentInstallPutsProgramsSettingsServiceLogOnEntryShortcutAndProgramEntryInPlace) {
  WriteTapDriverKey();
  ASSERT_EQ(Msiexec(L"/i \"" + package_ + L"\" /qn"), 0u);

  // The files, OpenVPN from the folder the build was given among them.
  const std::wstring folder = InstallFolder();
  EXPECT_THAT(FolderEntries(folder.substr(0, folder.size() - 1)),
              UnorderedElementsAre(L"VeltronaVpn.exe", L"VeltronaVPNsrv.exe", L"SurfingPrefs.xml", L"openvpn.exe"));
  EXPECT_EQ(test_support::ReadWholeFile(folder + L"SurfingPrefs.xml"),
            test_support::ReadWholeFile(test_support::BinFolder() + L"SurfingPrefs.xml"));
  EXPECT_EQ(test_support::ReadWholeFile(folder + L"openvpn.exe"),
            test_support::ReadWholeFile(test_support::PeerProgram(L"openvpn_standin")));
  // What Explorer's Details page shows.
  for (const auto& [program, description] : {std::pair{L"VeltronaVpn.exe", L"Veltrona VPN"},
                                             std::pair{L"VeltronaVPNsrv.exe", L"Veltrona VPN connection service"}}) {
    SCOPED_TRACE(Ascii(program));
    EXPECT_EQ(VersionString(folder + program, L"FileVersion"), L"3.2");
    EXPECT_EQ(VersionString(folder + program, L"ProductVersion"), L"3.2");
    EXPECT_EQ(VersionString(folder + program, L"ProductName"), L"Veltrona VPN");
    EXPECT_EQ(VersionString(folder + program, L"CompanyName"), L"Veltrona");
    EXPECT_EQ(VersionString(folder + program, L"FileDescription"), description);
    EXPECT_EQ(VersionString(folder + program, L"OriginalFilename"), program);
  }

  // The machine-wide values the programs read.
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kMachineKey, L"Install Path"), folder);
  EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, kMachineKey, L"Hide at startup"), 1u);
  EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, kMachineKey, L"Warning Flag"), 1u);
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kRunKey, L"Veltrona VPN"),
            L"\"" + folder + L"VeltronaVpn.exe\" /systemstartup");

  // The service as its own "-install" makes it, running.
  const auto config = test_support::QueryServiceConfiguration(test_support::kServiceName);
  ASSERT_TRUE(config.has_value());
  EXPECT_EQ(config->display_name, L"VeltronaVPN Service");
  EXPECT_EQ(config->type, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
  EXPECT_EQ(config->start_type, static_cast<DWORD>(SERVICE_AUTO_START));
  EXPECT_EQ(config->error_control, static_cast<DWORD>(SERVICE_ERROR_NORMAL));
  EXPECT_EQ(config->binary_path, L"\"" + folder + L"VeltronaVPNsrv.exe\"");
  EXPECT_THAT(config->dependencies, ElementsAre(L"tap0901", L"Dhcp"));
  EXPECT_EQ(config->account, L"LocalSystem");
  EXPECT_TRUE(test_support::WaitForServiceState(test_support::kServiceName, SERVICE_RUNNING));
  EXPECT_TRUE(WaitFor([] { return test_support::ReadWholeFile(ServiceFolder() + L"\\service.log").find(
                                      "Service is waiting for events") != std::string::npos; }, 20000));
  // It started after the values it reads were written.
  EXPECT_EQ(test_support::ReadWholeFile(ServiceFolder() + L"\\service.log").find("failed"), std::string::npos)
      << test_support::ReadWholeFile(ServiceFolder() + L"\\service.log");

  EXPECT_TRUE(test_support::FileExists(ShortcutPath())) << Ascii(ShortcutPath());
  EXPECT_TRUE(_wcsicmp(ShortcutTarget(ShortcutPath()).c_str(), (folder + L"VeltronaVpn.exe").c_str()) == 0)
      << Ascii(ShortcutTarget(ShortcutPath()));

  const auto entries = ProgramEntries();
  ASSERT_EQ(entries.size(), 1u);
  const std::wstring& entry = entries.front();
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, entry, L"Publisher"), L"Veltrona");
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, entry, L"DisplayVersion"), L"3.2.0");
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, entry, L"InstallLocation"), folder);
  const std::wstring code = entry.substr(entry.find_last_of(L'\\') + 1);
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, entry, L"UninstallString"), L"MsiExec.exe /X" + code);
  // Windows writes the entry's icon from the package's ARPPRODUCTICON and
  // its size from the package's costs; Wine writes neither (no DisplayIcon,
  // an EstimatedSize of 0), so under Wine the package itself is looked at.
  const auto size = ReadDword(HKEY_LOCAL_MACHINE, entry, L"EstimatedSize");
  ASSERT_TRUE(size.has_value());
  if (IsWine()) {
    const std::wstring icon = PackageQuery(package_, L"SELECT `Value` FROM `Property` WHERE `Property`='ARPPRODUCTICON'");
    EXPECT_EQ(icon, L"VeltronaVpn.ico");
    EXPECT_EQ(PackageQuery(package_, L"SELECT `Name` FROM `Icon` WHERE `Name`='" + icon + L"'"), icon);
  } else {
    EXPECT_FALSE(ReadString(HKEY_LOCAL_MACHINE, entry, L"DisplayIcon").value_or(L"").empty());
    EXPECT_GT(*size, 0u);
  }
}

TEST_F(Installer, TheLogOnEntryStartsTheInstalledClientInTheTray) {
  const auto command = ReadString(HKEY_LOCAL_MACHINE, kRunKey, L"Veltrona VPN");
  ASSERT_TRUE(command.has_value());
  PointClientAtConfigHost();
  Started client(*command);
  ASSERT_TRUE(client);
  const auto window = ClientWindow::Find();
  ASSERT_TRUE(window.has_value());
  ::Sleep(1000);
  EXPECT_FALSE(window->IsVisible()) << "\"Hide at startup\" = 1 keeps the window hidden at log-on";
  window->TrayCommand(IDM_EXIT);
  EXPECT_TRUE(client.Ended(20000));
}

TEST_F(Installer, TheInstalledClientConnectsThroughTheInstalledServiceAndOpenVpn) {
  PointClientAtConfigHost();
  Started client(L"\"" + InstallFolder() + L"VeltronaVpn.exe\"");
  const auto window = ClientWindow::Find();
  ASSERT_TRUE(window.has_value());
  Connect(*window);
  EXPECT_EQ(test_support::CountProcesses(L"openvpn.exe"), 1u);
  const std::string log = test_support::ReadWholeFile(UserDataFolder() + L"\\log.txt");
  EXPECT_NE(log.find("TCP Socket listening"), std::string::npos) << log;
  window->TrayMessage(WM_LBUTTONDBLCLK);
  window->Click(IDC_CONNECT);
  EXPECT_TRUE(window->WaitForText(IDC_STATUS, L"disconnected"));
  EXPECT_TRUE(WaitFor([] { return test_support::CountProcesses(L"openvpn.exe") == 0; }, 20000));
  window->TrayCommand(IDM_EXIT);
  EXPECT_TRUE(client.Ended(20000));
}

TEST_F(Installer, ANewerBuildReplacesARunningInstallation) {
  ASSERT_FALSE(next_package_.empty()) << "VELTRONA_NEXT_MSI is not set";
  PointClientAtConfigHost();
  Started client(L"\"" + InstallFolder() + L"VeltronaVpn.exe\"");
  const auto window = ClientWindow::Find();
  ASSERT_TRUE(window.has_value());
  Connect(*window);
  const DWORD old_service = test_support::QueryServiceProcessId(test_support::kServiceName);
  ASSERT_NE(old_service, 0u);
  const auto old_entries = ProgramEntries();
  ASSERT_EQ(old_entries.size(), 1u);

  ASSERT_EQ(Msiexec(L"/i \"" + next_package_ + L"\" /qn"), 0u);

  // The client left as through its Exit command, which takes the tunnel
  // down; the service was stopped, replaced and started again.
  ASSERT_TRUE(client.Ended(1000));
  EXPECT_EQ(client.ExitCode(), 0u);
  EXPECT_EQ(test_support::CountProcesses(L"openvpn.exe"), 0u);
  EXPECT_TRUE(test_support::WaitForServiceState(test_support::kServiceName, SERVICE_RUNNING));
  EXPECT_NE(test_support::QueryServiceProcessId(test_support::kServiceName), old_service);
  const auto entries = ProgramEntries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_NE(entries.front(), old_entries.front());
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, entries.front(), L"DisplayVersion"), L"3.2.1");
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kMachineKey, L"Install Path"), InstallFolder());
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kRunKey, L"Veltrona VPN"),
            L"\"" + InstallFolder() + L"VeltronaVpn.exe\" /systemstartup");
  EXPECT_TRUE(test_support::FileExists(ShortcutPath()));

  // And the new installation works.
  PointClientAtConfigHost();
  Started again(L"\"" + InstallFolder() + L"VeltronaVpn.exe\"");
  const auto new_window = ClientWindow::Find();
  ASSERT_TRUE(new_window.has_value());
  Connect(*new_window);
  new_window->TrayCommand(IDM_EXIT);
  EXPECT_TRUE(again.Ended(20000));
}

TEST_F(Installer, UninstallWhileClientAndServiceRunLeavesOnlyTheUsersOwnData) {
  ASSERT_FALSE(next_package_.empty()) << "VELTRONA_NEXT_MSI is not set";
  ASSERT_TRUE(WaitFor([] { return test_support::CountProcesses(L"VeltronaVpn.exe") == 0; }, 20000));
  PointClientAtConfigHost();
  Started client(L"\"" + InstallFolder() + L"VeltronaVpn.exe\"");
  const auto window = ClientWindow::Find();
  ASSERT_TRUE(window.has_value());
  Connect(*window);
  ASSERT_EQ(test_support::CountProcesses(L"VeltronaVpn.exe"), 1u);
  ASSERT_EQ(test_support::QueryServiceState(test_support::kServiceName), static_cast<DWORD>(SERVICE_RUNNING));
  ForgetConfigHost();

  ASSERT_EQ(Msiexec(L"/x \"" + next_package_ + L"\" /qn"), 0u);

  // The client ended as through its Exit command.
  ASSERT_TRUE(client.Ended(1000));
  EXPECT_EQ(client.ExitCode(), 0u);
  EXPECT_EQ(test_support::CountProcesses(L"openvpn.exe"), 0u);
  EXPECT_TRUE(WaitFor([] { return test_support::CountProcesses(L"VeltronaVPNsrv.exe") == 0; }, 20000));
  EXPECT_EQ(test_support::QueryServiceState(test_support::kServiceName), 0u);
  // What is left is the user's own: the settings and cached credentials
  // under HKEY_CURRENT_USER, and the data folder with the configuration.
  EXPECT_THAT(Traces(), UnorderedElementsAre(L"HKCU\\Software\\VeltronaVPN", L"LocalAppData\\Veltrona VPN"));
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, L"Software\\VeltronaVPN\\CredCache"));
  EXPECT_TRUE(test_support::FileExists(UserDataFolder() + L"\\Veltrona.ovpn"));
}

TEST_F(Installer, ASecondUninstallChangesNothing) {
  ASSERT_FALSE(next_package_.empty()) << "VELTRONA_NEXT_MSI is not set";
  const auto before = Traces();
  // Windows refuses at once: the product is not installed. Wine's installer
  // runs the package's removal again, which finds nothing to remove.
  EXPECT_EQ(Msiexec(L"/x \"" + next_package_ + L"\" /qn"), IsWine() ? 0u : kUnknownProduct);
  EXPECT_EQ(Traces(), before);
  EXPECT_EQ(test_support::QueryServiceState(test_support::kServiceName), 0u);
}

}  // namespace
}  // namespace veltrona
