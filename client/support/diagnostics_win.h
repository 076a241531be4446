// Gathers the problem report's diagnostics on the machine: the header values,
// "ipconfig /all" and "route print" through cmd.exe, OpenVPN's output file
// and the service log.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "client/support/diagnostics_text.h"

namespace veltrona::support {

// A command that has not finished by then is ended, with everything it
// started, so that a hanging command cannot freeze the window for good.
inline constexpr DWORD kCommandTimeoutMs = 30000;

struct CommandMessages {
  std::string_view execute_failed;
  std::string_view read_failed;
  std::string_view timed_out;
};

// Runs "cmd.exe /c <command>" hidden, its output going to `output_path`. The
// file is made anew here (a stale one is deleted first; anything that cannot
// be deleted, or a link planted in between, is refused) and handed to the
// command as its standard output, so the command never opens the path itself.
// The file is deleted again afterwards.
StepOutcome RunCommandOutput(std::wstring_view command, const std::wstring& output_path, DWORD timeout_ms,
                             const CommandMessages& messages);

// A log file, shared with the program that writes it; a log over
// kMaxLogBytes goes in as its last part behind a line that says so.
StepOutcome ReadLogFile(const std::wstring& path, std::string_view open_failed, std::string_view read_failed);

// The system's text for `code` in the ANSI code page, at most
// kSystemTextChars bytes, cut at a character boundary.
std::string SystemTextAnsi(DWORD code);

// The whole diagnostics text.
std::string CollectDiagnostics();

}  // namespace veltrona::support
