// Records the message boxes and dialogs the client would show, and the
// programs it would start, through the client's one message seam, for as long
// as the object lives. Boxes and dialogs are answered OK; nothing is started.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "client/common/user_messages_win.h"

namespace veltrona::test_support {

class RecordedMessages {
 public:
  RecordedMessages();
  ~RecordedMessages();
  RecordedMessages(const RecordedMessages&) = delete;
  RecordedMessages& operator=(const RecordedMessages&) = delete;

  // The message boxes.
  const std::vector<common::MessageRequest>& All() const { return shown_; }
  std::vector<std::wstring> Texts() const;
  const std::vector<common::DialogRequest>& Dialogs() const { return dialogs_; }
  const std::vector<common::LaunchRequest>& Launches() const { return launches_; }
  bool AnythingShown() const { return !shown_.empty() || !dialogs_.empty(); }
  // One message box, exactly this one, and no dialog.
  ::testing::AssertionResult ShowedOnly(const std::wstring& text, const std::wstring& caption, UINT style,
                                        HWND owner) const;

 private:
  std::vector<common::MessageRequest> shown_;
  std::vector<common::DialogRequest> dialogs_;
  std::vector<common::LaunchRequest> launches_;
};

}  // namespace veltrona::test_support
