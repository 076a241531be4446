#include "client/xml/xml_document.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <span>
#include <unordered_map>

#include "base/ascii.h"
#include "client/xml/xml_text.h"
#include "client/xml/xml_tokenizer.h"

namespace veltrona::xml {

using internal::FindAttribute;
using internal::NameLength;
using internal::NameMatches;
using internal::NextToken;
using internal::Token;
using internal::TokenKind;

namespace {

constexpr std::size_t kResultLimit = 999;

inline void Prefetch(const void* address) {
#if defined(__GNUC__)
  __builtin_prefetch(address);
#else
  (void)address;
#endif
}

bool SameName(std::u16string_view a, std::u16string_view b, bool ignoreCase) {
  return ignoreCase ? EqualsIgnoringAsciiCase(a, b) : a == b;
}

// Element names keyed for the end-tag lookup, honouring the case flag.
struct NameHash {
  bool ignoreCase;
  std::size_t operator()(std::u16string_view name) const {
    std::uint64_t h = 1469598103934665603ull;
    for (const char16_t c : name) {
      h ^= ignoreCase ? ToAsciiLower(c) : c;
      h *= 1099511628211ull;
    }
    return static_cast<std::size_t>(h);
  }
};

struct NameEqual {
  bool ignoreCase;
  bool operator()(std::u16string_view a, std::u16string_view b) const {
    return SameName(a, b, ignoreCase);
  }
};

using OpenNameIndex =
    std::unordered_map<std::u16string_view, std::vector<std::uint32_t>, NameHash, NameEqual>;

struct OpenTag {
  std::uint32_t record;
  std::u16string_view name;
};

void AppendNumber(std::uint64_t value, std::u16string& out) {
  char16_t digits[24];
  std::size_t n = 0;
  do {
    digits[n++] = static_cast<char16_t>(u'0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (n > 0) out.push_back(digits[--n]);
}

bool StartsWithBytes(std::string_view bytes, std::string_view prefix) {
  return bytes.substr(0, prefix.size()) == prefix;
}

// "charset=value" inside a Content-Type value, names compared ignoring case.
std::u16string CharsetOf(std::u16string_view content) {
  for (std::size_t i = 0; i + 7 <= content.size(); ++i) {
    if (!SameName(content.substr(i, 7), u"charset", true)) continue;
    std::size_t j = i + 7;
    while (j < content.size() && internal::IsXmlSpace(content[j])) ++j;
    if (j >= content.size() || content[j] != u'=') continue;
    ++j;
    while (j < content.size() && internal::IsXmlSpace(content[j])) ++j;
    std::size_t k = j;
    while (k < content.size() && content[k] != u';' && content[k] != u'"' && content[k] != u'\'' &&
           !internal::IsXmlSpace(content[k])) {
      ++k;
    }
    if (k > j) return std::u16string(content.substr(j, k - j));
  }
  return {};
}

// The encoding named by an XML declaration or an HTML meta tag in the first
// block of a file; empty when none is declared.
std::u16string DeclaredEncoding(std::string_view block) {
  std::u16string head;
  XmlAppendUtf8(block, head);
  const std::u16string_view h(head);
  std::size_t vs = 0;
  std::size_t ve = 0;
  if (h.size() > 2 && h[0] == u'<' && h[1] == u'?' && NameMatches(h, 2, h.size(), u"xml", true)) {
    const Token pi = NextToken(h, 0);
    if (pi.kind == TokenKind::kProcessingInstruction &&
        FindAttribute(h, 2, pi.end, u"encoding", true, vs, ve)) {
      return std::u16string(h.substr(vs, ve - vs));
    }
    return {};
  }
  std::size_t pos = 0;
  bool inHtml = false;
  while (pos < h.size()) {
    const Token tok = NextToken(h, pos);
    pos = tok.end;
    if (tok.kind == TokenKind::kUnterminated) break;
    const bool startTag = tok.kind == TokenKind::kStartTag || tok.kind == TokenKind::kEmptyElementTag;
    if (!inHtml) {
      if (!startTag) continue;
      if (!NameMatches(h, tok.start + 1, tok.end, u"html", true)) break;
      inHtml = true;
      continue;
    }
    if (tok.kind == TokenKind::kEndTag && NameMatches(h, tok.start + 2, tok.end, u"head", true)) break;
    if (!startTag || !NameMatches(h, tok.start + 1, tok.end, u"meta", true)) continue;
    if (!FindAttribute(h, tok.start + 1, tok.end, u"http-equiv", true, vs, ve) ||
        !SameName(h.substr(vs, ve - vs), u"content-type", true) ||
        !FindAttribute(h, tok.start + 1, tok.end, u"content", true, vs, ve)) {
      continue;
    }
    std::u16string charset = CharsetOf(h.substr(vs, ve - vs));
    if (!charset.empty()) return charset;
  }
  return {};
}

// What the first bytes of a text say of its encoding: a byte order mark, an
// encoding declared in its first block, or "<" first (UTF-8).
struct DetectedEncoding {
  std::u16string name;  // empty: nothing said
  std::size_t skip = 0;  // the byte order mark's length
  std::uint32_t flag = 0;  // XML_*_FILE for a byte order mark
  bool wide = false;
  bool bigEndian = false;
};

DetectedEncoding DetectEncoding(std::string_view bytes) {
  DetectedEncoding d;
  if (StartsWithBytes(bytes, "\xEF\xBB\xBF")) {
    d = {u"UTF-8", 3, XML_UTF8_BOM_FILE, false, false};
  } else if (StartsWithBytes(bytes, "\xFF\xFE")) {
    d = {u"UTF-16LE", 2, XML_UTF16LE_FILE, true, false};
  } else if (StartsWithBytes(bytes, "\xFE\xFF")) {
    d = {u"UTF-16BE", 2, XML_UTF16BE_FILE, true, true};
  } else {
    d.name = DeclaredEncoding(bytes.substr(0, 1024));
    if (d.name.empty() && !bytes.empty() && bytes[0] == '<') d.name = u"UTF-8";
  }
  return d;
}

// How many bytes at the end of `bytes` begin a UTF-8 sequence that the
// bytes after them may complete (0 to 3). A text read a block at a time
// holds them back for the next block, so that every sequence is decoded
// whole, as it would be from the text in one piece.
std::size_t UnfinishedUtf8Tail(std::string_view bytes) {
  const std::size_t look = std::min<std::size_t>(bytes.size(), 3);
  for (std::size_t k = 1; k <= look; ++k) {
    const auto b = static_cast<unsigned char>(bytes[bytes.size() - k]);
    if (b >= 0x80 && b < 0xC0) continue;  // a continuation byte: its lead is further back
    if (b < 0xC0 || b >= 0xF8) return 0;  // ASCII, or a byte that leads nothing
    const std::size_t length = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : 2;
    return k < length ? k : 0;
  }
  return 0;
}

}  // namespace

// Takes a file's bytes as they are read. A UTF-8 file of more than one
// block whose first block is ASCII, the usual large document (a list of many
// servers), is decoded a block at a time into the text: its bytes are never
// all held, and the text is not first filled with zeros. Every other file is
// gathered whole and decoded as bytes in memory are. Both give the same
// text and the same entries as LoadBytes of the file's bytes.
class XmlDocument::FileReceiver final : public XmlFileSink {
 public:
  explicit FileReceiver(XmlDocument& doc) : doc_(doc) {}

  bool Begin(std::size_t size) override {
    size_ = size;
    if (size <= kBlock) {
      // One block or less: nothing to gain from taking it apart.
      mode_ = Mode::kWhole;
      return whole_.Allocate(size);
    }
    block_.reset(new (std::nothrow) char[kBlock + kMaxCarry]);
    return block_ != nullptr;
  }

  std::span<char> Room() override {
    switch (mode_) {
      case Mode::kHead:
        return {block_.get() + received_, kBlock - received_};
      case Mode::kStream:
        return {block_.get() + carry_, kBlock};
      case Mode::kWhole:
        break;
    }
    return {whole_.Data() + received_, size_ - received_};
  }

  bool Filled(std::size_t count) override {
    received_ += count;
    switch (mode_) {
      case Mode::kHead:
        return (received_ < kBlock && received_ < size_) || Decide();
      case Mode::kStream:
        Decode(0, carry_ + count);
        return true;
      case Mode::kWhole:
        return true;
    }
    return true;
  }

  // After a complete read: decodes what is left and adds the entries.
  void Finish() {
    if (mode_ == Mode::kHead) {
      // The file shrank to less than a block while it was read: what came
      // is all in the block.
      doc_.DecodeBytes(std::string_view(block_.get(), received_));
      return;
    }
    if (mode_ == Mode::kWhole) {
      whole_.Truncate(received_);
      doc_.DecodeBytes(whole_.View());
      return;
    }
    // What was held back ends the text: decoded as it stands.
    if (carry_ != 0) DecodePiece(std::string_view(block_.get(), carry_));
    XmlReleaseUnusedRoom(doc_.text_);
    if (detected_.skip != 0) {
      doc_.flags_ |= detected_.flag;
      doc_.AddEntry(u"bom");
    }
    if (nulls_ != 0) doc_.AddEntry(u"nulls_removed", nullptr, {}, u"count", nulls_);
    doc_.AddEntry(u"converted_to", u"encoding", u"UTF-16", u"length", doc_.text_.size());
    doc_.AddEntry(u"read", u"encoding", detected_.name, u"length", received_ - detected_.skip);
  }

 private:
  enum class Mode { kHead, kStream, kWhole };
  static constexpr std::size_t kBlock = 64 * 1024;
  static constexpr std::size_t kMaxCarry = 3;

  // Chooses, from the first block, how the file is taken; false when there
  // is no memory to gather it.
  bool Decide() {
    const std::string_view head(block_.get(), received_);
    detected_ = DetectEncoding(head);
    std::uint32_t codePage = 0;
    const bool utf8 = !detected_.wide && !detected_.name.empty() &&
                      XmlCodePageFromName(detected_.name, codePage) && codePage == XML_CP_UTF8;
    std::u16string probe;
    if (utf8 && XmlIsAscii(head.substr(detected_.skip)) && doc_.decoder_(XML_CP_UTF8, {}, probe)) {
      // Room for a unit per byte, which ASCII text takes.
      try {
        doc_.text_.reserve(size_ - std::min(size_, detected_.skip));
      } catch (const std::bad_alloc&) {
        return false;
      }
      mode_ = Mode::kStream;
      Decode(detected_.skip, received_);
      return true;
    }
    if (!whole_.Allocate(size_)) return false;
    std::memcpy(whole_.Data(), block_.get(), received_);
    block_.reset();
    mode_ = Mode::kWhole;
    return true;
  }

  // Decodes block bytes [from, end), less a sequence the next block may
  // finish, which moves to the start of the block.
  void Decode(std::size_t from, std::size_t end) {
    char* const begin = block_.get() + from;
    std::size_t n = end - from;
    // Zero bytes are dropped before decoding, as from a whole text.
    if (std::memchr(begin, 0, n) != nullptr) {
      const std::size_t kept = static_cast<std::size_t>(std::remove(begin, begin + n, '\0') - begin);
      nulls_ += n - kept;
      n = kept;
    }
    const std::size_t tail = UnfinishedUtf8Tail(std::string_view(begin, n));
    DecodePiece(std::string_view(begin, n - tail));
    std::memmove(block_.get(), begin + n - tail, tail);
    carry_ = tail;
  }

  void DecodePiece(std::string_view piece) {
    if (piece.empty()) return;
    // The decoder said it takes UTF-8; should it still refuse a piece, the
    // portable reading, which never fails, takes that piece.
    if (!doc_.decoder_(XML_CP_UTF8, piece, scratch_)) (void)XmlDecodePortable(XML_CP_UTF8, piece, scratch_);
    doc_.text_.append(scratch_);
  }

  XmlDocument& doc_;
  Mode mode_ = Mode::kHead;
  std::size_t size_ = 0;      // as the reader found it when it began
  std::size_t received_ = 0;  // bytes that came: kHead, all in the block; kWhole, all in `whole_`
  std::size_t carry_ = 0;     // kStream: held back at the start of the block
  std::uint64_t nulls_ = 0;
  DetectedEncoding detected_;
  std::unique_ptr<char[]> block_;
  XmlFileBytes whole_;
  std::u16string scratch_;
};

XmlDocument::XmlDocument() : decoder_(XmlDefaultDecoder()), reader_(XmlDefaultFileReader()) {}

XmlDocument::XmlDocument(std::u16string_view text) : XmlDocument() {
  // A constructor has no result; the caller asks GetResult or the index.
  (void)SetText(text);
}

XmlDocument::~XmlDocument() = default;

bool XmlDocument::SetText(const char16_t* text) {
  if (flags_ & (XML_READ_FILE | XML_WRITE_FILE)) return false;
  if (text == nullptr) {
    text_.clear();
    result_.clear();
    ClearIndex();
    return Parse();
  }
  return SetText(std::u16string_view(text));
}

bool XmlDocument::SetText(std::u16string_view text) {
  if (flags_ & (XML_READ_FILE | XML_WRITE_FILE)) return false;
  result_.clear();
  if (text.size() > XML_MAX_TEXT_LENGTH) {
    text_.clear();
    AddEntry(u"text_too_long", nullptr, {}, u"length", text.size());
  } else {
    text_.assign(text);
  }
  return Parse();
}

bool XmlDocument::SetText(std::u16string&& text) {
  if (flags_ & (XML_READ_FILE | XML_WRITE_FILE)) return false;
  if (text.size() > XML_MAX_TEXT_LENGTH) return SetText(std::u16string_view(text));
  result_.clear();
  text_ = std::move(text);
  return Parse();
}

std::u16string XmlDocument::TakeText() {
  std::u16string text = std::move(text_);
  text_.clear();
  result_.clear();
  // Parsed as the empty text it now is (which is not well-formed), so the
  // old text's index goes with it.
  (void)Parse();
  return text;
}

bool XmlDocument::LoadFile(const std::u16string& path) {
  result_.clear();
  text_.clear();
  flags_ &= ~XML_ENCODING_FLAGS;
  if (!ReadFile(path)) {
    // The index is reset to that of an empty text; the read already failed.
    (void)Parse();
    return false;
  }
  return Parse();
}

// Reads and decodes the file into the text; its bytes are freed before the
// parse, so that they and the index are never held together.
bool XmlDocument::ReadFile(const std::u16string& path) {
  XmlFileStatus status;
  {
    FileReceiver receiver(*this);
    status = reader_(path, receiver);
    if (status.ok) receiver.Finish();
  }
  if (!status.ok) {
    // Whatever was decoded before the failure goes, room and all.
    std::u16string().swap(text_);
    AddEntry(u"file_error", u"msg", status.errorText, u"n", status.errorCode);
    return false;
  }
  if (status.closeFailed) AddEntry(u"file_error", u"msg", status.closeText, u"n", status.closeCode);
  return true;
}

bool XmlDocument::LoadBytes(std::string_view bytes) {
  result_.clear();
  text_.clear();
  flags_ &= ~XML_ENCODING_FLAGS;
  if (bytes.size() > XML_MAX_TEXT_LENGTH) {
    AddEntry(u"text_too_long", nullptr, {}, u"length", bytes.size());
  } else {
    DecodeBytes(bytes);
  }
  return Parse();
}

void XmlDocument::DecodeBytes(std::string_view bytes) {
  const DetectedEncoding detected = DetectEncoding(bytes);
  std::u16string encoding = detected.name;
  flags_ |= detected.flag;
  if (detected.skip != 0) AddEntry(u"bom");
  const std::string_view body = bytes.substr(detected.skip);
  std::size_t unitsRead = 0;

  if (detected.wide) {
    // An odd last byte is half a unit and is dropped.
    unitsRead = body.size() / 2;
    text_.resize(unitsRead);
    std::size_t kept = 0;
    for (std::size_t i = 0; i < unitsRead; ++i) {
      const auto b0 = static_cast<unsigned char>(body[2 * i]);
      const auto b1 = static_cast<unsigned char>(body[2 * i + 1]);
      const char16_t unit = detected.bigEndian ? static_cast<char16_t>(b0 << 8 | b1)
                                               : static_cast<char16_t>(b1 << 8 | b0);
      if (unit != 0) text_[kept++] = unit;
    }
    text_.resize(kept);
    if (kept != unitsRead) AddEntry(u"nulls_removed", nullptr, {}, u"count", unitsRead - kept);
    if (detected.bigEndian) AddEntry(u"endian_swap");
  } else {
    unitsRead = body.size();
    if (encoding.empty()) {
      if (XmlIsValidUtf8(body)) encoding = u"UTF-8";
      AddEntry(u"utf8_detection");
    }
    std::string withoutNulls;
    std::string_view clean = body;
    const std::size_t firstNull = body.find('\0');
    if (firstNull != std::string_view::npos) {
      withoutNulls.reserve(body.size());
      for (const char c : body) {
        if (c != '\0') withoutNulls.push_back(c);
      }
      AddEntry(u"nulls_removed", nullptr, {}, u"count", body.size() - withoutNulls.size());
      clean = withoutNulls;
    }
    std::uint32_t codePage = XML_CP_ANSI;
    if (!encoding.empty() && !XmlCodePageFromName(encoding, codePage)) {
      // Not a name Windows knows: read it as the ANSI code page and say so.
      AddEntry(u"unknown_encoding", u"encoding", encoding);
      codePage = XML_CP_ANSI;
    }
    if (!decoder_(codePage, clean, text_)) {
      // A known name whose code page this system cannot convert.
      AddEntry(u"unsupported_encoding", u"encoding", encoding);
      // The portable windows-1252 reading never fails.
      if (!decoder_(XML_CP_ANSI, clean, text_)) (void)XmlDecodePortable(XML_CP_ANSI, clean, text_);
    }
    AddEntry(u"converted_to", u"encoding", u"UTF-16", u"length", text_.size());
  }
  AddEntry(u"read", u"encoding", encoding.empty() ? std::u16string_view(u"ANSI") : encoding, u"length",
           unitsRead);
}

void XmlDocument::ClearIndex() {
  blocks_.clear();
  blockSizes_.clear();
  capacity_ = 0;
  used_ = 0;
  parent_ = current_ = child_ = 0;
}

void XmlDocument::Reserve(std::uint32_t records) {
  while (capacity_ < records) {
    const std::size_t block = capacity_ >> 16;
    const std::uint32_t missing = records - capacity_;
    if (block < blocks_.size()) {
      // Only the last, partly sized block is ever reallocated; full blocks stay put.
      const std::uint32_t oldSize = blockSizes_[block];
      const std::uint32_t newSize = std::min<std::uint32_t>(XML_INDEX_BLOCK, oldSize + missing);
      std::unique_ptr<ElementPosition[]> grown(new ElementPosition[newSize]);
      std::copy(blocks_[block].get(), blocks_[block].get() + oldSize, grown.get());
      blocks_[block] = std::move(grown);
      blockSizes_[block] = newSize;
      capacity_ += newSize - oldSize;
    } else {
      const std::uint32_t size = std::min<std::uint32_t>(XML_INDEX_BLOCK, missing);
      blocks_.emplace_back(new ElementPosition[size]);
      blockSizes_.push_back(size);
      capacity_ += size;
    }
  }
}

std::uint32_t XmlDocument::NewRecord() {
  if (used_ == capacity_) {
    const std::uint64_t grown = std::uint64_t{capacity_} + std::max<std::uint32_t>(capacity_ / 2, 1);
    Reserve(static_cast<std::uint32_t>(std::min<std::uint64_t>(grown, 0xFFFFFFFFu)));
  }
  return used_++;
}

void XmlDocument::AddEntry(const char16_t* entry, const char16_t* textName, std::u16string_view text,
                           const char16_t* numberName, std::uint64_t number, bool hasOffset2,
                           std::uint64_t offset2) {
  if (result_.size() > kResultLimit) return;
  result_ += u'<';
  result_ += entry;
  if (textName != nullptr) {
    result_ += u' ';
    result_ += textName;
    result_ += u"=\"";
    result_ += XmlEscapeAttribute(text);
    result_ += u'"';
  }
  if (numberName != nullptr) {
    result_ += u' ';
    result_ += numberName;
    result_ += u"=\"";
    AppendNumber(number, result_);
    result_ += u'"';
  }
  if (hasOffset2) {
    result_ += u" offset2=\"";
    AppendNumber(offset2, result_);
    result_ += u'"';
  }
  result_ += u"/>";
}

// What the parse keeps while it walks the tokens: the open elements, and
// whether the document is still well-formed.
struct XmlDocument::ParseState {
  bool ignoreCase = false;
  bool wellFormed = true;
  std::vector<OpenTag> open;
  // Built only once an end tag fails to match the innermost element, so that
  // searching outward stays linear however deep the unclosed nesting.
  std::unique_ptr<OpenNameIndex> openNames;

  std::uint32_t Innermost() const { return open.empty() ? 0 : open.back().record; }
  void PopName(std::size_t depth) {
    if (openNames) (*openNames)[open[depth].name].pop_back();
  }
};

bool XmlDocument::Parse() {
  const std::u16string_view t(text_);
  const std::size_t n = t.size();
  StartIndex(n);
  if (n == 0) {
    Rec(0).flags |= XML_DOC_NOT_WELL_FORMED;
    return false;
  }
  ParseState state;
  state.ignoreCase = (flags_ & XML_IGNORE_CASE) != 0;
  std::size_t pos = 0;
  while (pos < n) {
    if (t[pos] != u'<') {
      // White space and text make no record.
      pos = internal::FindAnyOf3(t.data(), pos, n, u'<', u'<', u'<');
      continue;
    }
    const Token tok = NextToken(t, pos);
    pos = tok.end;
    switch (tok.kind) {
      case TokenKind::kStartTag:
      case TokenKind::kEmptyElementTag:
        OpenElement(state, tok.start, tok.end, tok.kind == TokenKind::kEmptyElementTag);
        break;
      case TokenKind::kEndTag:
        CloseElement(state, tok.start, tok.end);
        break;
      case TokenKind::kError:
        MarkIllFormed(state);
        AddEntry(tok.error, nullptr, {}, u"offset", tok.errorOffset);
        break;
      case TokenKind::kUnterminated:
        MarkIllFormed(state);
        AddEntry(u"unterminated_tag_syntax", u"type", tok.error, u"offset", tok.start);
        break;
      default:
        break;
    }
  }
  if (!state.open.empty()) CloseUnended(state, -1, n);
  return FinishParse(state);
}

void XmlDocument::StartIndex(std::size_t textLength) {
  parent_ = current_ = child_ = 0;
  scannedElement_ = 0;
  Reserve(static_cast<std::uint32_t>(textLength / 64 + 8));
  used_ = 1;
  ElementPosition& doc = Rec(0);
  doc = ElementPosition{};
  doc.length = static_cast<std::uint32_t>(textLength);
}

// A start tag: the next record, linked as the last child of the innermost
// open element; unless the tag is empty, the element stays open.
void XmlDocument::OpenElement(ParseState& state, std::size_t start, std::size_t end, bool empty) {
  const std::uint32_t index = NewRecord();
  const std::uint32_t parent = state.Innermost();
  ElementPosition& e = Rec(index);
  e.start = static_cast<std::uint32_t>(start);
  e.startTagLength = static_cast<std::uint32_t>(end - start);
  e.length = e.startTagLength;
  e.endTagLength = 0;
  e.level = static_cast<std::uint32_t>(state.open.size());
  e.flags = 0;
  e.parent = parent;
  e.firstChild = 0;
  e.next = 0;
  ElementPosition& p = Rec(parent);
  if (p.firstChild == 0) {
    p.firstChild = index;
    e.previous = index;
    e.flags |= XML_ELEM_FIRST_CHILD;
  } else {
    ElementPosition& first = Rec(p.firstChild);
    Rec(first.previous).next = index;
    e.previous = first.previous;
    first.previous = index;
  }
  if (empty) return;
  const std::u16string_view t(text_);
  const std::u16string_view name = t.substr(start + 1, NameLength(t, start + 1, end));
  if (state.openNames) (*state.openNames)[name].push_back(static_cast<std::uint32_t>(state.open.size()));
  state.open.push_back({index, name});
}

// An end tag closes the innermost open element of its name; the elements
// open inside that one were never ended. One that matches nothing is a lone
// end tag and is otherwise ignored.
void XmlDocument::CloseElement(ParseState& state, std::size_t start, std::size_t end) {
  const std::u16string_view t(text_);
  const std::u16string_view name = t.substr(start + 2, NameLength(t, start + 2, end));
  std::vector<OpenTag>& open = state.open;
  std::ptrdiff_t match = -1;
  if (!open.empty() && SameName(open.back().name, name, state.ignoreCase)) {
    match = static_cast<std::ptrdiff_t>(open.size()) - 1;
  } else if (!open.empty()) {
    if (!state.openNames) {
      state.openNames =
          std::make_unique<OpenNameIndex>(16, NameHash{state.ignoreCase}, NameEqual{state.ignoreCase});
      for (std::size_t d = 0; d < open.size(); ++d) {
        (*state.openNames)[open[d].name].push_back(static_cast<std::uint32_t>(d));
      }
    }
    const auto found = state.openNames->find(name);
    if (found != state.openNames->end() && !found->second.empty()) match = found->second.back();
  }
  if (match < 0) {
    state.wellFormed = false;
    AddEntry(u"lone_end_tag", u"tagname", name, u"offset", start);
    Rec(state.Innermost()).flags |= XML_ELEM_ILL_FORMED;
    return;
  }
  if (static_cast<std::size_t>(match) + 1 < open.size()) CloseUnended(state, match, start);
  ElementPosition& e = Rec(open.back().record);
  e.length = static_cast<std::uint32_t>(end - e.start);
  e.endTagLength = static_cast<std::uint32_t>(end - start);
  state.PopName(open.size() - 1);
  open.pop_back();
}

void XmlDocument::MarkIllFormed(ParseState& state) {
  state.wellFormed = false;
  Rec(state.Innermost()).flags |= XML_ELEM_ILL_FORMED;
}

// Closes open[keep+1 ..] as never ended (keep == -1: all of them). Their
// children become following siblings, so the whole run is flattened into the
// children of open[keep] in document order, each element moved once.
void XmlDocument::CloseUnended(ParseState& state, std::ptrdiff_t keep, std::size_t offset2) {
  std::vector<OpenTag>& open = state.open;
  state.wellFormed = false;
  const std::uint32_t target = keep >= 0 ? open[static_cast<std::size_t>(keep)].record : 0;
  for (std::size_t d = open.size(); d-- > static_cast<std::size_t>(keep + 1);) {
    ElementPosition& e = Rec(open[d].record);
    AddEntry(u"unended_start_tag", u"tagname", open[d].name, u"offset", e.start, true, offset2);
    e.flags |= XML_ELEM_NEVER_ENDED;
    e.length = e.startTagLength;
    e.endTagLength = 0;
    state.PopName(d);
  }
  bool illFormed = false;
  std::uint32_t last = 0;
  for (std::size_t d = static_cast<std::size_t>(keep + 1); d < open.size(); ++d) {
    const std::uint32_t index = open[d].record;
    ElementPosition& e = Rec(index);
    if (e.flags & XML_ELEM_ILL_FORMED) {
      illFormed = true;
      e.flags &= ~XML_ELEM_ILL_FORMED;
    }
    const std::uint32_t first = e.firstChild;
    if (first == 0) {
      last = index;
      continue;
    }
    ElementPosition& firstRec = Rec(first);
    last = firstRec.previous;
    firstRec.flags &= ~XML_ELEM_FIRST_CHILD;
    firstRec.previous = index;
    e.firstChild = 0;
    e.next = first;
    for (std::uint32_t c = first; c != 0; c = Rec(c).next) Rec(c).parent = target;
  }
  ElementPosition& targetRec = Rec(target);
  Rec(targetRec.firstChild).previous = last;
  if (illFormed) targetRec.flags |= XML_ELEM_ILL_FORMED;
  open.resize(static_cast<std::size_t>(keep + 1));
}

// A well-formed document has exactly one top-level element.
bool XmlDocument::FinishParse(const ParseState& state) {
  bool wellFormed = state.wellFormed;
  const std::uint32_t root = Rec(0).firstChild;
  if (root == 0) {
    AddEntry(u"no_root_element");
    wellFormed = false;
  } else if (Rec(root).next != 0) {
    AddEntry(u"root_has_sibling");
    wellFormed = false;
  }
  if (!wellFormed) Rec(0).flags |= XML_DOC_NOT_WELL_FORMED;
  parent_ = current_ = child_ = 0;
  return wellFormed;
}

void XmlDocument::ResetPosition() { parent_ = current_ = child_ = 0; }

bool XmlDocument::NameIs(std::uint32_t index, std::u16string_view name) const {
  const ElementPosition& e = Rec(index);
  return NameMatches(text_, e.start + 1, e.start + e.startTagLength, name,
                     (flags_ & XML_IGNORE_CASE) != 0);
}

bool XmlDocument::FindNextElement(std::u16string_view name) {
  if (used_ == 0 || (flags_ & XML_WRITE_FILE)) return false;
  std::uint32_t e = current_ != 0 ? Rec(current_).next : Rec(parent_).firstChild;
  for (; e != 0; e = Rec(e).next) {
    if (name.empty() || NameIs(e, name)) {
      current_ = e;
      parent_ = Rec(e).parent;
      child_ = 0;
      return true;
    }
  }
  return false;
}

bool XmlDocument::FindNextChild(std::u16string_view name) {
  if (used_ == 0 || (flags_ & (XML_READ_FILE | XML_WRITE_FILE))) return false;
  if (current_ == 0 && !FindNextElement()) return false;
  std::uint32_t e = child_ != 0 ? Rec(child_).next : Rec(current_).firstChild;
  for (; e != 0; e = Rec(e).next) {
    if (name.empty() || NameIs(e, name)) {
      child_ = e;
      current_ = Rec(e).parent;
      parent_ = Rec(current_).parent;
      if (!name.empty()) {
        // Its name is now known to be `name` long: reading its attributes
        // starts right after it.
        scannedElement_ = e;
        scanned_.clear();
        scanPosition_ = Rec(e).start + 1 + name.size();
      }
      // Callers walk the children in order and read each one's attributes:
      // the next one's start tag is fetched while they read this one.
      if (const std::uint32_t next = Rec(e).next; next != 0) Prefetch(text_.data() + Rec(next).start);
      return true;
    }
  }
  return false;
}

bool XmlDocument::EnterElement() {
  if (current_ == 0) return false;
  parent_ = current_;
  current_ = child_;
  child_ = 0;
  return true;
}

bool XmlDocument::LeaveElement() {
  if (parent_ == 0) return false;
  child_ = current_;
  current_ = parent_;
  parent_ = Rec(parent_).parent;
  return true;
}

std::u16string XmlDocument::AttributeOf(std::uint32_t index, std::u16string_view name) const {
  if (index == 0 || index >= used_ || name.empty()) return {};
  const std::u16string_view t(text_);
  const bool ignoreCase = (flags_ & XML_IGNORE_CASE) != 0;
  const ElementPosition& e = Rec(index);
  const std::size_t tagEnd = e.start + e.startTagLength;
  if (scannedElement_ != index) {
    scannedElement_ = index;
    scanned_.clear();
    scanPosition_ = e.start + 1 + NameLength(t, e.start + 1, tagEnd);
  }
  auto valueOf = [&](const internal::AttributeSpan& a) {
    const std::u16string_view value(text_.data() + a.valueStart, a.valueEnd - a.valueStart);
    return a.hasReference ? XmlUnescape(value) : std::u16string(value);
  };
  // The first attribute of that name counts, so those already read come first.
  for (const internal::AttributeSpan& a : scanned_) {
    if (internal::AttributeNameIs(t, a, name, ignoreCase)) return valueOf(a);
  }
  // Each attribute is read straight into its slot: copying a span that was
  // only just written costs more than reading it. The position is kept in a
  // local meanwhile: held in the document, it would be read back from memory
  // after every write to a slot, which the compiler cannot tell apart from it.
  std::size_t pos = scanPosition_;
  while (pos < tagEnd) {
    internal::AttributeSpan& a = scanned_.emplace_back();
    if (!internal::NextAttribute(t, pos, tagEnd, a)) {
      scanned_.pop_back();
      break;
    }
    if (internal::AttributeNameIs(t, a, name, ignoreCase)) {
      scanPosition_ = pos;
      return valueOf(a);
    }
  }
  scanPosition_ = pos;
  return {};
}

std::u16string XmlDocument::ChildAttribute(std::u16string_view name) const {
  return AttributeOf(child_, name);
}

std::u16string XmlDocument::ElementAttribute(std::u16string_view name) const {
  return AttributeOf(current_, name);
}

std::u16string XmlDocument::ElementData() const {
  if (current_ == 0 || current_ >= used_) return {};
  const ElementPosition& e = Rec(current_);
  if ((e.flags & XML_ELEM_NEVER_ENDED) || e.length == e.startTagLength || e.firstChild != 0) return {};
  const std::u16string_view content = std::u16string_view(text_).substr(
      e.start + e.startTagLength, e.length - e.startTagLength - e.endTagLength);
  // Plain text, the usual content, is looked at in one scan for markup and
  // references together: copied as it is, or unescaped when it has no markup.
  const std::size_t first = internal::FindAnyOf3(content.data(), 0, content.size(), u'<', u'&', u'&');
  if (first == content.size()) return std::u16string(content);
  if (content[first] == u'&' &&
      internal::FindAnyOf3(content.data(), first, content.size(), u'<', u'<', u'<') == content.size()) {
    return XmlUnescape(content);
  }
  std::u16string data;
  std::size_t pos = 0;
  while (pos < content.size()) {
    const Token tok = NextToken(content, pos);
    pos = tok.end;
    if (tok.kind == TokenKind::kText) {
      XmlAppendUnescaped(content.substr(tok.start, tok.end - tok.start), data);
    } else if (tok.kind == TokenKind::kCData) {
      const std::size_t innerEnd = tok.end - 3;
      const std::size_t innerStart = std::min(tok.start + 9, innerEnd);
      data.append(content.substr(innerStart, innerEnd - innerStart));
    }
  }
  return data;
}

}  // namespace veltrona::xml
