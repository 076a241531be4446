// Running the built programs from tests and reading what they print.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "base/unique_handle_win.h"

namespace veltrona::test_support {

struct ProgramResult {
  DWORD exit_code = 0xFFFFFFFF;
  std::string output;  // standard output and standard error, as bytes
  bool timed_out = false;
};

// The folder the running test program is in, with a trailing backslash.
std::wstring BinFolder();
// A stand-in program from tests/peers, built next to the tests.
std::wstring PeerProgram(const std::wstring& name);

// Starts a program without waiting for it: `command_line` is the whole line
// (program first), `program` may be null to take the program from it.
// Nothing when it did not start. Wine starts a Unix program without a
// handle to it: the handle is then not valid.
std::optional<UniqueProcess> StartProgram(const wchar_t* program, std::wstring command_line, DWORD flags = 0);

// Starts `program` with `arguments` (the command line gets the quoted program
// path in front), collects its output and waits for it to end.
ProgramResult RunProgram(const std::wstring& program, const std::wstring& arguments, DWORD timeout_ms = 120000);

// The Unix name of a path, for handing to a Unix program; empty outside
// Wine.
std::string UnixPath(const std::wstring& path);

// A unique suffix for names of pipes, events and keys a test creates.
std::wstring UniqueSuffix();

}  // namespace veltrona::test_support
