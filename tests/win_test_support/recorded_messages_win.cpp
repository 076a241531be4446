#include "tests/win_test_support/recorded_messages_win.h"

namespace veltrona::test_support {

RecordedMessages::RecordedMessages() {
  common::SetMessagePresenter([this](const common::MessageRequest& request) {
    shown_.push_back(request);
    return IDOK;
  });
  common::SetDialogPresenter([this](const common::DialogRequest& request) {
    dialogs_.push_back(request);
    return static_cast<INT_PTR>(IDOK);
  });
  common::SetLauncher([this](const common::LaunchRequest& request) {
    launches_.push_back(request);
    return true;
  });
}

RecordedMessages::~RecordedMessages() {
  common::SetMessagePresenter({});
  common::SetDialogPresenter({});
  common::SetLauncher({});
}

std::vector<std::wstring> RecordedMessages::Texts() const {
  std::vector<std::wstring> texts;
  for (const common::MessageRequest& request : shown_) texts.push_back(request.text);
  return texts;
}

}  // namespace veltrona::test_support
