// The problem report's POST, received by a real TLS server on loopback whose
// certificate comes from a test authority. The authority goes into the
// prefix's trusted roots for the one test that expects the upload to go
// through; a host with an unknown authority must get nothing.
#include "client/config/http_client_win.h"

#include <gtest/gtest.h>
#include <wincrypt.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "client/config/multipart.h"
#include "tests/win_test_support/files_win.h"
#include "tests/win_test_support/process_win.h"

namespace veltrona::config {
namespace {

using test_support::TempFolder;

bool WaitForFile(const std::wstring& path, DWORD timeout_ms) {
  const ULONGLONG deadline = ::GetTickCount64() + timeout_ms;
  while (!test_support::FileExists(path)) {
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

// tests/peers/tls_report_host.py, a Unix program that Wine starts but can
// neither wait for nor end: it is told to stop through a file in its folder.
class TlsReportHost {
 public:
  explicit TlsReportHost(unsigned short port) {
    const std::string script = UnixPath(test_support::BinFolder() + L"peers\\tls_report_host.py");
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
  ~TlsReportHost() {
    folder_.Write(L"stop", "");
    // It looks for the file five times a second; the folder goes after that.
    ::Sleep(500);
  }
  TlsReportHost(const TlsReportHost&) = delete;
  TlsReportHost& operator=(const TlsReportHost&) = delete;

  [[nodiscard]] bool Listening() const { return listening_; }
  std::string Authority() const { return folder_.Read(L"ca.der"); }
  // The first request received, head and body, once it has arrived whole.
  std::optional<std::string> FirstRequest() const {
    if (!WaitForFile(folder_.Path() + L"\\request-1.bin", 10000)) return std::nullopt;
    return folder_.Read(L"request-1.bin");
  }
  bool AnyRequest() const {
    return test_support::FileExists(folder_.Path() + L"\\request-1.bin");
  }
  std::string HandshakeLog() const { return folder_.Read(L"handshakes.log"); }

 private:
  TempFolder folder_{L"veltrona-tls-"};
  bool listening_ = false;
};

// A certificate in the machine's trusted roots for as long as the object
// lives. Each change is written out by closing the store, so that the chain
// engine, which opens the store for itself, sees it.
class TrustedRoot {
 public:
  explicit TrustedRoot(const std::string& der) : der_(der) {
    const HCERTSTORE store = OpenRoot();
    if (store == nullptr) return;
    added_ = ::CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, Bytes(), Size(),
                                                CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    ::CertCloseStore(store, 0);
  }
  ~TrustedRoot() {
    if (!added_) return;
    const HCERTSTORE store = OpenRoot();
    if (store == nullptr) return;
    PCCERT_CONTEXT wanted = ::CertCreateCertificateContext(X509_ASN_ENCODING, Bytes(), Size());
    if (wanted != nullptr) {
      PCCERT_CONTEXT found = ::CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, wanted,
                                                          nullptr);
      if (found != nullptr) ::CertDeleteCertificateFromStore(found);  // frees `found` too
      ::CertFreeCertificateContext(wanted);
    }
    ::CertCloseStore(store, 0);
  }
  TrustedRoot(const TrustedRoot&) = delete;
  TrustedRoot& operator=(const TrustedRoot&) = delete;
  [[nodiscard]] bool Added() const { return added_; }

 private:
  static HCERTSTORE OpenRoot() {
    return ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
  }
  const BYTE* Bytes() const { return reinterpret_cast<const BYTE*>(der_.data()); }
  DWORD Size() const { return static_cast<DWORD>(der_.size()); }

  std::string der_;
  bool added_ = false;
};

// The installer's "Billing Host" value, set for one test and put back after.
class BillingHostOverride {
 public:
  explicit BillingHostOverride(const std::wstring& value) {
    wchar_t earlier[260] = {};
    DWORD size = sizeof earlier;
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, kKey, kValue, RRF_RT_REG_SZ, nullptr, earlier, &size) == ERROR_SUCCESS) {
      earlier_ = earlier;
    }
    set_ = ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, kKey, kValue, REG_SZ, value.c_str(),
                             static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
  }
  ~BillingHostOverride() {
    if (earlier_) {
      ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, kKey, kValue, REG_SZ, earlier_->c_str(),
                        static_cast<DWORD>((earlier_->size() + 1) * sizeof(wchar_t)));
    } else {
      ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kKey, kValue);
    }
  }
  BillingHostOverride(const BillingHostOverride&) = delete;
  BillingHostOverride& operator=(const BillingHostOverride&) = delete;
  [[nodiscard]] bool Set() const { return set_; }

 private:
  static constexpr wchar_t kKey[] = L"Software\\VeltronaVPN";
  static constexpr wchar_t kValue[] = L"Billing Host";
  std::optional<std::wstring> earlier_;
  bool set_ = false;
};

std::string FourFieldReport() {
  std::string body = StartMultipartBody();
  AppendFormField(body, "vpnid", "1001");
  AppendFormField(body, "email", "user@example.net");
  AppendFormField(body, "problem", "Connect stays at \"get config\"\r\nsince Monday");
  AppendFormField(body, "log", "No log attached");
  return FinishMultipartBody(body);
}

TEST(ConfigHttpsPost, ReportArrivesWholeAtTheBillingHostOverTls) {
  TlsReportHost host(18443);
  ASSERT_TRUE(host.Listening());
  const std::string authority = host.Authority();
  ASSERT_FALSE(authority.empty());
  TrustedRoot trusted(authority);
  ASSERT_TRUE(trusted.Added());
  // By name: Wine matches the server name against the certificate's DNS
  // names only, never its IP address entries.
  BillingHostOverride billing(L"localhost:18443");
  ASSERT_TRUE(billing.Set());

  const std::string body = FourFieldReport();
  EXPECT_TRUE(HttpPostMultipart(body)) << host.HandshakeLog();
  const std::optional<std::string> request = host.FirstRequest();
  ASSERT_TRUE(request) << host.HandshakeLog();

  const size_t head_end = request->find("\r\n\r\n");
  ASSERT_NE(head_end, std::string::npos);
  const std::string head = request->substr(0, head_end + 2);
  EXPECT_EQ(head.rfind("POST /toolreport.php HTTP/1.1\r\n", 0), 0u) << head;
  for (const char* line : {"Content-Type: multipart/form-data; boundary=---------------------------7d434218508bc\r\n",
                           "Expect: 100-continue\r\n", "User-Agent: VeltronaVPN\r\n", "Accept: */*\r\n"}) {
    EXPECT_NE(head.find(line), std::string::npos) << line << head;
  }
  EXPECT_NE(head.find("Content-Length: " + std::to_string(body.size()) + "\r\n"), std::string::npos) << head;
  // The body, byte for byte.
  EXPECT_EQ(request->substr(head_end + 4),
            "-----------------------------7d434218508bc\r\n"
            "Content-Disposition: form-data; name=\"vpnid\"\r\n\r\n1001\r\n"
            "-----------------------------7d434218508bc\r\n"
            "Content-Disposition: form-data; name=\"email\"\r\n\r\nuser@example.net\r\n"
            "-----------------------------7d434218508bc\r\n"
            "Content-Disposition: form-data; name=\"problem\"\r\n\r\n"
            "Connect stays at \"get config\"\r\nsince Monday\r\n"
            "-----------------------------7d434218508bc\r\n"
            "Content-Disposition: form-data; name=\"log\"\r\n\r\nNo log attached\r\n"
            "-----------------------------7d434218508bc--\r\n");
}

TEST(ConfigHttpsPost, HostWithAnUnknownAuthorityGetsNothing) {
  TlsReportHost host(18444);
  ASSERT_TRUE(host.Listening());
  EXPECT_FALSE(HttpPostMultipart(HostAddress{u"localhost", 18444}, FourFieldReport()));
  EXPECT_FALSE(host.AnyRequest());
}

TEST(ConfigHttpsPost, NothingListeningGivesFalse) {
  EXPECT_FALSE(HttpPostMultipart(HostAddress{u"127.0.0.1", 18445}, FourFieldReport()));
}

}  // namespace
}  // namespace veltrona::config
