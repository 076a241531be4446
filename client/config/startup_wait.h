// How long start-up may wait on the configuration host. The update check and
// the first server list download share one budget, so a host that accepts and
// then says nothing costs the user a few seconds before the cached list and
// the message appear, not two full receive timeouts. Requests after start-up
// keep the usual limits.
#pragma once

#include <cstdint>
#include <optional>

namespace veltrona::config {

// Waiting on the network, in total, before the main window is usable. The
// time a message box stays open is not counted.
inline constexpr std::uint32_t kStartupWaitBudgetMs = 6000;
// No one start-up request waits longer than this for a connection or for
// its next bytes; a slow host that keeps sending is not cut off.
inline constexpr std::uint32_t kStartupRequestLimitMs = 4000;
// With less than this left, the request is not made: it counts as failed.
inline constexpr std::uint32_t kStartupRequestMinimumMs = 1000;

class StartupWaitBudget {
 public:
  // The limit for the next request; nullopt once too little is left.
  [[nodiscard]] std::optional<std::uint32_t> NextRequestLimit() const noexcept;
  void Spend(std::uint64_t elapsed_ms) noexcept;

 private:
  std::uint64_t spent_ms_ = 0;
};

}  // namespace veltrona::config
