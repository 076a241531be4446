// The problem report dialog ("Creating support ticket") and its upload.
#pragma once

#include <windows.h>

#include <string>

namespace veltrona::support {

// Dialog procedure of the problem report; the creation parameter is the VPN
// ID (a NUL-terminated wide text, may be null). Ends with IDOK after a
// delivered report and IDCANCEL on Cancel.
INT_PTR CALLBACK ProblemReportProcedure(HWND dialog, UINT message, WPARAM w_param, LPARAM l_param);

// Posts the four fields to "toolreport.php" on the billing host. 1 when the
// request was sent, 0 otherwise; the answer is not looked at.
[[nodiscard]] int SendProblemReport(const std::string& vpn_id, const std::string& email, const std::string& description,
                                    const std::string& log);

}  // namespace veltrona::support
