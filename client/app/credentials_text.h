// The credentials cache's plain text: the VPN ID, activation code and server
// of the last working connection as one small XML text. The Windows side
// protects it for the user and keeps it in the registry.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace veltrona::app {

struct Credentials {
  std::u16string vpn_id;
  std::u16string activation_code;
  std::u16string server;

  bool operator==(const Credentials&) const = default;
};

// The most characters a loaded text keeps; the rest is cut off.
inline constexpr std::size_t kMaxCredentialLength = 65535;

// "<credentials><user>…</user><pass>…</pass><server>…</server></credentials>",
// without a terminator. "&", "<" and ">" in the texts are written as
// references, so an activation code holding them reads back as typed.
std::u16string CredentialsText(const Credentials& credentials);

// The texts of a cache document: the root element, whatever its name, and
// its "user", "pass" and "server" children, each looked for after the one
// found before it. A missing element leaves its text empty; a document that
// is not well-formed gives three empty texts.
Credentials ReadCredentialsText(std::u16string_view text);

}  // namespace veltrona::app
