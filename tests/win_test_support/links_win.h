#pragma once

#include <string>

namespace veltrona::test_support {

// Makes `link` a symbolic link to the folder `target`, one that the system
// reports as a reparse point. Wine's CreateSymbolicLinkW makes nothing, so
// under Wine the link is made on the Unix side. False when neither works.
bool MakeFolderLink(const std::wstring& link, const std::wstring& target);
// Whether `path` itself is a link to a folder (Wine shows no other links).
bool IsLink(const std::wstring& path);
// Removes the link, never what it points to.
void RemoveFolderLink(const std::wstring& link);

// Runs `program` with Wine's debug channels set to `channels`, from a Unix
// shell, because Wine prints its debug output (the event log among it) on
// the Unix standard error, which a Windows parent cannot redirect. Returns
// that output; empty off Wine or when the program did not end in time.
std::string WineDebugOutput(const std::wstring& program, const std::wstring& channels);

// The same for a link to a file. Wine shows such a link as the file itself,
// not as a reparse point, and deletes the target when asked to delete it.
bool MakeFileLink(const std::wstring& link, const std::wstring& target);
void RemoveFileLink(const std::wstring& link);

}  // namespace veltrona::test_support
