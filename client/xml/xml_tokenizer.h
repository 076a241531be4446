// Splits XML text into tokens: white space, text, tags, comments, CDATA
// sections, processing instructions, DOCTYPEs and syntax errors.
#pragma once

#include <cstddef>
#include <string_view>

namespace veltrona::xml::internal {

enum class TokenKind {
  kWhiteSpace,
  kText,
  kStartTag,
  kEmptyElementTag,  // start tag written as "<name/>"
  kEndTag,
  kComment,
  kCData,
  kProcessingInstruction,
  kDoctype,
  kError,         // a syntax error; the token runs to the next ">"
  kUnterminated,  // the text ends inside the token
};

struct Token {
  TokenKind kind = TokenKind::kWhiteSpace;
  std::size_t start = 0;
  std::size_t end = 0;  // just after the token
  // For kError: the entry name and where the fault was seen.
  // For kUnterminated: the kind of token that was cut off.
  const char16_t* error = nullptr;
  std::size_t errorOffset = 0;
};

inline bool IsXmlSpace(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

// Names end at white space, "/", "=", ">" or "?".
inline bool IsNameEnd(char16_t c) {
  return IsXmlSpace(c) || c == u'/' || c == u'=' || c == u'>' || c == u'?';
}

// Index of the first unit at or after `pos` that equals any of a, b, c (pass
// the same unit more than once for fewer), or `end` when there is none.
std::size_t FindAnyOf3(const char16_t* text, std::size_t pos, std::size_t end, char16_t a, char16_t b,
                       char16_t c);

// Reads the token that starts at `pos` (pos < text.size()).
Token NextToken(std::u16string_view text, std::size_t pos);

// Length of the name that starts at `pos`, at most up to `end`.
std::size_t NameLength(std::u16string_view text, std::size_t pos, std::size_t end);

// Finds attribute `name` in the tag text [nameStart, tagEnd) where nameStart is
// the first character of the tag's own name. Returns false when absent; else
// sets [valueStart, valueEnd) to the raw value.
[[nodiscard]] bool FindAttribute(std::u16string_view text, std::size_t nameStart, std::size_t tagEnd,
                   std::u16string_view name, bool ignoreCase, std::size_t& valueStart,
                   std::size_t& valueEnd);

// Compares the name in the text at `pos` with `name` over its whole length.
bool NameMatches(std::u16string_view text, std::size_t pos, std::size_t end,
                 std::u16string_view name, bool ignoreCase);

}  // namespace veltrona::xml::internal

