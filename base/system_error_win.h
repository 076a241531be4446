// The system's own text for an error code, as the console commands show it.
#pragma once

#include <windows.h>

#include <string>

namespace veltrona {

// The message text the system has for `code`, line end included, or an empty
// text when it has none.
std::wstring SystemMessageText(DWORD code);
// The same in the ANSI code page, for texts that go out as bytes.
std::string SystemMessageTextAnsi(DWORD code);

// Text of the calling thread's last error: "<system text> (0x<code>)", or an
// empty text for an unknown or over-long message. The result lives in one
// static buffer that each call overwrites; only the console commands use it,
// on the main thread.
const wchar_t* LastErrorText() noexcept;

}  // namespace veltrona
