#include "tests/win_test_support/recorded_messages_win.h"

namespace veltrona::test_support {

RecordedMessages::RecordedMessages() {
  app::SetMessagePresenter([this](const app::MessageRequest& request) {
    shown_.push_back(request);
    return IDOK;
  });
}

RecordedMessages::~RecordedMessages() { app::SetMessagePresenter({}); }

std::vector<std::wstring> RecordedMessages::Texts() const {
  std::vector<std::wstring> texts;
  for (const app::MessageRequest& request : shown_) texts.push_back(request.text);
  return texts;
}

}  // namespace veltrona::test_support
