// The billing host's HTTPS side for tests: tests/peers/tls_report_host.py on
// a loopback port, its test authority in the prefix's trusted roots, and the
// installer's "Billing Host" value pointing at it.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "tests/win_test_support/files_win.h"

namespace veltrona::test_support {

// tests/peers/tls_report_host.py, a Unix program that Wine starts but can
// neither wait for nor end: it is told to stop through a file in its folder.
class TlsReportHost {
 public:
  explicit TlsReportHost(unsigned short port);
  ~TlsReportHost();
  TlsReportHost(const TlsReportHost&) = delete;
  TlsReportHost& operator=(const TlsReportHost&) = delete;

  [[nodiscard]] bool Listening() const { return listening_; }
  std::string Authority() const { return folder_.Read(L"ca.der"); }
  // The first request received, head and body, once it has arrived whole.
  std::optional<std::string> FirstRequest() const { return Request(1); }
  // The `number`th request (from 1), once it has arrived whole.
  std::optional<std::string> Request(int number) const;
  bool AnyRequest() const;
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
  explicit TrustedRoot(const std::string& der);
  ~TrustedRoot();
  TrustedRoot(const TrustedRoot&) = delete;
  TrustedRoot& operator=(const TrustedRoot&) = delete;
  [[nodiscard]] bool Added() const { return added_; }

 private:
  std::string der_;
  bool added_ = false;
};

// The installer's "Billing Host" value, set for one test and put back after.
class BillingHostOverride {
 public:
  explicit BillingHostOverride(const std::wstring& value);
  ~BillingHostOverride();
  BillingHostOverride(const BillingHostOverride&) = delete;
  BillingHostOverride& operator=(const BillingHostOverride&) = delete;
  [[nodiscard]] bool Set() const { return set_; }

 private:
  std::optional<std::wstring> earlier_;
  bool set_ = false;
};

}  // namespace veltrona::test_support
