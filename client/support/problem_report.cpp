#include "client/support/problem_report.h"

#include "client/config/multipart.h"

namespace veltrona::support {

std::string LogFieldValue(bool agreed, std::string_view diagnostics) {
  return std::string(agreed ? diagnostics : kNoLogAttached);
}

std::string_view FramedValue(std::string_view value) {
  std::string delimiter = "\r\n--";
  delimiter.append(config::kMultipartBoundary);
  if (value.starts_with(std::string_view(delimiter).substr(2))) return {};
  return value.substr(0, value.find(delimiter));
}

std::string BuildReportBody(const ProblemReport& report) {
  std::string body = config::StartMultipartBody();
  config::AppendFormField(body, "vpnid", FramedValue(report.vpn_id));
  config::AppendFormField(body, "email", FramedValue(report.email));
  config::AppendFormField(body, "problem", FramedValue(report.problem));
  config::AppendFormField(body, "log", FramedValue(report.log));
  return config::FinishMultipartBody(body);
}

}  // namespace veltrona::support
