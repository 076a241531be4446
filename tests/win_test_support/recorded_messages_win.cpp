#include "tests/win_test_support/recorded_messages_win.h"

namespace veltrona::test_support {

RecordedMessages::RecordedMessages() {
  app::SetMessagePresenter([this](const app::MessageRequest& request) {
    shown_.push_back(request);
    return IDOK;
  });
  app::SetDialogPresenter([this](const app::DialogRequest& request) {
    dialogs_.push_back(request);
    return static_cast<INT_PTR>(IDOK);
  });
  app::SetLauncher([this](const app::LaunchRequest& request) {
    launches_.push_back(request);
    return true;
  });
}

RecordedMessages::~RecordedMessages() {
  app::SetMessagePresenter({});
  app::SetDialogPresenter({});
  app::SetLauncher({});
}

std::vector<std::wstring> RecordedMessages::Texts() const {
  std::vector<std::wstring> texts;
  for (const app::MessageRequest& request : shown_) texts.push_back(request.text);
  return texts;
}

}  // namespace veltrona::test_support
