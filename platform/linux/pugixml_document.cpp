#include "platform/linux/pugixml_document.h"

#include <sys/stat.h>

#include <algorithm>
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

// The double quotes in the values of an element's attributes, escaped.
void EscapeQuotes(pugi::xml_node node) {
  for (pugi::xml_attribute a : node.attributes()) {
    if (!std::strchr(a.value(), '"')) continue;
    std::string escaped;
    for (const char* c = a.value(); *c; ++c) escaped += *c == '"' ? std::string("&quot;") : std::string(1, *c);
    a.set_value(escaped.c_str());
  }
}

// Attribute values are written between double quotes without escaping; one
// that held a double quote (single-quoted in the file) must be escaped or the
// saved file would not parse. Walked without recursion: a profile may nest
// deeper than the stack would take; root's own attributes count too.
void EscapeQuotesInAttributes(pugi::xml_node root) {
  EscapeQuotes(root);
  pugi::xml_node node = root.first_child();
  while (node) {
    EscapeQuotes(node);
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
  // Where the document element's start tag opens, when the forward scan
  // got there and the end of the file holds no stray text.
  std::size_t root_begin = std::string::npos;
  std::size_t root_end = std::string::npos;  // one past its last '>', when known
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
  layout.root_begin = i;
  const auto unknown = [&layout] {
    TopLevelLayout found;
    found.doctype = layout.doctype;
    found.root_begin = layout.root_begin;
    return found;
  };
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
    if (j == 0 || text[j - 1] != '>') return trailing.empty() ? stray() : unknown();
    std::size_t open;
    // An opening is looked for wholly before the closing: a comment ending
    // "<!-->" or a processing instruction ending "<?>" would otherwise lend
    // its closing characters to a false opening.
    if (j >= 7 && text.compare(j - 3, 3, "-->") == 0) {
      open = text.rfind("<!--", j - 7);
      // A comment holds no "--": otherwise this "-->" ends the document
      // element (a name may end in "--"), and the layout is not known.
      if (open != std::string::npos && text.find("--", open + 4) < j - 3) return unknown();
    } else if (j >= 4 && text.compare(j - 2, 2, "?>") == 0) {
      open = text.rfind("<?", j - 4);
    } else {
      break;
    }
    if (open == std::string::npos || open <= i) return unknown();
    const std::size_t k = SkipSpaceBack(text, open);
    trailing.push_back(text.substr(k, open - k));
    j = k;
  }
  layout.before.insert(layout.before.end(), trailing.rbegin(), trailing.rend());
  layout.root_end = j;
  layout.known = true;
  return layout;
}


// At most one doctype, before the document element: the library takes
// more, and more anywhere, but such a file is not XML, and what it saves of
// it would not load again.
bool DoctypeInPlace(const pugi::xml_document& doc) {
  std::size_t doctypes = 0;
  bool after_root = false;
  for (pugi::xml_node node : doc.children()) {
    if (node.type() == pugi::node_element) after_root = true;
    if (node.type() == pugi::node_doctype && (++doctypes > 1 || after_root)) return false;
  }
  return true;
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

// The library's character classes, which the scans below share with it.
bool IsNameStart(char c) {
  const auto b = static_cast<unsigned char>(c);
  return b >= 0x80 || ((b | 0x20) >= 'a' && (b | 0x20) <= 'z') || c == '_' || c == ':';
}
bool IsNameChar(char c) { return IsNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.'; }
bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

constexpr std::size_t kNone = std::string_view::npos;

// One past the end of the first `close` at or after from; npos if none.
std::size_t Past(std::string_view t, std::size_t from, std::string_view close) {
  const std::size_t at = t.find(close, from);
  return at == kNone ? kNone : at + close.size();
}

// One past the '>' of the start tag opening at `at`, read as the library
// reads it, and its number of attributes; npos for an empty-element tag and
// for anything the library would not take.
std::size_t StartTagEnd(std::string_view t, std::size_t at, std::size_t& attributes) {
  std::size_t i = at + 1;
  const auto name = [&t, &i] {
    if (i >= t.size() || !IsNameStart(t[i])) return false;
    while (i < t.size() && IsNameChar(t[i])) ++i;
    return true;
  };
  const auto space = [&t, &i] {
    while (i < t.size() && IsSpace(t[i])) ++i;
  };
  attributes = 0;
  if (!name() || i >= t.size()) return kNone;
  if (t[i] == '>') return i + 1;
  if (!IsSpace(t[i])) return kNone;
  for (;;) {
    space();
    if (i < t.size() && t[i] == '>') return i + 1;
    if (!name()) return kNone;
    space();
    if (i >= t.size() || t[i] != '=') return kNone;
    ++i;
    space();
    if (i >= t.size() || (t[i] != '"' && t[i] != '\'')) return kNone;
    const std::size_t close = t.find(t[i], i + 1);
    if (close == kNone) return kNone;
    i = close + 1;
    ++attributes;
    if (i < t.size() && IsNameStart(t[i])) return kNone;
  }
}

// Whether the element name starting at `at` is `name`.
bool NameAt(std::string_view t, std::size_t at, std::string_view name) {
  return t.compare(at, name.size(), name) == 0 &&
         (at + name.size() >= t.size() || !IsNameChar(t[at + name.size()]));
}

// The bytes of markup before the place the library reports for a node.
std::ptrdiff_t MarkupBefore(pugi::xml_node_type type) {
  switch (type) {
    case pugi::node_element: return 1;   // "<"
    case pugi::node_pi: return 2;        // "<?"
    case pugi::node_comment: return 4;   // "<!--"
    case pugi::node_cdata: return 9;     // "<![CDATA["
    case pugi::node_pcdata: return 0;
    default: return -1;  // a declaration or doctype, which no element may hold
  }
}

// The first child element with the name. Called for every key in turn:
// the lengths are compared without a pass over the names, which share
// their first letters ("Spd1", "Sp1", "S1").
pugi::xml_node FirstElement(pugi::xml_node parent, std::string_view name) {
  for (pugi::xml_node child : parent.children()) {
    if (child.type() != pugi::node_element) continue;
    const char* n = child.name();
    if (std::strncmp(n, name.data(), name.size()) == 0 && n[name.size()] == '\0') return child;
  }
  return {};
}

// The end of the piece of content that starts at begin: after the first
// child element that ends piece_size or more on, or at the content's end
// (then `last`); npos for anything the scan does not expect. The content
// ends at content_end when that is known, else at the document element's
// end tag. The scan never looks past a known end: an end tag there closes
// no element of the content, however the content's own tags would pair
// with it.
std::size_t PieceEnd(std::string_view text, std::size_t begin, std::size_t content_end, std::size_t piece_size,
                     bool& last) {
  const bool bounded = content_end != kNone;
  if (bounded) text = text.substr(0, content_end);
  std::size_t depth = 0;
  for (std::size_t at = begin;;) {
    const std::size_t lt = text.find('<', at);
    if (lt == kNone && bounded && depth == 0) {
      last = true;
      return content_end;
    }
    if (lt == kNone || lt + 1 >= text.size()) return kNone;
    const char c = text[lt + 1];
    bool closed = false;  // an element ends here
    if (c == '/') {
      if (depth == 0) {
        if (bounded) return kNone;
        last = true;
        return lt;
      }
      at = text.find('>', lt + 2);
      at = at == kNone ? kNone : at + 1;
      closed = true;
      --depth;
    } else if (c == '!') {
      if (text.compare(lt, 4, "<!--") == 0) at = Past(text, lt + 4, "-->");
      else if (text.compare(lt, 9, "<![CDATA[") == 0) at = Past(text, lt + 9, "]]>");
      else return kNone;
    } else if (c == '?') {
      at = Past(text, lt + 2, "?>");
    } else if (IsNameStart(c)) {
      // Tags are short: a plain loop beats a search per quote.
      std::size_t k = lt + 2;
      for (char quote = 0; k < text.size(); ++k) {
        const char b = text[k];
        if (quote) quote = b == quote ? 0 : quote;
        else if (b == '"' || b == '\'') quote = b;
        else if (b == '>') break;
      }
      if (k == text.size()) return kNone;
      closed = text[k - 1] == '/';
      if (!closed) ++depth;
      at = k + 1;
    } else {
      return kNone;
    }
    if (at == kNone) return kNone;
    if (closed && depth == 0 && at - begin >= piece_size) return at;
  }
}

// Where the document element's end tag starts, when the element's last
// '>' (root_end, one past it) closes an end tag with its name; npos if not.
std::size_t EndTagBefore(std::string_view text, std::size_t root_begin, std::size_t root_end) {
  if (root_end == kNone || root_end == 0) return kNone;
  std::size_t name_end = root_begin + 1;
  while (name_end < text.size() && IsNameChar(text[name_end])) ++name_end;
  const std::string_view name = text.substr(root_begin + 1, name_end - root_begin - 1);
  std::size_t at = root_end - 1;  // the '>'
  while (at > 0 && IsSpace(text[at - 1])) --at;
  if (at < name.size() + 2) return kNone;
  at -= name.size() + 2;
  return text.compare(at, 2, "</") == 0 && text.substr(at + 2, name.size()) == name ? at : kNone;
}

// Content of the document element is parsed in pieces of about this size,
// each in the same small document, so the memory the parse takes stays the
// same whatever the file's size.
constexpr std::size_t kPieceSize = 64 * 1024;

}  // namespace

struct PugiXmlDocument::Impl {
  std::string buffer;  // the file's text, which the document is parsed in
  pugi::xml_document doc;
  pugi::xml_encoding encoding = pugi::encoding_utf8;
  ByteEncoding bytes = ByteEncoding::kNone;  // converted here, not by the library
  bool bom = false;
  TopLevelLayout layout;

  // A whole document in the library takes several times the file in
  // memory, which a large profile pays for in page faults on every load.
  // So, as a rule, the document element's content stays the file's text:
  // doc holds the file without it, and a child element of the document
  // element is parsed into doc only when asked for. Saved, the text is
  // written as it is, with those children printed in their places.
  bool spliced = false;
  std::size_t piece_size = kPieceSize;  // 0: never spliced
  std::string skeleton;  // the file less that content; doc is parsed in it
  std::size_t content_begin = 0, content_end = 0;  // of that content in buffer
  struct Range {
    std::size_t begin, end;
  };
  std::vector<Range> children;  // the document element's child elements in buffer
  struct Parsed {
    std::size_t child;  // index in children
    pugi::xml_node node;  // null once removed
  };
  std::vector<Parsed> parsed;
  std::string missing;  // a name none of the file's children has

  bool LoadSpliced(const TopLevelLayout& layout);
  void ForgetSplice();
  bool CheckPiece(std::size_t begin, std::size_t end, pugi::xml_document& piece, std::string& scratch);
  XmlElement SplicedChild(std::string_view name);
  bool IsParsedChild(pugi::xml_node node) const;
  void WriteSpliced(DocumentWriter& writer) const;
  void Unsplice(pugi::xml_node touched);
};

// Parsed from the file as it stands: the prolog with the document
// element's start tag, the content in pieces that end where a child element
// ends, and the end tag with what follows. The library reads content the
// same at any place in an element, so the pieces parsing (none holding a
// declaration or doctype, which only a document may) is the content
// parsing; it also tells where each child element lies. Anything the scan
// does not expect leaves the whole document to the library.
bool PugiXmlDocument::Impl::LoadSpliced(const TopLevelLayout& layout) {
  const std::string_view text = buffer;
  std::size_t attributes = 0;
  content_begin = StartTagEnd(text, layout.root_begin, attributes);
  if (content_begin == kNone) return false;
  content_end = EndTagBefore(text, layout.root_begin, layout.root_end);
  pugi::xml_document piece;
  std::string scratch;
  // What stands before a child element of the document element, when that
  // is a line's indentation: the pieces end where it is found again. Once
  // that guess fails the parse, the rest is scanned.
  std::string indent;
  bool guess = true;
  for (std::size_t begin = content_begin;;) {
    if (!indent.empty() && content_end != kNone) {
      std::size_t end = text.find(indent, begin + piece_size);
      while (end < content_end && !IsNameStart(text[end + indent.size()])) end = text.find(indent, end + 1);
      const bool last = end >= content_end;
      end = last ? content_end : end + indent.size() - 1;
      const std::size_t known = children.size();
      if (CheckPiece(begin, end, piece, scratch)) {
        if (last) break;
        begin = end;
        continue;
      }
      children.resize(known);
      indent.clear();
      guess = false;
    }
    bool last = false;
    const std::size_t end = PieceEnd(text, begin, content_end, piece_size, last);
    if (end == kNone || !CheckPiece(begin, end, piece, scratch)) return false;
    if (last) {
      content_end = end;
      break;
    }
    if (guess && !children.empty() && children.back().begin >= begin) {
      const std::size_t child = children.back().begin, line = text.rfind('\n', child);
      if (line != kNone && text.find_first_not_of(" \t", line + 1) == child)
        indent = text.substr(line, child + 1 - line);
    }
    begin = end;
  }

  skeleton.reserve(content_begin + text.size() - content_end);
  skeleton.assign(text.substr(0, content_begin)).append(text.substr(content_end));
  const pugi::xml_parse_result result =
      doc.load_buffer_inplace(skeleton.data(), skeleton.size(), kParseOptions,
                              bytes != ByteEncoding::kNone ? pugi::encoding_utf8 : pugi::encoding_auto);
  if (!result || result.encoding != pugi::encoding_utf8) return false;
  // The document element the library found is the one scanned, with its
  // attributes and without content; no other element stands beside it.
  const pugi::xml_node root = doc.document_element();
  std::size_t elements = 0, found = 0;
  for (pugi::xml_node node : doc.children()) elements += node.type() == pugi::node_element;
  for ([[maybe_unused]] pugi::xml_attribute a : root.attributes()) ++found;
  if (elements != 1 || root.offset_debug() != static_cast<std::ptrdiff_t>(layout.root_begin + 1) || root.first_child() ||
      found != attributes || !DoctypeInPlace(doc))
    return false;
  encoding = pugi::encoding_utf8;
  spliced = true;
  return true;
}

// Parses content between begin and end as it would be parsed inside the
// document element, and takes the place of each child element.
bool PugiXmlDocument::Impl::CheckPiece(std::size_t begin, std::size_t end, pugi::xml_document& piece,
                                       std::string& scratch) {
  if (begin == end) return true;
  // A '<' that ends a piece opens markup that goes on past it; the library
  // takes it for text there, in the whole file it need not.
  if (begin > end || buffer[end - 1] == '<') return false;
  // Ended by a NUL, where the library stops: the last byte of a buffer is
  // otherwise its end mark, and a piece ending in a one-byte text would
  // lose that text's node.
  scratch.assign(buffer, begin, end - begin);
  scratch += '\0';
  // White space between nodes and the texts of elements take no nodes of
  // their own here (the parse is the same; only less is kept of it).
  constexpr unsigned kPieceOptions =
      (kParseOptions & ~pugi::parse_ws_pcdata) | pugi::parse_embed_pcdata | pugi::parse_fragment;
  if (!piece.load_buffer_inplace(scratch.data(), scratch.size(), kPieceOptions, pugi::encoding_utf8)) return false;
  // Every byte of the content belongs to a node or to white space between
  // them: an element ends where the white space before the next node starts.
  const auto close_last = [this](std::size_t next) {
    if (!children.empty() && children.back().end == kNone) children.back().end = SkipSpaceBack(buffer, next);
  };
  for (pugi::xml_node node : piece.children()) {
    const std::ptrdiff_t markup = MarkupBefore(node.type()), offset = node.offset_debug();
    if (markup < 0 || offset < markup) return false;
    const std::size_t start = begin + static_cast<std::size_t>(offset - markup);
    close_last(start);
    if (node.type() == pugi::node_element) children.push_back({start, kNone});
  }
  close_last(end);
  return true;
}

bool PugiXmlDocument::Impl::IsParsedChild(pugi::xml_node node) const {
  for (const Parsed& p : parsed)
    if (p.node == node) return true;
  return false;
}

// The first child element of the document element with the name: one of
// the file's, parsed now if it was not yet, or else one appended since.
XmlElement PugiXmlDocument::Impl::SplicedChild(std::string_view name) {
  pugi::xml_node root = doc.document_element();
  // A profile without the section is asked for it once per key until a
  // write makes it; the file's children never gain one.
  for (std::size_t i = name == missing ? children.size() : 0; i < children.size(); ++i) {
    if (!NameAt(buffer, children[i].begin + 1, name)) continue;
    auto p = std::find_if(parsed.begin(), parsed.end(), [i](const Parsed& x) { return x.child == i; });
    if (p != parsed.end()) {
      if (!p->node) continue;  // removed
      return ElementOf(p->node);
    }
    const pugi::xml_node last = root.last_child();
    const Range& r = children[i];
    const bool parsed_one =
        root.append_buffer(buffer.data() + r.begin, r.end - r.begin, kParseOptions, pugi::encoding_utf8) &&
        root.last_child().type() == pugi::node_element && root.last_child().previous_sibling() == last;
    pugi::xml_node node = root.last_child();
    if (!parsed_one) {
      // Not the one element the pieces showed (it cannot be): the document
      // is taken whole rather than trusted in pieces.
      while (root.last_child() != last) root.remove_child(root.last_child());
      Unsplice({});
      return ElementOf(FirstElement(root, name));
    }
    EscapeQuotesInAttributes(node);
    parsed.push_back({i, node});
    return ElementOf(node);
  }
  missing = name;
  for (pugi::xml_node child : root.children())
    if (child.type() == pugi::node_element && !IsParsedChild(child) && name == child.name())
      return ElementOf(child);
  return {};
}

void PugiXmlDocument::Impl::WriteSpliced(DocumentWriter& writer) const {
  const std::string_view text = buffer;
  std::vector<Parsed> order = parsed;
  std::sort(order.begin(), order.end(), [](const Parsed& a, const Parsed& b) { return a.child < b.child; });
  std::size_t at = 0;
  for (const Parsed& p : order) {
    const Range& r = children[p.child];
    writer.Put(text.substr(at, r.begin - at));
    if (p.node) p.node.print(writer, "", kSaveOptions, encoding);
    at = r.end;
  }
  writer.Put(text.substr(at, content_end - at));
  // Children appended since the load, after the file's.
  for (pugi::xml_node child : doc.document_element().children())
    if (!IsParsedChild(child)) child.print(writer, "", kSaveOptions, encoding);
  writer.Put(text.substr(content_end));
}

// The whole document in the library after all, before an operation on
// the document element itself (none the store makes): the file's children
// not yet parsed are parsed in their places around those that were.
void PugiXmlDocument::Impl::Unsplice(pugi::xml_node touched) {
  pugi::xml_node root = doc.document_element();
  if (!spliced || (touched && touched != root)) return;
  std::vector<pugi::xml_node> appended;
  for (pugi::xml_node child : root.children())
    if (!IsParsedChild(child)) appended.push_back(child);
  std::vector<Parsed> order = parsed;
  std::sort(order.begin(), order.end(), [](const Parsed& a, const Parsed& b) { return a.child < b.child; });
  // Each part goes to the end in turn: the text before a parsed child, the
  // child, and so on, then the appended ones.
  // The library skips a byte order mark opening any buffer it parses; one
  // that opens a part here is a character of the content, so another mark
  // is put before it to be skipped in its place.
  constexpr std::string_view kBom = "\xEF\xBB\xBF";
  std::string marked;
  const auto parse = [this, &root, &marked, kBom](std::size_t from, std::size_t to) {
    if (from >= to) return;
    std::string_view part(buffer.data() + from, to - from);
    if (part.starts_with(kBom)) {
      marked.assign(kBom).append(part);
      part = marked;
    }
    root.append_buffer(part.data(), part.size(), kParseOptions | pugi::parse_fragment, pugi::encoding_utf8);
  };
  std::size_t at = content_begin;
  for (const Parsed& p : order) {
    parse(at, children[p.child].begin);
    if (p.node) root.append_move(p.node);
    at = children[p.child].end;
  }
  parse(at, content_end);
  for (pugi::xml_node node : appended) root.append_move(node);
  EscapeQuotesInAttributes(doc);
  // Saved whole, the text around the top-level nodes comes from the file.
  TopLevelLayout scanned = ScanLayout(buffer, bom ? 3 : 0);
  std::size_t nodes = 0, index = 0;
  for (pugi::xml_node node : doc.children()) {
    if (node == root) index = nodes;
    ++nodes;
  }
  if (SameDoctype(scanned.doctype, doc) && scanned.known && nodes == scanned.before.size() && index == scanned.root)
    layout = std::move(scanned);
  spliced = false;
  parsed.clear();
  children = {};
}

PugiXmlDocument::PugiXmlDocument() : impl_(std::make_unique<Impl>()) {}
PugiXmlDocument::~PugiXmlDocument() = default;

void PugiXmlDocument::SetPieceSize(std::size_t bytes) { impl_->piece_size = bytes; }

void PugiXmlDocument::Impl::ForgetSplice() {
  doc.reset();
  spliced = false;
  skeleton = {};
  children = {};
  parsed.clear();
  missing.clear();
}

XmlLoadResult PugiXmlDocument::Load(const std::string& path) {
  impl_->ForgetSplice();
  impl_->buffer.clear();
  impl_->layout = {};
  impl_->encoding = pugi::encoding_utf8;
  impl_->bytes = ByteEncoding::kNone;
  impl_->bom = false;
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
  while (filled < bytes.size() && (n = std::fread(bytes.data() + filled, 1, bytes.size() - filled, f)) > 0)
    filled += n;
  bytes.resize(filled);
  // A file that grew since the stat is read to its end; only then does the
  // buffer grow (which copies it).
  char more[4096];
  while ((n = std::fread(more, 1, sizeof more, f)) > 0) bytes.append(more, n);
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
  // A NUL byte is no character of XML; parsing in place, the library would
  // take it for the end of the text and call what came before a document.
  const bool nul = bytes.find('\0') != std::string::npos;
  if (!nul && impl_->piece_size != 0 && layout.root_begin != std::string::npos && impl_->LoadSpliced(layout))
    return XmlLoadResult::kLoaded;
  impl_->ForgetSplice();
  const bool quotes = MayHaveQuoteInAttribute(bytes);
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
  if (elements > 1 || !DoctypeInPlace(impl_->doc)) return unreadable();
  if (result.encoding == pugi::encoding_utf8) {
    if (nul) return unreadable();
    // Stray text the scan met before any doctype stands there however the
    // library reads a doctype further on.
    if (layout.stray_text && layout.doctype.empty()) return unreadable();
    if (!SameDoctype(layout.doctype, impl_->doc)) layout = {};
    if (layout.stray_text) return unreadable();
    if (layout.known && nodes == layout.before.size() && root == layout.root) impl_->layout = std::move(layout);
  }
  if (result.encoding != pugi::encoding_utf8 || quotes) EscapeQuotesInAttributes(impl_->doc);
  return XmlLoadResult::kLoaded;
}

XmlElement PugiXmlDocument::DocumentElement() { return ElementOf(impl_->doc.document_element()); }

XmlElement PugiXmlDocument::AppendDocumentElement(std::string_view name) {
  impl_->Unsplice({});
  return ElementOf(impl_->doc.append_child(std::string(name).c_str()));
}

XmlElement PugiXmlDocument::FirstChildElement(XmlElement parent, std::string_view name) {
  if (!parent) return {};
  if (impl_->spliced && NodeOf(parent) == impl_->doc.document_element()) return impl_->SplicedChild(name);
  return ElementOf(FirstElement(NodeOf(parent), name));
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
  if (!element) return text;
  impl_->Unsplice(NodeOf(element));
  NodeOf(element).traverse(collector);
  return text;
}

void PugiXmlDocument::SetText(XmlElement element, std::string_view text) {
  if (!element) return;
  pugi::xml_node node = NodeOf(element);
  impl_->Unsplice(node);
  while (node.first_child()) node.remove_child(node.first_child());
  if (!text.empty())
    node.append_child(pugi::node_pcdata).set_value(EscapeText(text, impl_->bytes, impl_->encoding).c_str());
}

void PugiXmlDocument::Remove(XmlElement element) {
  if (!element) return;
  pugi::xml_node node = NodeOf(element);
  impl_->Unsplice(node);
  for (Impl::Parsed& p : impl_->parsed)
    if (p.node == node) p.node = {};  // the file's text of it is left out
  node.parent().remove_child(node);
}

bool PugiXmlDocument::Write(const ContentSink& sink) const {
  DocumentWriter writer(sink, impl_->bytes);
  unsigned flags = kSaveOptions;
  if (impl_->bom) flags |= pugi::format_write_bom;
  if (impl_->spliced) {
    impl_->WriteSpliced(writer);
    return writer.Finish();
  }
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
