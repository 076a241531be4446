#pragma once

#include <string>

namespace veltrona::test_support {

// Makes `link` a symbolic link to the folder `target`, one that the system
// reports as a reparse point. Wine's CreateSymbolicLinkW makes nothing, so
// under Wine the link is made on the Unix side. False when neither works.
bool MakeFolderLink(const std::wstring& link, const std::wstring& target);
// Removes the link, never what it points to.
void RemoveFolderLink(const std::wstring& link);

}  // namespace veltrona::test_support
