// Where the configuration code sends the texts the user must see. The
// client's message boxes stand behind it; tests record the texts.
#pragma once

#include <string>

namespace veltrona::config {

struct MessageSink {
  void (*show)(void* context, const std::wstring& text) = nullptr;
  void* context = nullptr;

  void Show(const std::wstring& text) const {
    if (show != nullptr) show(context, text);
  }
};

}  // namespace veltrona::config
