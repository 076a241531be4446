#include "client/config/startup_wait.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace veltrona::config {
namespace {

// A host that stalls: each request waits out its whole limit.
TEST(StartupWaitBudget, AStallingHostCostsTheBudgetAndNoMore) {
  StartupWaitBudget budget;
  std::uint64_t waited = 0;
  int requests = 0;
  while (const auto limit = budget.NextRequestLimit()) {
    EXPECT_LE(*limit, kStartupRequestLimitMs);
    EXPECT_GE(*limit, kStartupRequestMinimumMs);
    budget.Spend(*limit);
    waited += *limit;
    ++requests;
  }
  EXPECT_EQ(requests, 2) << "the update check and the server list both get their try";
  EXPECT_EQ(waited, kStartupWaitBudgetMs);
}

TEST(StartupWaitBudget, QuickAnswersLeaveTheFullLimitAndTooLittleLeftMakesNoRequest) {
  StartupWaitBudget budget;
  budget.Spend(40);
  EXPECT_EQ(budget.NextRequestLimit(), kStartupRequestLimitMs);
  budget.Spend(kStartupWaitBudgetMs - 40 - kStartupRequestMinimumMs);
  EXPECT_EQ(budget.NextRequestLimit(), kStartupRequestMinimumMs);
  budget.Spend(1);
  EXPECT_EQ(budget.NextRequestLimit(), std::nullopt);
  // A clock that jumps does not wrap the budget round.
  StartupWaitBudget jumped;
  jumped.Spend(std::numeric_limits<std::uint64_t>::max());
  jumped.Spend(std::numeric_limits<std::uint64_t>::max());
  EXPECT_EQ(jumped.NextRequestLimit(), std::nullopt);
}

}  // namespace
}  // namespace veltrona::config
