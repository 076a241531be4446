#include "service/service_control.h"

#include <gtest/gtest.h>

#include <vector>

namespace veltrona::service {
namespace {

Command Parse(std::vector<const char*> args) {
  args.insert(args.begin(), "VeltronaVPNsrv.exe");
  return ParseCommandLine(static_cast<int>(args.size()), args.data());
}

TEST(ServiceCommandLine, SwitchesAreADashOrSlashAndAWholeWordInAnyCase) {
  EXPECT_EQ(Parse({"-install"}), Command::kInstall);
  EXPECT_EQ(Parse({"/InStAlL"}), Command::kInstall);
  EXPECT_EQ(Parse({"-REMOVE"}), Command::kRemove);
  EXPECT_EQ(Parse({"/remove", "-install"}), Command::kRemove);
  EXPECT_EQ(Parse({}), Command::kDispatch);
  EXPECT_EQ(Parse({"install"}), Command::kDispatch);
  EXPECT_EQ(Parse({"--install"}), Command::kDispatch);
  EXPECT_EQ(Parse({"-installs"}), Command::kDispatch);
  EXPECT_EQ(Parse({"-"}), Command::kDispatch);
  EXPECT_EQ(Parse({""}), Command::kDispatch);
  EXPECT_EQ(Parse({"-bogus", "-install"}), Command::kDispatch);
}

TEST(ServiceCommandLine, UsageLinesAlignTheirDescriptions) {
  EXPECT_EQ(UsageText(),
            "VeltronaVPNsrv -install          to install the service\n"
            "VeltronaVPNsrv -remove           to remove the service\n");
}

TEST(StatusBook, ReportsAServiceLifeWithIncreasingCheckPoints) {
  StatusBook book;
  const StatusRecord start = book.StartPending();
  EXPECT_EQ(start.current_state, kStateStartPending);
  EXPECT_EQ(start.controls_accepted, 0u);
  EXPECT_EQ(start.check_point, 1u);
  EXPECT_EQ(start.wait_hint, 3000u);

  const StatusRecord running = book.Report(kStateRunning, 0);
  EXPECT_EQ(running.controls_accepted, kAcceptStop);
  EXPECT_EQ(running.check_point, 0u);

  const StatusRecord stopping = book.StopControl();
  EXPECT_EQ(stopping.current_state, kStateStopPending);
  EXPECT_EQ(stopping.controls_accepted, kAcceptStop);
  EXPECT_EQ(stopping.check_point, 2u);
  EXPECT_EQ(stopping.wait_hint, 0u);

  EXPECT_EQ(book.Report(kStateStopPending, 500).check_point, 3u);
  EXPECT_EQ(book.Report(kStateStartPending, 0).controls_accepted, 0u);
  EXPECT_EQ(book.Report(kStateStartPending, 0).check_point, 5u);

  const StatusRecord stopped = book.Report(kStateStopped, 0);
  EXPECT_EQ(stopped.check_point, 0u);
  EXPECT_EQ(stopped.controls_accepted, kAcceptStop);
  const StatusRecord final_stop = book.FinalStop();
  EXPECT_EQ(final_stop.current_state, kStateStopped);
  EXPECT_EQ(final_stop.check_point, 0u);
  EXPECT_EQ(final_stop.service_type, kServiceWin32OwnProcess);
  EXPECT_EQ(final_stop.win32_exit_code, 0u);
  EXPECT_EQ(final_stop.service_specific_exit_code, 0u);
}

}  // namespace
}  // namespace veltrona::service
