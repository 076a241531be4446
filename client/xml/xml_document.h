// XmlDocument: the client's XML reader. It keeps the document as one UTF-16
// string and, while parsing, builds an index of element positions (no node
// tree). Navigation moves three cursors (parent, current element, current
// child) forward over that index; values are cut out and unescaped on demand.
// Problems never stop a parse: they are collected in the result text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "client/xml/xml_encoding.h"
#include "client/xml/xml_file.h"

namespace veltrona::xml {

namespace internal {
struct AttributeSpan;
}  // namespace internal

// Document flags.
constexpr std::uint32_t XML_UTF16LE_FILE = 0x01;  // left by LoadFile
constexpr std::uint32_t XML_UTF8_BOM_FILE = 0x04;  // left by LoadFile
constexpr std::uint32_t XML_IGNORE_CASE = 0x08;    // ASCII letters match their capitals
constexpr std::uint32_t XML_READ_FILE = 0x10;      // streaming modes: never set by the client,
constexpr std::uint32_t XML_WRITE_FILE = 0x20;     // but they make SetText and FindNextChild fail
constexpr std::uint32_t XML_UTF16BE_FILE = 0x80;   // left by LoadFile
constexpr std::uint32_t XML_ENCODING_FLAGS = XML_UTF16LE_FILE | XML_UTF8_BOM_FILE | XML_UTF16BE_FILE;

// Element record flags.
constexpr std::uint32_t XML_ELEM_FIRST_CHILD = 0x00080000;
constexpr std::uint32_t XML_ELEM_NEVER_ENDED = 0x00100000;
constexpr std::uint32_t XML_ELEM_ILL_FORMED = 0x00200000;
constexpr std::uint32_t XML_DOC_NOT_WELL_FORMED = 0x00800000;  // record 0 only

// Records live in blocks of this many; an element index is block << 16 | slot.
constexpr std::uint32_t XML_INDEX_BLOCK = 65536;

// One element. Offsets and lengths count UTF-16 units.
struct ElementPosition {
  std::uint32_t start;           // the "<" of the start tag
  std::uint32_t length;          // up to just after the end tag; the start tag's
                                 // length when empty or never ended
  std::uint32_t startTagLength;
  std::uint32_t endTagLength;    // 0 when there is none
  std::uint32_t level;           // depth at which the start tag was read (top = 0)
  std::uint32_t flags;           // XML_ELEM_* (and XML_DOC_* on record 0)
  std::uint32_t parent;          // 0 at top level
  std::uint32_t firstChild;
  std::uint32_t next;            // 0 after the last sibling
  std::uint32_t previous;        // the first child holds the last sibling
};

class XmlDocument {
 public:
  XmlDocument();
  explicit XmlDocument(std::u16string_view text);
  XmlDocument(const XmlDocument&) = delete;
  XmlDocument& operator=(const XmlDocument&) = delete;
  ~XmlDocument();

  // Replaces the text and parses it; true when well-formed. A null pointer
  // clears the document.
  [[nodiscard]] bool SetText(std::u16string_view text);
  [[nodiscard]] bool SetText(const char16_t* text);
  // Takes over the caller's string instead of copying it.
  [[nodiscard]] bool SetText(std::u16string&& text);
  // Reads a file with encoding detection, then parses it; true when the file
  // was read and is well-formed.
  [[nodiscard]] bool LoadFile(const std::u16string& path);
  // The byte processing of LoadFile, for bytes already in memory.
  [[nodiscard]] bool LoadBytes(std::string_view bytes);

  void ResetPosition();
  [[nodiscard]] bool FindNextElement(std::u16string_view name = {});
  [[nodiscard]] bool FindNextChild(std::u16string_view name = {});
  [[nodiscard]] bool EnterElement();
  [[nodiscard]] bool LeaveElement();
  std::u16string ChildAttribute(std::u16string_view name) const;
  std::u16string ElementAttribute(std::u16string_view name) const;
  std::u16string ElementData() const;

  const std::u16string& GetText() const { return text_; }
  // Hands the text over without copying it; the document is left empty, as
  // after SetText of an empty text.
  [[nodiscard]] std::u16string TakeText();
  const std::u16string& GetResult() const { return result_; }
  std::uint32_t GetFlags() const { return flags_; }
  void SetFlags(std::uint32_t flags) { flags_ = flags; }

  // Where the cursors stand (element indexes, 0 = none).
  std::uint32_t Parent() const { return parent_; }
  std::uint32_t Current() const { return current_; }
  std::uint32_t Child() const { return child_; }

  // The element index: records in use (record 0 counts), and one record.
  std::uint32_t RecordCount() const { return used_; }
  std::uint32_t RecordCapacity() const { return capacity_; }
  // Records are numbered in parse order, so index n is the n-th record. An
  // index out of range reads as an all-zero record.
  const ElementPosition& Record(std::uint32_t index) const {
    return index < used_ ? Rec(index) : kNoRecord;
  }

  // Test and platform seams; defaults are the platform's own.
  void SetDecoder(XmlCodePageDecoder decoder) { decoder_ = decoder; }
  void SetFileReader(XmlFileReader reader) { reader_ = reader; }

 private:
  ElementPosition& Rec(std::uint32_t index) {
    return blocks_[index >> 16][index & 0xFFFF];
  }
  const ElementPosition& Rec(std::uint32_t index) const {
    return blocks_[index >> 16][index & 0xFFFF];
  }

  static constexpr ElementPosition kNoRecord{};

  struct ParseState;
  class FileReceiver;

  [[nodiscard]] bool Parse();
  void StartIndex(std::size_t textLength);
  void OpenElement(ParseState& state, std::size_t start, std::size_t end, bool empty);
  void CloseElement(ParseState& state, std::size_t start, std::size_t end);
  void MarkIllFormed(ParseState& state);
  void CloseUnended(ParseState& state, std::ptrdiff_t keep, std::size_t offset2);
  [[nodiscard]] bool FinishParse(const ParseState& state);
  [[nodiscard]] bool ReadFile(const std::u16string& path);
  void ClearIndex();
  void Reserve(std::uint32_t records);
  std::uint32_t NewRecord();
  std::u16string AttributeOf(std::uint32_t index, std::u16string_view name) const;
  bool NameIs(std::uint32_t index, std::u16string_view name) const;
  void AddEntry(const char16_t* entry, const char16_t* textName = nullptr,
                std::u16string_view text = {}, const char16_t* numberName = nullptr,
                std::uint64_t number = 0, bool hasOffset2 = false, std::uint64_t offset2 = 0);
  void DecodeBytes(std::string_view bytes);

  std::u16string text_;
  std::u16string result_;
  std::uint32_t flags_ = 0;
  std::vector<std::unique_ptr<ElementPosition[]>> blocks_;
  std::vector<std::uint32_t> blockSizes_;
  std::uint32_t capacity_ = 0;
  std::uint32_t used_ = 0;
  std::uint32_t parent_ = 0;
  std::uint32_t current_ = 0;
  std::uint32_t child_ = 0;
  XmlCodePageDecoder decoder_;
  XmlFileReader reader_;

  // The attributes of the element asked about last, as far as its start tag
  // has been read: the client asks for several attributes of each element,
  // and each is then found without reading the tag from its start again.
  // This is why even the const readers must not run concurrently.
  mutable std::uint32_t scannedElement_ = 0;  // 0: none
  mutable std::size_t scanPosition_ = 0;      // where reading the tag goes on
  mutable std::vector<internal::AttributeSpan> scanned_;
};

}  // namespace veltrona::xml
