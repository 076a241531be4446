// Console output of the command-line switches. Text goes to standard output
// as wide characters on a console, or in the console's code page with CR LF
// line ends when standard output is a file or a pipe.
#pragma once

#include <string_view>

namespace veltrona {

void ConsoleWrite(std::wstring_view text) noexcept;

}  // namespace veltrona
