// The report's upload when the billing host cannot be reached. Delivery to
// the TLS report host is shown through the real client window; a second
// test authority in one process is not seen by Wine's chain engine.
#include "client/support/problem_report_win.h"

#include <gtest/gtest.h>

#include "tests/win_test_support/tls_report_host_win.h"

namespace veltrona::support {
namespace {

TEST(SupportReportWin, AnUnreachableBillingHostGivesZero) {
  test_support::BillingHostOverride refused(L"127.0.0.1:1");
  ASSERT_TRUE(refused.Set());
  EXPECT_EQ(SendProblemReport("demo-id", "user@example.net", "It drops", "No log attached"), 0);
}

}  // namespace
}  // namespace veltrona::support
