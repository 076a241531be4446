// What the problem report sends and what the dialog tells the user: the four
// form fields, the body they make, and the texts of the dialog.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace veltrona::support {

inline constexpr std::string_view kNoLogAttached = "No log attached";
// Shorter descriptions are refused before anything is sent.
inline constexpr std::size_t kMinDescriptionChars = 5;

inline constexpr std::u16string_view kDescribeProblemText = u"Please describe your problem";
inline constexpr std::u16string_view kReportDeliveredText = u"Your report has been successfully delivered";
inline constexpr std::u16string_view kReportFailedText =
    u"There were problems while uploading your report\nPlease try again later";
inline constexpr std::u16string_view kShowDiagnosticsLink = u"Click <a>here</a> to see its contents";
inline constexpr std::u16string_view kHideDiagnosticsLink = u"Click <a>here</a> to hide its contents";

// The boxes' buffers, terminator included.
inline constexpr std::size_t kVpnIdChars = 260;
inline constexpr std::size_t kEmailChars = 260;
inline constexpr std::size_t kDescriptionChars = 2048;

struct ProblemReport {
  std::string vpn_id;
  std::string email;
  std::string problem;
  std::string log;
};

// The "log" field: the diagnostics when the user agreed, else "No log attached".
std::string LogFieldValue(bool agreed, std::string_view diagnostics);

// A value as it goes into the body: cut before anything that would end the
// field early (the boundary's delimiter line), so a log that happens to hold
// it cannot forge fields.
std::string_view FramedValue(std::string_view value);

// "--" and the boundary, the fields "vpnid", "email", "problem" and "log" in
// that order, then "--\r\n".
std::string BuildReportBody(const ProblemReport& report);

}  // namespace veltrona::support
