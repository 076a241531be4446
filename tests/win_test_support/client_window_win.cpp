#include "tests/win_test_support/client_window_win.h"

#include <algorithm>
#include <utility>

#include "base/unique_handle_win.h"
#include "client/common/window_ids.h"
#include "client/resources/resource.h"
#include "tests/win_test_support/process_win.h"

namespace veltrona::test_support {
namespace {

std::wstring WindowText(HWND window) {
  wchar_t text[1024] = {};
  ::SendMessageTimeoutW(window, WM_GETTEXT, std::size(text), reinterpret_cast<LPARAM>(text), SMTO_BLOCK, 5000,
                        nullptr);
  return text;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[64] = {};
  ::GetClassNameW(window, name, static_cast<int>(std::size(name)));
  return name;
}

BOOL CALLBACK CollectBox(HWND window, LPARAM l_param) {
  auto* boxes = reinterpret_cast<std::vector<SeenMessageBox>*>(l_param);
  if (!::IsWindowVisible(window) || ClassOf(window) != L"#32770") return TRUE;
  // A message box holds its text in the static with id 0xFFFF.
  const HWND text = ::GetDlgItem(window, 0xFFFF);
  if (text == nullptr) return TRUE;
  boxes->push_back(SeenMessageBox{window, ::GetWindow(window, GW_OWNER), WindowText(window), WindowText(text)});
  return TRUE;
}

}  // namespace

bool WaitFor(const std::function<bool()>& done, DWORD timeout_ms) {
  const ULONGLONG deadline = ::GetTickCount64() + timeout_ms;
  for (;;) {
    if (done()) return true;
    if (::GetTickCount64() >= deadline) return false;
    ::Sleep(50);
  }
}

std::vector<SeenMessageBox> MessageBoxes() {
  std::vector<SeenMessageBox> boxes;
  ::EnumWindows(CollectBox, reinterpret_cast<LPARAM>(&boxes));
  return boxes;
}

std::optional<SeenMessageBox> WaitForMessageBox(DWORD timeout_ms) {
  std::optional<SeenMessageBox> found;
  WaitFor(
      [&] {
        const auto boxes = MessageBoxes();
        if (!boxes.empty()) found = boxes.front();
        return found.has_value();
      },
      timeout_ms);
  return found;
}

void Answer(const SeenMessageBox& box, int id) {
  ::PostMessageW(box.window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
  WaitFor([&] { return !::IsWindow(box.window) || !::IsWindowVisible(box.window); }, 10000);
}

ClientProcess::ClientProcess(const std::wstring& arguments) : ClientProcess(arguments, L"VeltronaVpn.exe") {}

ClientProcess::ClientProcess(const std::wstring& arguments, const std::wstring& program_name) {
  if (auto started = StartProgram(nullptr, L"\"" + BinFolder() + program_name + L"\" " + arguments)) {
    process_ = std::move(*started);
  }
}

ClientProcess::~ClientProcess() {
  if (process_ && ::WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT) Kill();
}

bool ClientProcess::Ended(DWORD timeout_ms) const {
  return process_ && ::WaitForSingleObject(process_.Get(), timeout_ms) == WAIT_OBJECT_0;
}

DWORD ClientProcess::ExitCode() const {
  DWORD code = 0xFFFFFFFF;
  ::GetExitCodeProcess(process_.Get(), &code);
  return code;
}

void ClientProcess::Kill() const {
  ::TerminateProcess(process_.Get(), 1);
  ::WaitForSingleObject(process_.Get(), 10000);
}

std::optional<ClientWindow> ClientWindow::Find(DWORD timeout_ms) {
  HWND found = nullptr;
  WaitFor(
      [&] {
        found = ::FindWindowW(L"#32770", kClientCaption);
        return found != nullptr;
      },
      timeout_ms);
  if (found == nullptr) return std::nullopt;
  return ClientWindow(found);
}

std::wstring ClientWindow::Text(int id) const { return WindowText(::GetDlgItem(window_, id)); }

void ClientWindow::SetText(int id, const std::wstring& text) const {
  ::SendMessageTimeoutW(::GetDlgItem(window_, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                        SMTO_BLOCK, 5000, nullptr);
}

std::vector<std::wstring> ClientWindow::Servers() const {
  const HWND box = ::GetDlgItem(window_, IDC_SERVER);
  std::vector<std::wstring> items;
  const LRESULT count = ::SendMessageW(box, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    wchar_t item[300] = {};
    if (::SendMessageW(box, CB_GETLBTEXTLEN, i, 0) >= static_cast<LRESULT>(std::size(item))) continue;
    ::SendMessageW(box, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(item));
    items.emplace_back(item);
  }
  return items;
}

bool ClientWindow::SelectServer(const std::wstring& name) const {
  const auto items = Servers();
  const auto at = std::find(items.begin(), items.end(), name);
  if (at == items.end()) return false;
  const HWND box = ::GetDlgItem(window_, IDC_SERVER);
  ::SendMessageW(box, CB_SETCURSEL, static_cast<WPARAM>(at - items.begin()), 0);
  ::SendMessageW(window_, WM_COMMAND, MAKEWPARAM(IDC_SERVER, CBN_SELCHANGE), reinterpret_cast<LPARAM>(box));
  return true;
}

void ClientWindow::Click(int id) const {
  // A disabled button ignores the click, as it does for the user.
  ::PostMessageW(::GetDlgItem(window_, id), BM_CLICK, 0, 0);
}

bool ClientWindow::IsEnabled(int id) const { return ::IsWindowEnabled(::GetDlgItem(window_, id)) != FALSE; }

bool ClientWindow::IsChecked(int id) const {
  return ::SendMessageW(::GetDlgItem(window_, id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

bool ClientWindow::IsVisible() const { return ::IsWindowVisible(window_) != FALSE; }

bool ClientWindow::WaitForText(int id, const std::wstring& text, DWORD timeout_ms) const {
  return WaitFor([&] { return Text(id) == text; }, timeout_ms);
}

void ClientWindow::TrayMessage(UINT mouse_message) const {
  ::PostMessageW(window_, veltrona::common::kTrayCallbackMessage, veltrona::common::kTrayIconId, mouse_message);
}

void ClientWindow::TrayCommand(int id) const { ::PostMessageW(window_, WM_COMMAND, MAKEWPARAM(id, 0), 0); }

HWND ClientWindow::OpenProblemReport(DWORD timeout_ms) const {
  RECT area{};
  ::GetWindowRect(::GetDlgItem(window_, IDC_REPORT_PROBLEM), &area);
  POINT centre{(area.left + area.right) / 2, (area.top + area.bottom) / 2};
  ::ScreenToClient(window_, &centre);
  ::PostMessageW(window_, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(centre.x, centre.y));
  HWND dialog = nullptr;
  WaitFor(
      [&] {
        dialog = ::FindWindowW(L"#32770", kProblemReportCaption);
        return dialog != nullptr && ::IsWindowVisible(dialog);
      },
      timeout_ms);
  return dialog != nullptr && ::IsWindowVisible(dialog) ? dialog : nullptr;
}

bool ClientWindow::Screenshot(const std::string& unix_png_path) const {
  return test_support::Screenshot(window_, unix_png_path);
}

bool Screenshot(HWND window, const std::string& unix_png_path) {
  RECT area{};
  if (!::GetWindowRect(window, &area)) return false;
  // ImageMagick on the machine's side takes the shot from the screen Wine
  // draws on; Wine runs Unix programs given by their Z: path.
  std::wstring line = L"Z:\\usr\\bin\\import -window root -crop " + std::to_wstring(area.right - area.left) + L"x" +
                      std::to_wstring(area.bottom - area.top) + L"+" + std::to_wstring(area.left) + L"+" +
                      std::to_wstring(area.top) + L" " + std::wstring(unix_png_path.begin(), unix_png_path.end());
  std::wstring dos_path = L"Z:" + std::wstring(unix_png_path.begin(), unix_png_path.end());
  std::replace(dos_path.begin(), dos_path.end(), L'/', L'\\');
  ::DeleteFileW(dos_path.c_str());
  // Wine cannot wait on a Unix program's handle: it goes at once, and the
  // wait is for the whole file.
  if (!StartProgram(nullptr, line)) return false;
  return WaitFor(
      [&] {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        return ::GetFileAttributesExW(dos_path.c_str(), GetFileExInfoStandard, &data) && data.nFileSizeLow > 1000;
      },
      15000);
}

std::string ScreenshotPath(const std::string& name) {
  const std::wstring folder = BinFolder() + L"..\\screenshots";
  ::CreateDirectoryW(folder.c_str(), nullptr);
  // The build tree is on the Unix root, which Wine maps to Z:.
  std::string path;
  for (const wchar_t c : folder.substr(2)) path.push_back(c == L'\\' ? '/' : static_cast<char>(c));
  return path + "/" + name;
}

}  // namespace veltrona::test_support
