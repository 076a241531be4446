// A hidden stand-in for the client's main window, for tests that drive an
// engine as the main window does: the three controls the engine writes, the
// one-second statistics timer, and the socket messages forwarded to the
// engine.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <string>

#include "client/engines/vpn_interface.h"

namespace veltrona::test_support {

inline constexpr DWORD kEngineWaitMs = 30000;

class EngineWindow {
 public:
  EngineWindow();
  ~EngineWindow();
  EngineWindow(const EngineWindow&) = delete;
  EngineWindow& operator=(const EngineWindow&) = delete;

  HWND handle() const { return window_; }

  // Attaches `engine` to this window and starts the statistics timer.
  void Drive(engines::VpnInterface* engine);
  void Release();

  // The text of control `id`, as the user reads it.
  std::wstring Text(int id) const;

  // Runs the thread's messages until `done` holds or the time is up.
  static bool PumpUntil(const std::function<bool()>& done, DWORD timeout_ms = kEngineWaitMs);

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM w_param, LPARAM l_param);

  HWND window_ = nullptr;
};

// The number in a "<n> bytes" statistics text; -1 for any other text.
long long ByteCount(const std::wstring& text);

// Wine starts its desktop process with a process's first window; made after
// the tests that link the service folder elsewhere, that first window never
// came back. A test program that makes windows registers this first.
class EarlyDesktop : public ::testing::Environment {
 public:
  void SetUp() override { EngineWindow window; }
};

}  // namespace veltrona::test_support
