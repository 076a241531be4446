#include "service/service_log.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace veltrona::service {
namespace {

// Records each write as the file would receive it.
class RecordingSink : public LogSink {
 public:
  explicit RecordingSink(std::vector<std::string>* writes) : writes_(writes) {}
  void WriteAll(std::string_view bytes) override { writes_->emplace_back(bytes); }

 private:
  std::vector<std::string>* writes_;
};

class ServiceLogFolding : public ::testing::Test {
 protected:
  ServiceLog log_{std::make_unique<RecordingSink>(&writes_)};
  std::vector<std::string> writes_;
};

TEST_F(ServiceLogFolding, ARunOfRepeatsBecomesANoticeAndACount) {
  log_.Write("A");
  log_.Write("A");
  log_.Write("A");
  log_.Write("B");
  EXPECT_EQ(writes_, (std::vector<std::string>{"A\r\n", "Message repetitions suppressed\r\n",
                                               "Suppressed 2 repetitions\r\n", "B\r\n"}));
}

TEST_F(ServiceLogFolding, ASingleRepeatIsCountedInThePluralWording) {
  log_.Write("Checking route table");
  log_.Write("Checking route table");
  log_.Write("OpenVPN route not found");
  EXPECT_EQ(writes_, (std::vector<std::string>{"Checking route table\r\n", "Message repetitions suppressed\r\n",
                                               "Suppressed 1 repetitions\r\n", "OpenVPN route not found\r\n"}));
}

TEST_F(ServiceLogFolding, OnlyConsecutiveLinesFold) {
  log_.Write("A");
  log_.Write("B");
  log_.Write("A");
  EXPECT_EQ(writes_, (std::vector<std::string>{"A\r\n", "B\r\n", "A\r\n"}));
}

TEST_F(ServiceLogFolding, LinesThatDifferOnlyInTheirCodeAreDifferent) {
  log_.WriteCode("Reading from pipe failed", 109);
  log_.WriteCode("Reading from pipe failed", 109);
  log_.WriteCode("Reading from pipe failed", 232);
  EXPECT_EQ(writes_, (std::vector<std::string>{"Reading from pipe failed\r\nHRESULT 0x0000006d\r\n",
                                               "Message repetitions suppressed\r\n", "Suppressed 1 repetitions\r\n",
                                               "Reading from pipe failed\r\nHRESULT 0x000000e8\r\n"}));
}

TEST_F(ServiceLogFolding, EmptyLinesAreLinesToo) {
  log_.Write("");
  log_.Write("");
  log_.Write("");
  EXPECT_EQ(writes_, (std::vector<std::string>{"\r\n", "Message repetitions suppressed\r\n"}));
}

TEST_F(ServiceLogFolding, ARunStillFoldingAtCloseIsNotSummedUp) {
  log_.Write("A");
  log_.Write("A");
  log_.Close();
  log_.Write("B");
  EXPECT_FALSE(log_.IsOpen());
  EXPECT_EQ(writes_, (std::vector<std::string>{"A\r\n", "Message repetitions suppressed\r\n"}));
}

TEST_F(ServiceLogFolding, CompositeLinesAreBuiltThenEmittedOnce) {
  log_.Append("Unexpected behavior while waiting for data from pipe. ");
  log_.AppendNumber(-2);
  log_.Write("");
  log_.Append("Opening registry failed");
  log_.AppendCode(2);
  log_.Write("");
  log_.Append("x");
  log_.AppendNumber(2147483647);
  log_.AppendNumber(-2147483647 - 1);
  log_.Write("!");
  EXPECT_EQ(writes_, (std::vector<std::string>{"Unexpected behavior while waiting for data from pipe. -2\r\n",
                                               "Opening registry failed\r\nHRESULT 0x00000002\r\n",
                                               "x2147483647-2147483648!\r\n"}));
}

TEST_F(ServiceLogFolding, PendingTextIsPartOfTheComparedLine) {
  log_.Append("a");
  log_.Write("b");
  log_.Write("ab");
  log_.Write("ab");
  EXPECT_EQ(writes_, (std::vector<std::string>{"ab\r\n", "Message repetitions suppressed\r\n"}));
}

TEST_F(ServiceLogFolding, CodeLineIsCutAtItsLimitNotOverrun) {
  // Message, CR LF, "HRESULT 0x" and eight digits take 1023 characters at most.
  log_.WriteCode(std::string(1003, 'n'), 0xABCDEF01);
  log_.WriteCode(std::string(1004, 'n'), 0xABCDEF01);
  log_.WriteCode(std::string(5000, 'm'), 1);
  EXPECT_EQ(writes_, (std::vector<std::string>{std::string(1003, 'n') + "\r\nHRESULT 0xabcdef01\r\n",
                                               std::string(1004, 'n') + "\r\nHRESULT 0xabcdef0\r\n",
                                               std::string(1023, 'm') + "\r\n"}));
}

}  // namespace
}  // namespace veltrona::service
