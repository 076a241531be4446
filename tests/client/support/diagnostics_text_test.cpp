#include "client/support/diagnostics_text.h"

#include <gtest/gtest.h>

#include <string>

namespace veltrona::support {
namespace {

DiagnosticsPieces Pieces() {
  DiagnosticsPieces pieces;
  pieces.time = "6:42:07 PM";
  pieces.major_version = 10;
  pieces.minor_version = 0;
  pieces.build_number = 19045;
  pieces.service_pack = "";
  pieces.architecture = 9;
  pieces.ipconfig = StepOutcome::Text("Windows IP Configuration\r\n");
  pieces.route_print = StepOutcome::Text("Active Routes:\r\n");
  pieces.openvpn_log = StepOutcome::Text("Initialization Sequence Completed\r\n");
  pieces.service_log = StepOutcome::Text("Service started\r\n");
  return pieces;
}

TEST(SupportDiagnostics, TheWholeTextInItsOrder) {
  EXPECT_EQ(BuildDiagnosticsText(Pieces()),
            "6:42:07 PM\r\n"
            "Veltrona VPN Free Trial client ver 3.2rc1\r\n"
            "Windows version 10.0 build 19045  x64\r\n\r\n"
            "IPCONFIG:\r\nWindows IP Configuration\r\n"
            "\r\n\r\nROUTE PRINT:\r\nActive Routes:\r\n"
            "\r\nOPENVPN LOG:\r\n\r\nInitialization Sequence Completed\r\n"
            "\r\nSERVICE LOG:\r\n\r\nService started\r\n");
}

TEST(SupportDiagnostics, EveryFailedStepIsAnErrorBlockWithItsCodeInHexadecimal) {
  DiagnosticsPieces pieces = Pieces();
  pieces.service_pack = "Service Pack 1";
  pieces.architecture = 0;
  pieces.ipconfig = StepOutcome::Failure(kDeleteTemporaryFailed, 5, "Access denied.\r\n");
  pieces.route_print = StepOutcome::Failure(kRoutePrintTimedOut, 0x102, "The wait operation timed out.\r\n");
  pieces.openvpn_log = StepOutcome::Failure(kOpenOpenVpnLogFailed, 2, "File not found.\r\n");
  pieces.service_log = StepOutcome::Failure(kOpenServiceLogFailed, 3, "Path not found.\r\n");
  EXPECT_EQ(BuildDiagnosticsText(pieces),
            "6:42:07 PM\r\n"
            "Veltrona VPN Free Trial client ver 3.2rc1\r\n"
            "Windows version 10.0 build 19045 Service Pack 1 x86\r\n\r\n"
            "IPCONFIG:\r\nFailed to delete temporary output file\r\nError code : 0x5\r\nAccess denied.\r\n\r\n"
            "\r\n\r\nROUTE PRINT:\r\nroute print did not finish in time and was ended\r\nError code : 0x102\r\n"
            "The wait operation timed out.\r\n\r\n"
            "\r\nOPENVPN LOG:\r\n\r\nCannot open OpenVPN log\r\nError code : 0x2\r\nFile not found.\r\n\r\n"
            "\r\nSERVICE LOG:\r\n\r\nCannot open service log\r\nError code : 0x3\r\nPath not found.\r\n\r\n");

  // The other messages of the table, each with its code.
  for (const auto message : {kExecuteIpconfigFailed, kExecuteRoutePrintFailed, kOpenTemporaryFailed,
                             kReadIpconfigFailed, kReadRoutePrintFailed, kReadOpenVpnLogFailed,
                             kReadServiceLogFailed, kIpconfigTimedOut}) {
    EXPECT_TRUE(message.ends_with("\r\nError code : ")) << message;
    EXPECT_EQ(ErrorBlock(message, 0x80070057u, ""), std::string(message) + "0x80070057\r\n\r\n");
  }
}

TEST(SupportDiagnostics, ArchitecturesAreNamedAndOthersAreUnknown) {
  EXPECT_EQ(ArchitectureName(0), "x86");
  EXPECT_EQ(ArchitectureName(5), "ARM");
  EXPECT_EQ(ArchitectureName(6), "IA64");
  EXPECT_EQ(ArchitectureName(9), "x64");
  EXPECT_EQ(ArchitectureName(12), "unknown architecture");
  EXPECT_EQ(ArchitectureName(0xFFFF), "unknown architecture");
}

TEST(SupportDiagnostics, FileContentsEndAtTheFirstNulAndSystemTextsAtTheirBound) {
  EXPECT_EQ(FileText(std::string("line 1\r\nline\0 2", 15)), "line 1\r\nline");
  EXPECT_EQ(FileText(std::string("\0rest", 5)), "");
  EXPECT_EQ(FileText("no nul"), "no nul");

  DiagnosticsPieces pieces = Pieces();
  pieces.service_log = StepOutcome::Text(std::string("before\0after", 12));
  EXPECT_TRUE(BuildDiagnosticsText(pieces).ends_with("SERVICE LOG:\r\n\r\nbefore"));

  const std::string long_text(400, 'x');
  EXPECT_EQ(ErrorBlock("m: ", 1, long_text), "m: 0x1\r\n" + std::string(kSystemTextChars, 'x') + "\r\n");
  EXPECT_EQ(CutNotice(1234), "[the first 1234 bytes of this file are left out]\r\n");
}

}  // namespace
}  // namespace veltrona::support
