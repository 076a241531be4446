#include "base/system_error_win.h"

#include <gtest/gtest.h>

#include <string>

namespace veltrona {
namespace {

TEST(LastErrorText, AccessDeniedIsTheSystemTextAndTheCode) {
  std::wstring system_text = SystemMessageText(ERROR_ACCESS_DENIED);
  ASSERT_GE(system_text.size(), 2u);
  while (!system_text.empty() && (system_text.back() == L'\n' || system_text.back() == L'\r')) system_text.pop_back();
  ::SetLastError(ERROR_ACCESS_DENIED);
  EXPECT_EQ(std::wstring(LastErrorText()), system_text + L" (0x5)");
  // Reading the text leaves the error for the caller's next step.
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST(LastErrorText, UnknownCodeGivesEmptyText) {
  ::SetLastError(0x2000FFFF);
  EXPECT_EQ(std::wstring(LastErrorText()), L"");
}

TEST(LastErrorText, EachCallOverwritesTheBuffer) {
  ::SetLastError(ERROR_ACCESS_DENIED);
  const wchar_t* first = LastErrorText();
  ::SetLastError(0x2000FFFF);
  const wchar_t* second = LastErrorText();
  EXPECT_EQ(first, second);
  EXPECT_EQ(std::wstring(second), L"");
}

}  // namespace
}  // namespace veltrona
