#include "tests/win_test_support/tls_report_host_win.h"

#include <wincrypt.h>

#include "base/unique_handle_win.h"
#include "tests/win_test_support/process_win.h"
#include "tests/win_test_support/registry_values_win.h"

namespace veltrona::test_support {
namespace {

constexpr wchar_t kBillingHostValue[] = L"Billing Host";

bool WaitForFile(const std::wstring& path, DWORD timeout_ms) {
  const ULONGLONG deadline = ::GetTickCount64() + timeout_ms;
  while (!FileExists(path)) {
    if (::GetTickCount64() > deadline) return false;
    ::Sleep(50);
  }
  return true;
}

struct CertStoreTraits {
  using Handle = HCERTSTORE;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { ::CertCloseStore(h, 0); }
};
struct CertContextTraits {
  using Handle = PCCERT_CONTEXT;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { ::CertFreeCertificateContext(h); }
};
using UniqueCertStore = UniqueHandle<CertStoreTraits>;
using UniqueCertContext = UniqueHandle<CertContextTraits>;

UniqueCertStore OpenRoot() {
  return UniqueCertStore(::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root"));
}

}  // namespace

TlsReportHost::TlsReportHost(unsigned short port) {
  const std::string script = UnixPath(BinFolder() + L"peers\\tls_report_host.py");
  const std::string folder = UnixPath(folder_.Path());
  if (script.empty() || folder.empty()) return;
  std::wstring command = L"python3 \"" + std::wstring(script.begin(), script.end()) + L"\" \"" +
                         std::wstring(folder.begin(), folder.end()) + L"\" " + std::to_wstring(port);
  // Wine can neither wait for nor end a Unix program: its handle goes at once.
  if (!StartProgram(L"Z:\\usr\\bin\\python3", command)) return;
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
  const UniqueCertStore store = OpenRoot();
  if (!store) return;
  added_ = ::CertAddEncodedCertificateToStore(store.Get(), X509_ASN_ENCODING,
                                              reinterpret_cast<const BYTE*>(der_.data()),
                                              static_cast<DWORD>(der_.size()), CERT_STORE_ADD_REPLACE_EXISTING,
                                              nullptr);
}

TrustedRoot::~TrustedRoot() {
  if (!added_) return;
  const UniqueCertStore store = OpenRoot();
  if (!store) return;
  const UniqueCertContext wanted(::CertCreateCertificateContext(
      X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der_.data()), static_cast<DWORD>(der_.size())));
  if (!wanted) return;
  // Deleting the found certificate frees its context too.
  PCCERT_CONTEXT found =
      ::CertFindCertificateInStore(store.Get(), X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, wanted.Get(), nullptr);
  if (found != nullptr) ::CertDeleteCertificateFromStore(found);
}

BillingHostOverride::BillingHostOverride(const std::wstring& value)
    : earlier_(ReadString(HKEY_LOCAL_MACHINE, kMachineKey, kBillingHostValue)),
      set_(SetString(HKEY_LOCAL_MACHINE, kMachineKey, kBillingHostValue, value)) {}

BillingHostOverride::~BillingHostOverride() {
  if (earlier_) {
    SetString(HKEY_LOCAL_MACHINE, kMachineKey, kBillingHostValue, *earlier_);
  } else {
    DeleteValue(HKEY_LOCAL_MACHINE, kMachineKey, kBillingHostValue);
  }
}

}  // namespace veltrona::test_support
