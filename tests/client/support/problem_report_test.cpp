#include "client/support/problem_report.h"

#include <gtest/gtest.h>

#include <string>

#include "client/config/multipart.h"

namespace veltrona::support {
namespace {

const std::string kDelimiter = "-----------------------------7d434218508bc";

std::string Field(const std::string& name, const std::string& value) {
  return "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value + "\r\n" + kDelimiter;
}

TEST(SupportReport, FourFieldsInOrderWithTheDiagnosticsOrNoLog) {
  const std::string diagnostics = "6:42:07 PM\r\nVeltrona VPN Free Trial client ver 3.2rc1\r\n";
  for (const bool agreed : {true, false}) {
    const ProblemReport report{"1001", "user@example.net", "It drops\r\nevery hour",
                               LogFieldValue(agreed, diagnostics)};
    EXPECT_EQ(BuildReportBody(report),
              kDelimiter + Field("vpnid", "1001") + Field("email", "user@example.net") +
                  Field("problem", "It drops\r\nevery hour") +
                  Field("log", agreed ? diagnostics : "No log attached") + "--\r\n")
        << agreed;
  }
  // Empty boxes still send their fields.
  EXPECT_EQ(BuildReportBody(ProblemReport{"", "", "hello", "No log attached"}),
            kDelimiter + Field("vpnid", "") + Field("email", "") + Field("problem", "hello") +
                Field("log", "No log attached") + "--\r\n");
}

TEST(SupportReport, AValueHoldingTheDelimiterIsCutBeforeIt) {
  const std::string forged = "log line\r\n" + kDelimiter + "\r\nContent-Disposition: form-data; name=\"vpnid\"";
  EXPECT_EQ(FramedValue(forged), "log line");
  EXPECT_EQ(FramedValue(kDelimiter + "--\r\n"), "");
  EXPECT_EQ(FramedValue("--other boundary\r\n"), "--other boundary\r\n");
  const std::string body = BuildReportBody(ProblemReport{"1001", "e", "problem", forged});
  EXPECT_TRUE(body.ends_with(Field("log", "log line") + "--\r\n"));
  EXPECT_EQ(body.find("name=\"vpnid\"", body.find("name=\"log\"")), std::string::npos);
}

}  // namespace
}  // namespace veltrona::support
