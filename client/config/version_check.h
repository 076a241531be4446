// The client's own version and the start-up check of the version that the
// server list document announces.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace veltrona::config {

inline constexpr std::u16string_view kClientVersion = u"3.2";
inline constexpr int kClientMajor = 3;
inline constexpr int kClientMinor = 2;

inline constexpr std::u16string_view kUpdateCheckFailedMessage =
    u"Unable to check if newer version is available.\nPlease contact support";

// Positive when `version` is newer than the client, 0 when equal, negative
// when older. Major is the value of the leading digits, minor the value of
// the digits after the first "." (0 without one); anything after a second
// "." is ignored. Parts are numbers, so "3.10" is newer than "3.2"; parts
// of more than nine digits count as 999999999 so the arithmetic never
// overflows.
[[nodiscard]] int CompareVersion(std::u16string_view version);

enum class UpdateStatus {
  kDownloadFailed,  // show kUpdateCheckFailedMessage
  kNoAnnouncement,  // not well-formed or no `application`: silently no update
  kUpToDate,        // announced version is not newer
  kNewer,           // announced version is newer
};

struct UpdateCheck {
  UpdateStatus status = UpdateStatus::kDownloadFailed;
  // The announced texts, each cut to 259 units as the client keeps them.
  std::u16string version;
  std::u16string url;

  bool IsNewer() const { return status == UpdateStatus::kNewer; }
};

// Everything of the update check after the download: `bytes_read` is the
// download's result, `body` what it delivered (read as UTF-8).
UpdateCheck EvaluateUpdateResponse(std::uint32_t bytes_read, std::string_view body);

}  // namespace veltrona::config
