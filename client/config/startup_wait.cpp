#include "client/config/startup_wait.h"

#include <algorithm>

namespace veltrona::config {

std::optional<std::uint32_t> StartupWaitBudget::NextRequestLimit() const noexcept {
  if (spent_ms_ >= kStartupWaitBudgetMs) return std::nullopt;
  const auto left = static_cast<std::uint32_t>(kStartupWaitBudgetMs - spent_ms_);
  if (left < kStartupRequestMinimumMs) return std::nullopt;
  return std::min(left, kStartupRequestLimitMs);
}

void StartupWaitBudget::Spend(std::uint64_t elapsed_ms) noexcept {
  // Both terms are at most the budget, so the sum cannot overflow.
  spent_ms_ = std::min<std::uint64_t>(kStartupWaitBudgetMs,
                                      spent_ms_ + std::min<std::uint64_t>(elapsed_ms, kStartupWaitBudgetMs));
}

}  // namespace veltrona::config
