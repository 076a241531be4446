// The problem report's POST, received by a real TLS server on loopback whose
// certificate comes from a test authority. The authority goes into the
// prefix's trusted roots for the one test that expects the upload to go
// through; a host with an unknown authority must get nothing.
#include "client/config/http_client_win.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "client/config/multipart.h"
#include "tests/win_test_support/tls_report_host_win.h"

namespace veltrona::config {
namespace {

using test_support::BillingHostOverride;
using test_support::TlsReportHost;
using test_support::TrustedRoot;

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
