// Whether a file or folder that the service keeps its log, its journal or
// OpenVPN's copy in can be relied on: that depends on who may change it, read
// from its owner and access list, and on whether the object opened is the one
// that was named. The platform side reads both; the rules are here.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace veltrona::service {

// The accounts the rules tell apart. On Windows the service's own account is
// LocalSystem; elsewhere it may be an account of its own.
enum class Principal { kSystem, kAdministrators, kServiceAccount, kOther };

struct AccessEntry {
  bool allows = true;  // an allow entry; deny entries only ever take rights away
  Principal who = Principal::kOther;
  uint32_t mask = 0;
};

struct ObjectSecurity {
  Principal owner = Principal::kOther;
  bool has_access_list = false;  // a missing (null) list lets everyone do everything
  std::vector<AccessEntry> entries;
};

// Every right that changes an object or what is in it: write or append data,
// add a file or a folder, write attributes or extended attributes, delete it
// or its children, change its access list or owner, and the generic rights
// that include any of these.
inline constexpr uint32_t kChangeRights = 0x00000002u     // write data, add file
                                          | 0x00000004u   // append data, add folder
                                          | 0x00000010u   // write extended attributes
                                          | 0x00000040u   // delete child
                                          | 0x00000100u   // write attributes
                                          | 0x00010000u   // delete
                                          | 0x00040000u   // write access list
                                          | 0x00080000u   // write owner
                                          | 0x10000000u   // generic all
                                          | 0x40000000u;  // generic write

// Empty when only SYSTEM, the administrators and the service's own account
// own and may change the object; otherwise the reason, for a log line.
// Entries inherited only by children count too: what the service creates in
// a folder must not be open to others either.
std::string WhyNotTrusted(const ObjectSecurity& security);

// Whether `opened`, the full path the system reports for an opened object,
// names `expected` (a parent's reported path, a backslash and a name), as the
// file system compares names. The reported path may carry the "\\?\" prefix.
// A link that was followed on the way shows as another path.
[[nodiscard]] bool IsPathOf(std::u16string_view opened, std::u16string_view expected);

}  // namespace veltrona::service
