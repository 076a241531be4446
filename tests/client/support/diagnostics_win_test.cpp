// The commands and files behind the diagnostics text, on the real system:
// cmd.exe, a command that never ends, a folder in the way, logs with a NUL
// and logs too long to send whole.
#include "client/support/diagnostics_win.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/win_test_support/files_win.h"
#include "tests/win_test_support/process_win.h"
#include "tests/win_test_support/service_fixture_win.h"

namespace veltrona::support {
namespace {

using test_support::TempFolder;

constexpr CommandMessages kIpconfigMessages{kExecuteIpconfigFailed, kReadIpconfigFailed, kIpconfigTimedOut};

TEST(SupportDiagnosticsWin, TheCommandsOutputIsReadBackAndTheTemporaryFileIsGone) {
  TempFolder folder(L"veltrona-diag-");
  const std::wstring output = folder.Path() + L"\\out.tmp";
  // A stale file from an earlier run is replaced.
  folder.Write(L"out.tmp", "stale");
  const StepOutcome outcome = RunCommandOutput(L"echo first line", output, kCommandTimeoutMs, kIpconfigMessages);
  ASSERT_FALSE(outcome.failed) << outcome.message << outcome.code;
  EXPECT_EQ(outcome.text, "first line\r\n");
  EXPECT_FALSE(test_support::FileExists(output));
}

TEST(SupportDiagnosticsWin, ACommandThatNeverEndsIsEndedAtTheBoundWithWhatItStarted) {
  TempFolder folder(L"veltrona-diag-");
  const std::wstring output = folder.Path() + L"\\out.tmp";
  const std::wstring command = L"\"" + test_support::PeerProgram(L"hang") + L"\"";
  const ULONGLONG started = ::GetTickCount64();
  const StepOutcome outcome = RunCommandOutput(command, output, 3000, kIpconfigMessages);
  EXPECT_GE(::GetTickCount64() - started, 3000u);
  ASSERT_TRUE(outcome.failed);
  EXPECT_EQ(outcome.message, kIpconfigTimedOut);
  EXPECT_EQ(outcome.code, static_cast<std::uint32_t>(WAIT_TIMEOUT));
  EXPECT_EQ(outcome.system_text, SystemTextAnsi(WAIT_TIMEOUT));
  EXPECT_EQ(test_support::CountProcesses(L"hang.exe"), 0u);
  EXPECT_FALSE(test_support::FileExists(output));
}

TEST(SupportDiagnosticsWin, WhatCannotBeDeletedOrMadeGivesItsBlockAndIsLeftAlone) {
  TempFolder folder(L"veltrona-diag-");
  // A folder planted under the file's name cannot be deleted as a file.
  const std::wstring planted = folder.Make(L"out.tmp");
  folder.Write(L"out.tmp\\keep.txt", "keep");
  StepOutcome outcome = RunCommandOutput(L"echo x", planted, kCommandTimeoutMs, kIpconfigMessages);
  ASSERT_TRUE(outcome.failed);
  EXPECT_EQ(outcome.message, kDeleteTemporaryFailed);
  EXPECT_EQ(outcome.code, static_cast<std::uint32_t>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(folder.Read(L"out.tmp\\keep.txt"), "keep");

  // A folder that does not exist: nothing to delete, nowhere to write.
  outcome = RunCommandOutput(L"echo x", folder.Path() + L"\\missing\\out.tmp", kCommandTimeoutMs, kIpconfigMessages);
  ASSERT_TRUE(outcome.failed);
  EXPECT_TRUE(outcome.message == kDeleteTemporaryFailed || outcome.message == kOpenTemporaryFailed)
      << outcome.message;
  EXPECT_EQ(outcome.code, static_cast<std::uint32_t>(ERROR_PATH_NOT_FOUND));
}

TEST(SupportDiagnosticsWin, LogsEndAtANulAndAGiantLogGoesInAsItsLastPart) {
  TempFolder folder(L"veltrona-diag-");
  folder.Write(L"log.txt", std::string("first\r\nsecond\0hidden", 21));
  StepOutcome outcome = ReadLogFile(folder.Path() + L"\\log.txt", kOpenOpenVpnLogFailed, kReadOpenVpnLogFailed);
  ASSERT_FALSE(outcome.failed);
  EXPECT_EQ(outcome.text, "first\r\nsecond");

  std::string giant(kMaxLogBytes + 100, 'a');
  giant.replace(giant.size() - 4, 4, "tail");
  folder.Write(L"giant.log", giant);
  outcome = ReadLogFile(folder.Path() + L"\\giant.log", kOpenServiceLogFailed, kReadServiceLogFailed);
  ASSERT_FALSE(outcome.failed);
  EXPECT_EQ(outcome.text.size(), CutNotice(100).size() + kMaxLogBytes);
  EXPECT_TRUE(outcome.text.starts_with(CutNotice(100)));
  EXPECT_TRUE(outcome.text.ends_with("aaaatail"));

  outcome = ReadLogFile(folder.Path() + L"\\none.log", kOpenServiceLogFailed, kReadServiceLogFailed);
  ASSERT_TRUE(outcome.failed);
  EXPECT_EQ(outcome.message, kOpenServiceLogFailed);
  EXPECT_EQ(outcome.code, static_cast<std::uint32_t>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(outcome.system_text, SystemTextAnsi(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(outcome.system_text.empty());
}

}  // namespace
}  // namespace veltrona::support
