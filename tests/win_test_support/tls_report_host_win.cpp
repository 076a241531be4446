#include "tests/win_test_support/tls_report_host_win.h"

#include <wincrypt.h>

#include "tests/win_test_support/process_win.h"

namespace veltrona::test_support {
namespace {

constexpr wchar_t kMachineKey[] = L"Software\\VeltronaVPN";
constexpr wchar_t kBillingHostValue[] = L"Billing Host";

bool WaitForFile(const std::wstring& path, DWORD timeout_ms) {
  const ULONGLONG deadline = ::GetTickCount64() + timeout_ms;
  while (!FileExists(path)) {
    if (::GetTickCount64() > deadline) return false;
    ::Sleep(50);
  }
  return true;
}

// The Unix name of a path, for handing to a Unix program.
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

HCERTSTORE OpenRoot() {
  return ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
}

}  // namespace

TlsReportHost::TlsReportHost(unsigned short port) {
  const std::string script = UnixPath(BinFolder() + L"peers\\tls_report_host.py");
  const std::string folder = UnixPath(folder_.Path());
  if (script.empty() || folder.empty()) return;
  std::wstring command = L"python3 \"" + std::wstring(script.begin(), script.end()) + L"\" \"" +
                         std::wstring(folder.begin(), folder.end()) + L"\" " + std::to_wstring(port);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(L"Z:\\usr\\bin\\python3", command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
    return;
  }
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  // Making the keys takes a moment.
  listening_ = WaitForFile(folder_.Path() + L"\\ready", 60000);
}

TlsReportHost::~TlsReportHost() {
  folder_.Write(L"stop", "");
  // It looks for the file five times a second; the folder goes after that.
  ::Sleep(500);
}

std::optional<std::string> TlsReportHost::Request(int number) const {
  const std::wstring name = L"request-" + std::to_wstring(number) + L".bin";
  if (!WaitForFile(folder_.Path() + L"\\" + name, 10000)) return std::nullopt;
  return folder_.Read(name);
}

bool TlsReportHost::AnyRequest() const { return FileExists(folder_.Path() + L"\\request-1.bin"); }

TrustedRoot::TrustedRoot(const std::string& der) : der_(der) {
  const HCERTSTORE store = OpenRoot();
  if (store == nullptr) return;
  added_ = ::CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der_.data()),
                                              static_cast<DWORD>(der_.size()), CERT_STORE_ADD_REPLACE_EXISTING,
                                              nullptr);
  ::CertCloseStore(store, 0);
}

TrustedRoot::~TrustedRoot() {
  if (!added_) return;
  const HCERTSTORE store = OpenRoot();
  if (store == nullptr) return;
  PCCERT_CONTEXT wanted = ::CertCreateCertificateContext(
      X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der_.data()), static_cast<DWORD>(der_.size()));
  if (wanted != nullptr) {
    PCCERT_CONTEXT found =
        ::CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, wanted, nullptr);
    if (found != nullptr) ::CertDeleteCertificateFromStore(found);  // frees `found` too
    ::CertFreeCertificateContext(wanted);
  }
  ::CertCloseStore(store, 0);
}

BillingHostOverride::BillingHostOverride(const std::wstring& value) {
  wchar_t earlier[260] = {};
  DWORD size = sizeof earlier;
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, kMachineKey, kBillingHostValue, RRF_RT_REG_SZ, nullptr, earlier, &size) ==
      ERROR_SUCCESS) {
    earlier_ = earlier;
  }
  set_ = ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, kMachineKey, kBillingHostValue, REG_SZ, value.c_str(),
                           static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

BillingHostOverride::~BillingHostOverride() {
  if (earlier_) {
    ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, kMachineKey, kBillingHostValue, REG_SZ, earlier_->c_str(),
                      static_cast<DWORD>((earlier_->size() + 1) * sizeof(wchar_t)));
  } else {
    ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kMachineKey, kBillingHostValue);
  }
}

}  // namespace veltrona::test_support
