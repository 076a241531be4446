// Records the message boxes the client would show, through the client's one
// message seam, for as long as the object lives; every box is answered OK.
#pragma once

#include <string>
#include <vector>

#include "client/app/user_messages_win.h"

namespace veltrona::test_support {

class RecordedMessages {
 public:
  RecordedMessages();
  ~RecordedMessages();
  RecordedMessages(const RecordedMessages&) = delete;
  RecordedMessages& operator=(const RecordedMessages&) = delete;

  const std::vector<app::MessageRequest>& All() const { return shown_; }
  std::vector<std::wstring> Texts() const;

 private:
  std::vector<app::MessageRequest> shown_;
};

}  // namespace veltrona::test_support
