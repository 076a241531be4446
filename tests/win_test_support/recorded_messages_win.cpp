#include "tests/win_test_support/recorded_messages_win.h"

#include "tests/test_text.h"

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

::testing::AssertionResult RecordedMessages::ShowedOnly(const std::wstring& text, const std::wstring& caption,
                                                       UINT style, HWND owner) const {
  if (!dialogs_.empty()) return ::testing::AssertionFailure() << dialogs_.size() << " dialog(s) shown as well";
  if (shown_.size() != 1) return ::testing::AssertionFailure() << shown_.size() << " message boxes shown";
  const common::MessageRequest& box = shown_.front();
  if (box.text != text || box.caption != caption || box.style != style || box.owner != owner) {
    return ::testing::AssertionFailure() << "shown: \"" << Ascii(box.caption) << "\": \"" << Ascii(box.text)
                                         << "\", style " << box.style << (box.owner == owner ? "" : ", another owner");
  }
  return ::testing::AssertionSuccess();
}

}  // namespace veltrona::test_support
