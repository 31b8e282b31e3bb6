#include "platform/linux/pugixml_document.h"

#include <sys/stat.h>

#include <cstdio>
#include <cerrno>
#include <cstring>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "common/text.h"
#include "common/utf8.h"

namespace k2t::linux_platform {

namespace {

// Entity and character references are left unexpanded and line ends and
// attribute whitespace unnormalised, so an unchanged document saves back
// byte for byte; the module escapes and unescapes its own texts.
constexpr unsigned kParseOptions = pugi::parse_cdata | pugi::parse_pi | pugi::parse_comments |
                                   pugi::parse_declaration | pugi::parse_doctype |
                                   pugi::parse_ws_pcdata;
constexpr unsigned kSaveOptions = pugi::format_raw | pugi::format_no_escapes | pugi::format_no_declaration;

pugi::xml_node NodeOf(XmlElement e) {
  return pugi::xml_node(static_cast<pugi::xml_node_struct*>(e.handle));
}
XmlElement ElementOf(pugi::xml_node n) { return XmlElement{n ? n.internal_object() : nullptr}; }

bool HasBom(const std::string& bytes) {
  auto starts = [&bytes](const char* bom, std::size_t n) {
    return bytes.size() >= n && bytes.compare(0, n, bom, n) == 0;
  };
  return starts("\xEF\xBB\xBF", 3) || starts("\xFE\xFF", 2) || starts("\xFF\xFE", 2);
}

constexpr const char* kXmlSpace = " \t\r\n";

bool OnlyWhitespace(const std::string& bytes) {
  return bytes.find_first_not_of(kXmlSpace) == std::string::npos;
}

// Attribute values are written between double quotes without escaping; one
// that held a double quote (single-quoted in the file) must be escaped or the
// saved file would not parse. Walked without recursion: a profile may nest
// deeper than the stack would take.
void EscapeQuotesInAttributes(pugi::xml_node root) {
  pugi::xml_node node = root.first_child();
  while (node) {
    for (pugi::xml_attribute a : node.attributes()) {
      if (!std::strchr(a.value(), '"')) continue;
      std::string escaped;
      for (const char* c = a.value(); *c; ++c) escaped += *c == '"' ? std::string("&quot;") : std::string(1, *c);
      a.set_value(escaped.c_str());
    }
    if (node.first_child()) {
      node = node.first_child();
      continue;
    }
    while (node && !node.next_sibling()) node = node.parent() == root ? pugi::xml_node() : node.parent();
    if (node) node = node.next_sibling();
  }
}

// Whether a UTF-8 text may hold a single-quoted attribute value with a
// double quote in it, the only kind EscapeQuotesInAttributes changes. A look
// at the bytes spares the walk over every node of a large profile; text that
// merely looks like such a value costs only the walk.
bool MayHaveQuoteInAttribute(std::string_view text) {
  for (std::size_t open = text.find('\''); open != std::string_view::npos; open = text.find('\'', open + 1)) {
    if (open == 0) continue;
    const std::size_t before = text.find_last_not_of(kXmlSpace, open - 1);
    if (before == std::string_view::npos || text[before] != '=') continue;
    // Every such quote is looked at as an opening one: one inside a comment
    // or text must not take the place of a real attribute's.
    const std::size_t close = text.find('\'', open + 1);
    if (close == std::string_view::npos) return true;
    if (text.substr(open + 1, close - open - 1).find('"') != std::string_view::npos) return true;
  }
  return false;
}

// The single-byte encodings a profile may declare, which the library would
// read as UTF-8 (or, for Latin-1, convert without a way back for characters
// it cannot write). Such a file is turned into UTF-8 before parsing and back
// when saved; every byte maps to one character and back, so the host's
// content survives byte for byte.
enum class ByteEncoding { kNone, kLatin1, kWindows1252, kAscii };

// Windows-1252 at 0x80..0x9F; its five unassigned bytes map to the control
// characters of the same value, as the system's own conversion does.
constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char32_t DecodeByte(unsigned char b, ByteEncoding e) {
  if (e == ByteEncoding::kWindows1252 && b >= 0x80 && b <= 0x9F) return kWindows1252High[b - 0x80];
  return b;  // Latin-1; in an ASCII file a stray high byte is kept as Latin-1
}

// The byte for a character, or -1.
int EncodeChar(char32_t cp, ByteEncoding e) {
  if (e == ByteEncoding::kWindows1252 && cp >= 0x80) {
    if (cp >= 0xA0 && cp <= 0xFF) return static_cast<int>(cp);
    for (int i = 0; i < 32; ++i)
      if (kWindows1252High[i] == cp) return 0x80 + i;
    return -1;
  }
  return cp <= 0xFF ? static_cast<int>(cp) : -1;
}

// Whether a text the module writes may hold the character as it is; others
// become character references.
bool Representable(char32_t cp, ByteEncoding e) {
  if (e == ByteEncoding::kAscii) return cp < 0x80;
  return EncodeChar(cp, e) >= 0;
}

// The encoding named in the XML declaration, when it is one of the above.
// White space before the declaration is taken as the library takes it (and
// as a save without the file's layout drops it): the declaration counts.
ByteEncoding DeclaredByteEncoding(std::string_view bytes) {
  constexpr std::string_view kSpace = " \t\r\n";
  const std::size_t first = bytes.find_first_not_of(kSpace);
  if (first == std::string_view::npos) return ByteEncoding::kNone;
  bytes.remove_prefix(first);
  if (bytes.size() < 6 || bytes.substr(0, 5) != "<?xml" || kSpace.find(bytes[5]) == kSpace.npos)
    return ByteEncoding::kNone;
  const std::size_t end = bytes.find("?>");
  if (end == std::string_view::npos) return ByteEncoding::kNone;
  const std::string_view decl = bytes.substr(0, end);
  std::size_t at = decl.find("encoding");
  if (at == std::string_view::npos) return ByteEncoding::kNone;
  at = decl.find_first_not_of(" \t\r\n", at + 8);
  if (at == std::string_view::npos || decl[at] != '=') return ByteEncoding::kNone;
  at = decl.find_first_not_of(" \t\r\n", at + 1);
  if (at == std::string_view::npos || (decl[at] != '"' && decl[at] != '\'')) return ByteEncoding::kNone;
  const std::size_t close = decl.find(decl[at], at + 1);
  if (close == std::string_view::npos) return ByteEncoding::kNone;
  const std::string_view name = decl.substr(at + 1, close - at - 1);
  for (const char* n : {"iso-8859-1", "iso_8859-1", "latin1"})
    if (EqualsIgnoreCase(name, n)) return ByteEncoding::kLatin1;
  for (const char* n : {"windows-1252", "cp1252"})
    if (EqualsIgnoreCase(name, n)) return ByteEncoding::kWindows1252;
  for (const char* n : {"us-ascii", "ascii"})
    if (EqualsIgnoreCase(name, n)) return ByteEncoding::kAscii;
  return ByteEncoding::kNone;
}

std::string DecodeBytes(std::string_view bytes, ByteEncoding e) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 8);
  for (char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x80) out += c;
    else AppendUtf8(out, DecodeByte(b, e));
  }
  return out;
}

// Whether a text starts with the beginning of a UTF-8 sequence that the
// next piece of a document may complete.
bool IncompleteSequence(std::string_view text) {
  const auto lead = static_cast<unsigned char>(text[0]);
  const std::size_t length = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
  if (length == 0 || text.size() >= length || lead > 0xF4) return false;
  for (std::size_t i = 1; i < text.size(); ++i)
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) return false;
  return true;
}

// The document's text on its way to the file, in pieces. In a file of a
// single-byte encoding each character of the library's UTF-8 becomes its
// byte: everything came from the file or from EscapeText, so every character
// has one; anything else would be a fault, and becomes '?' rather than bytes
// of another encoding.
class DocumentWriter final : public pugi::xml_writer {
 public:
  DocumentWriter(const ContentSink& sink, ByteEncoding encoding) : sink_(sink), encoding_(encoding) {}

  void write(const void* data, std::size_t size) override {
    Put(std::string_view(static_cast<const char*>(data), size));
  }

  void Put(std::string_view text) {
    if (!ok_) return;
    if (encoding_ == ByteEncoding::kNone) {
      ok_ = sink_(text.data(), text.size());
      return;
    }
    std::string joined;
    if (!carry_.empty()) {
      joined = carry_;
      joined.append(text);
      text = joined;
      carry_.clear();
    }
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
      if (static_cast<unsigned char>(text[0]) < 0x80) {
        out += text[0];
        text.remove_prefix(1);
        continue;
      }
      char32_t cp;
      const std::size_t n = DecodeUtf8(text, cp);
      if (cp == kInvalidUtf8 && IncompleteSequence(text)) {
        carry_.assign(text);
        break;
      }
      const int b = cp == kInvalidUtf8 ? -1 : EncodeChar(cp, encoding_);
      out += b < 0 ? '?' : static_cast<char>(b);
      text.remove_prefix(n);
    }
    ok_ = sink_(out.data(), out.size());
  }

  bool Finish() {
    if (!carry_.empty()) {
      const std::string rest(carry_.size(), '?');
      carry_.clear();
      if (ok_) ok_ = sink_(rest.data(), rest.size());
    }
    return ok_;
  }

 private:
  const ContentSink& sink_;
  ByteEncoding encoding_;
  std::string carry_;  // a character cut between two pieces
  bool ok_ = true;
};

// The library keeps no text outside the document element, so the white
// space between the declaration, comments, the document element and the
// end of the file is taken from the file and put back on save. Found before
// parsing (the parse works in the file's buffer), by scanning forward over
// the nodes before the document element and backward over those after it,
// then checked against the nodes the library found; anything unexpected
// leaves the layout unknown (saved without it).
struct TopLevelLayout {
  std::vector<std::string> before;  // white space before each top-level node
  std::string after;                // after the last one
  std::size_t root = 0;             // the document element's place among them
  bool known = false;
  // Text other than white space outside every node, which the library
  // drops without a word: the file is not well-formed XML.
  bool stray_text = false;
  // The doctype as the scan found it: it must be the library's, or neither
  // the layout nor the stray text after it can be trusted.
  std::string doctype;
};

// First index at or after i that is not XML white space (size() if none).
std::size_t SkipSpace(const std::string& t, std::size_t i) {
  const std::size_t at = t.find_first_not_of(kXmlSpace, i);
  return at == std::string::npos ? t.size() : at;
}

// Start of the run of XML white space that ends just before j.
std::size_t SkipSpaceBack(const std::string& t, std::size_t j) {
  if (j == 0) return 0;
  const std::size_t at = t.find_last_not_of(kXmlSpace, j - 1);
  return at == std::string::npos ? 0 : at + 1;
}

// End (one past) of the top-level construct starting at i; npos if unknown.
std::size_t ConstructEnd(const std::string& t, std::size_t i) {
  auto past = [&t](std::size_t from, const char* close) {
    const std::size_t at = t.find(close, from);
    return at == std::string::npos ? at : at + std::strlen(close);
  };
  if (t.compare(i, 4, "<!--") == 0) return past(i + 4, "-->");
  if (t.compare(i, 2, "<?") == 0) return past(i + 2, "?>");
  if (t.compare(i, 9, "<!DOCTYPE") == 0) {
    // Quoted literals and comments may hold brackets and '>'.
    int depth = 0;
    for (std::size_t j = i + 9; j < t.size(); ++j) {
      if (t[j] == '"' || t[j] == '\'') {
        j = t.find(t[j], j + 1);
        if (j == std::string::npos) break;
      } else if (t.compare(j, 4, "<!--") == 0) {
        j = t.find("-->", j + 4);
        if (j == std::string::npos) break;
        j += 2;
      } else if (t[j] == '[') {
        ++depth;
      } else if (t[j] == ']') {
        --depth;
      } else if (t[j] == '>' && depth <= 0) {
        return j + 1;
      }
    }
  }
  return std::string::npos;
}

TopLevelLayout ScanLayout(const std::string& text, std::size_t start) {
  TopLevelLayout layout;
  const auto stray = [&layout] {
    TopLevelLayout found;
    found.stray_text = true;
    found.doctype = layout.doctype;
    return found;
  };
  // Forward to the document element: the first '<' that opens no comment,
  // processing instruction or doctype.
  std::size_t i = start;
  for (;;) {
    const std::size_t next = SkipSpace(text, i);
    if (next >= text.size() || text[next] != '<') return stray();
    layout.before.push_back(text.substr(i, next - i));
    if (next + 1 < text.size() && text[next + 1] != '!' && text[next + 1] != '?') {
      i = next;
      break;
    }
    i = ConstructEnd(text, next);
    if (i == std::string::npos) return {};
    if (text.compare(next, 9, "<!DOCTYPE") == 0) layout.doctype = text.substr(next, i - next);
  }
  layout.root = layout.before.size() - 1;  // i: where the document element starts
  // Backward from the end to the document element's last '>', which ends
  // no comment ("-->") and no processing instruction ("?>").
  std::size_t j = SkipSpaceBack(text, text.size());
  layout.after = text.substr(j);
  std::vector<std::string> trailing;
  for (;;) {
    // Every node ends with '>': anything else at the end of the file is
    // stray text. Further back it may as well be a processing instruction
    // that holds "<?" (found backward, its opening is not certain), so the
    // layout is then only unknown.
    if (j == 0 || text[j - 1] != '>') return trailing.empty() ? stray() : TopLevelLayout{};
    std::size_t open;
    // An opening is looked for wholly before the closing: a comment ending
    // "<!-->" or a processing instruction ending "<?>" would otherwise lend
    // its closing characters to a false opening.
    if (j >= 7 && text.compare(j - 3, 3, "-->") == 0) {
      open = text.rfind("<!--", j - 7);
      // A comment holds no "--": otherwise this "-->" ends the document
      // element (a name may end in "--"), and the layout is not known.
      if (open != std::string::npos && text.find("--", open + 4) < j - 3) return {};
    } else if (j >= 4 && text.compare(j - 2, 2, "?>") == 0) {
      open = text.rfind("<?", j - 4);
    } else {
      break;
    }
    if (open == std::string::npos || open <= i) return {};
    const std::size_t k = SkipSpaceBack(text, open);
    trailing.push_back(text.substr(k, open - k));
    j = k;
  }
  layout.before.insert(layout.before.end(), trailing.rbegin(), trailing.rend());
  layout.known = true;
  return layout;
}


// Whether the scan's doctype ("<!DOCTYPE ... >", or none) is the one the
// library parsed: its text, less the white space around it.
bool SameDoctype(const std::string& scanned, const pugi::xml_document& doc) {
  pugi::xml_node parsed;
  for (pugi::xml_node node : doc.children())
    if (node.type() == pugi::node_doctype) parsed = node;
  if (scanned.empty() || !parsed) return scanned.empty() && !parsed;
  const std::size_t first = scanned.find_first_not_of(kXmlSpace, 9);
  const std::size_t last = scanned.find_last_not_of(kXmlSpace, scanned.size() - 2);
  std::string_view value = parsed.value();
  while (!value.empty() && std::strchr(kXmlSpace, value.back())) value.remove_suffix(1);
  if (first == std::string::npos || last == std::string::npos || last < first) return value.empty();
  return value == std::string_view(scanned).substr(first, last - first + 1);
}

// Character data as the module writes it: markup characters escaped and, in
// a file of a single-byte encoding, every character it cannot hold as a
// character reference. A UTF-8 file takes the text's bytes as they are.
std::string EscapeText(std::string_view text, ByteEncoding bytes, pugi::xml_encoding encoding) {
  const bool raw = bytes == ByteEncoding::kNone && encoding == pugi::encoding_utf8;
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    const char c = text[0];
    if (c == '&' || c == '<' || c == '>') {
      out += c == '&' ? "&amp;" : c == '<' ? "&lt;" : "&gt;";
      text.remove_prefix(1);
    } else if (raw || static_cast<unsigned char>(c) < 0x80) {
      out += c;
      text.remove_prefix(1);
    } else {
      char32_t cp;
      const std::size_t n = DecodeUtf8(text, cp);
      if (cp == kInvalidUtf8) cp = 0xFFFD;
      if (bytes == ByteEncoding::kNone || Representable(cp, bytes)) {
        AppendUtf8(out, cp);
      } else {
        out += "&#";
        out += std::to_string(static_cast<unsigned long>(cp));
        out += ';';
      }
      text.remove_prefix(n);
    }
  }
  return out;
}

bool IsXmlChar(unsigned long cp) {
  return cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF) ||
         (cp >= 0xE000 && cp <= 0xFFFD) || (cp >= 0x10000 && cp <= 0x10FFFF);
}

// A character reference at the start of raw ("&#65;", "&#x41;"): its length
// and character, or 0 when it is not one XML allows (no digits, other
// characters before the ';', a value that is no XML character).
std::size_t CharacterReference(std::string_view raw, char32_t& cp) {
  if (raw.size() < 4 || raw[0] != '&' || raw[1] != '#') return 0;
  const bool hex = raw[2] == 'x';
  std::size_t i = hex ? 3 : 2;
  const std::size_t first = i;
  unsigned long value = 0;
  for (; i < raw.size(); ++i) {
    const char c = raw[i];
    int digit;
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (hex && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    else if (hex && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    else break;
    value = value * (hex ? 16 : 10) + static_cast<unsigned long>(digit);
    if (value > 0x10FFFF) value = 0x110000;  // too large, however many digits follow
  }
  if (i == first || i >= raw.size() || raw[i] != ';' || !IsXmlChar(value)) return 0;
  cp = static_cast<char32_t>(value);
  return i + 1;
}

// Character data as stored raw in the document, appended to out as text.
// What is not a well-formed reference (an entity of the doctype's, a
// malformed character reference, a lone '&') is kept as written.
void UnescapeText(std::string_view raw, std::string& out) {
  static constexpr struct {
    std::string_view name;
    char c;
  } kPredefined[] = {{"&lt;", '<'}, {"&gt;", '>'}, {"&amp;", '&'}, {"&quot;", '"'}, {"&apos;", '\''}};
  while (!raw.empty()) {
    const std::size_t amp = raw.find('&');
    out.append(raw.substr(0, amp));
    if (amp == std::string_view::npos) return;
    raw.remove_prefix(amp);
    std::size_t used = 0;
    char32_t cp;
    if ((used = CharacterReference(raw, cp)) != 0) {
      AppendUtf8(out, cp);
    } else {
      for (const auto& p : kPredefined)
        if (raw.substr(0, p.name.size()) == p.name) {
          out += p.c;
          used = p.name.size();
          break;
        }
    }
    if (used == 0) {
      out += '&';
      used = 1;
    }
    raw.remove_prefix(used);
  }
}

}  // namespace

struct PugiXmlDocument::Impl {
  std::string buffer;  // the file's text, which the document is parsed in
  pugi::xml_document doc;
  pugi::xml_encoding encoding = pugi::encoding_utf8;
  ByteEncoding bytes = ByteEncoding::kNone;  // converted here, not by the library
  bool bom = false;
  std::size_t size = 0;  // of the text parsed
  TopLevelLayout layout;
};

PugiXmlDocument::PugiXmlDocument() : impl_(std::make_unique<Impl>()) {}
PugiXmlDocument::~PugiXmlDocument() = default;

XmlLoadResult PugiXmlDocument::Load(const std::string& path) {
  impl_->doc.reset();
  impl_->buffer.clear();
  impl_->layout = {};
  impl_->encoding = pugi::encoding_utf8;
  impl_->bytes = ByteEncoding::kNone;
  impl_->bom = false;
  impl_->size = 0;
  struct stat st{};
  if (path.empty()) return XmlLoadResult::kMissing;
  // Only a file that is not there is missing: one that cannot be looked at
  // (a share that fails, a folder without search permission) must not be
  // replaced by a new profile.
  if (::stat(path.c_str(), &st) != 0) return errno == ENOENT ? XmlLoadResult::kMissing : XmlLoadResult::kUnreadable;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return XmlLoadResult::kUnreadable;
  // Read straight into the buffer the document is parsed in: a host's
  // profile can be megabytes, and each copy of them costs.
  std::string& bytes = impl_->buffer;
  bytes.resize(static_cast<std::size_t>(st.st_size));
  std::size_t filled = 0, n;
  while ((n = std::fread(bytes.data() + filled, 1, bytes.size() - filled, f)) > 0) {
    filled += n;
    if (filled == bytes.size()) bytes.resize(bytes.size() + 65536);  // the file grew
  }
  bytes.resize(filled);
  const bool read_error = std::ferror(f) != 0;
  std::fclose(f);
  if (read_error) return XmlLoadResult::kUnreadable;
  // An empty file holds nothing that could be lost.
  if (OnlyWhitespace(bytes)) return XmlLoadResult::kMissing;
  impl_->bom = HasBom(bytes);
  impl_->bytes = impl_->bom ? ByteEncoding::kNone : DeclaredByteEncoding(bytes);
  if (impl_->bytes != ByteEncoding::kNone) bytes = DecodeBytes(bytes, impl_->bytes);
  // What needs the text as written is taken before the parse changes it.
  TopLevelLayout layout = ScanLayout(bytes, impl_->bom ? 3 : 0);
  const bool quotes = MayHaveQuoteInAttribute(bytes);
  // A NUL byte is no character of XML; parsing in place, the library would
  // take it for the end of the text and call what came before a document.
  const bool nul = bytes.find('\0') != std::string::npos;
  impl_->size = bytes.size();
  const pugi::xml_parse_result result = impl_->doc.load_buffer_inplace(
      bytes.data(), bytes.size(), kParseOptions,
      impl_->bytes != ByteEncoding::kNone ? pugi::encoding_utf8 : pugi::encoding_auto);
  const auto unreadable = [this] {
    impl_->doc.reset();
    impl_->buffer.clear();
    impl_->bytes = ByteEncoding::kNone;
    impl_->bom = false;
    return XmlLoadResult::kUnreadable;
  };
  if (!result) return unreadable();
  impl_->encoding = result.encoding;
  // Byte-oriented scanning suits the encodings whose markup is ASCII.
  // One document element only: the library takes more, and drops the text
  // between them; such a file is not well-formed XML.
  std::size_t nodes = 0, root = 0, elements = 0;
  for (pugi::xml_node node : impl_->doc.children()) {
    if (node == impl_->doc.document_element()) root = nodes;
    if (node.type() == pugi::node_element) ++elements;
    ++nodes;
  }
  if (elements > 1) return unreadable();
  if (result.encoding == pugi::encoding_utf8) {
    if (nul) return unreadable();
    if (!SameDoctype(layout.doctype, impl_->doc)) layout = {};
    if (layout.stray_text) return unreadable();
    if (layout.known && nodes == layout.before.size() && root == layout.root) impl_->layout = std::move(layout);
  }
  if (result.encoding != pugi::encoding_utf8 || quotes) EscapeQuotesInAttributes(impl_->doc);
  return XmlLoadResult::kLoaded;
}

XmlElement PugiXmlDocument::DocumentElement() { return ElementOf(impl_->doc.document_element()); }

XmlElement PugiXmlDocument::AppendDocumentElement(std::string_view name) {
  return ElementOf(impl_->doc.append_child(std::string(name).c_str()));
}

XmlElement PugiXmlDocument::FirstChildElement(XmlElement parent, std::string_view name) {
  if (!parent) return {};
  // Called for every key in turn: the lengths are compared without a pass
  // over the names, which share their first letters ("Spd1", "Sp1", "S1").
  for (pugi::xml_node child : NodeOf(parent).children()) {
    if (child.type() != pugi::node_element) continue;
    const char* n = child.name();
    if (std::strncmp(n, name.data(), name.size()) == 0 && n[name.size()] == '\0') return ElementOf(child);
  }
  return {};
}

XmlElement PugiXmlDocument::AppendChildElement(XmlElement parent, std::string_view name) {
  if (!parent) return {};
  return ElementOf(NodeOf(parent).append_child(std::string(name).c_str()));
}

std::string PugiXmlDocument::Text(XmlElement element) {
  std::string text;
  struct Collector : pugi::xml_tree_walker {
    std::string* out;
    bool for_each(pugi::xml_node& node) override {
      if (node.type() == pugi::node_pcdata) UnescapeText(node.value(), *out);
      else if (node.type() == pugi::node_cdata) *out += node.value();
      return true;
    }
  } collector;
  collector.out = &text;
  if (element) NodeOf(element).traverse(collector);
  return text;
}

void PugiXmlDocument::SetText(XmlElement element, std::string_view text) {
  if (!element) return;
  pugi::xml_node node = NodeOf(element);
  while (node.first_child()) node.remove_child(node.first_child());
  if (!text.empty())
    node.append_child(pugi::node_pcdata).set_value(EscapeText(text, impl_->bytes, impl_->encoding).c_str());
}

void PugiXmlDocument::Remove(XmlElement element) {
  if (!element) return;
  pugi::xml_node node = NodeOf(element);
  node.parent().remove_child(node);
}

bool PugiXmlDocument::Write(const ContentSink& sink) const {
  DocumentWriter writer(sink, impl_->bytes);
  unsigned flags = kSaveOptions;
  if (impl_->bom) flags |= pugi::format_write_bom;
  const TopLevelLayout& layout = impl_->layout;
  std::size_t count = 0;
  for ([[maybe_unused]] pugi::xml_node n : impl_->doc.children()) ++count;
  if (!layout.known || count != layout.before.size()) {
    impl_->doc.save(writer, "", flags, impl_->encoding);
  } else {
    if (impl_->bom) writer.Put("\xEF\xBB\xBF");
    std::size_t i = 0;
    for (pugi::xml_node n : impl_->doc.children()) {
      writer.Put(layout.before[i++]);
      n.print(writer, "", kSaveOptions, impl_->encoding);
    }
    writer.Put(layout.after);
  }
  return writer.Finish();
}

std::string PugiXmlDocument::Serialize() const {
  std::string data;
  Write([&data](const char* piece, std::size_t size) {
    data.append(piece, size);
    return true;
  });
  return data;
}

bool PugiXmlDocument::Save(const std::string& path) {
  return AtomicWriteFile(path, [this](const ContentSink& sink) { return Write(sink); }, &faults_);
}

}  // namespace k2t::linux_platform
