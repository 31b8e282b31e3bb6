#include "platform/linux/pugixml_document.h"

#include <sys/stat.h>

#include <cstdio>
#include <pugixml.hpp>
#include <cstring>
#include <string>
#include <vector>

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

void AppendUtf8(std::string& out, unsigned long cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Attribute values are written between double quotes without escaping; one
// that held a double quote (single-quoted in the file) must be escaped or the
// saved file would not parse.
void EscapeQuotesInAttributes(pugi::xml_node node) {
  for (pugi::xml_attribute a : node.attributes()) {
    std::string value = a.value();
    if (value.find('"') == std::string::npos) continue;
    std::string escaped;
    for (char c : value) escaped += c == '"' ? std::string("&quot;") : std::string(1, c);
    a.set_value(escaped.c_str());
  }
  for (pugi::xml_node child : node.children()) EscapeQuotesInAttributes(child);
}

// The library keeps no text outside the document element, so the white
// space between the declaration, comments, the document element and the
// end of the file is taken from the file and put back on save. Found by
// scanning forward up to the document element and backward from the end;
// anything unexpected leaves the layout unknown (saved without it).
struct TopLevelLayout {
  std::vector<std::string> before;  // white space before each top-level node
  std::string after;                // after the last one
  bool known = false;
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
    int depth = 0;
    for (std::size_t j = i + 9; j < t.size(); ++j) {
      if (t[j] == '[') ++depth;
      else if (t[j] == ']') --depth;
      else if (t[j] == '>' && depth <= 0) return j + 1;
    }
  }
  return std::string::npos;
}

TopLevelLayout ScanLayout(const std::string& text, std::size_t start, std::size_t nodes,
                          std::size_t root) {
  TopLevelLayout layout;
  layout.before.resize(nodes);
  std::size_t i = start;
  for (std::size_t n = 0; n <= root; ++n) {
    const std::size_t next = SkipSpace(text, i);
    layout.before[n] = text.substr(i, next - i);
    if (n == root) break;
    i = ConstructEnd(text, next);
    if (i == std::string::npos) return {};
  }
  std::size_t end = text.size();
  std::size_t j = SkipSpaceBack(text, end);
  layout.after = text.substr(j, end - j);
  for (std::size_t n = nodes; n-- > root + 1;) {
    std::size_t open;
    if (j >= 3 && text.compare(j - 3, 3, "-->") == 0) open = text.rfind("<!--", j - 3);
    else if (j >= 2 && text.compare(j - 2, 2, "?>") == 0) open = text.rfind("<?", j - 2);
    else return {};
    if (open == std::string::npos) return {};
    const std::size_t k = SkipSpaceBack(text, open);
    layout.before[n] = text.substr(k, open - k);
    j = k;
  }
  layout.known = true;
  return layout;
}

struct StringWriter : pugi::xml_writer {
  std::string data;
  void write(const void* bytes, std::size_t size) override {
    data.append(static_cast<const char*>(bytes), size);
  }
};

}  // namespace

struct PugiXmlDocument::Impl {
  pugi::xml_document doc;
  pugi::xml_encoding encoding = pugi::encoding_utf8;
  bool bom = false;
  TopLevelLayout layout;
};

PugiXmlDocument::PugiXmlDocument() : impl_(std::make_unique<Impl>()) {}
PugiXmlDocument::~PugiXmlDocument() = default;

XmlLoadResult PugiXmlDocument::Load(const std::string& path) {
  impl_->doc.reset();
  impl_->layout = {};
  struct stat st{};
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return XmlLoadResult::kMissing;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return XmlLoadResult::kUnreadable;
  std::string bytes;
  char buf[65536];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.append(buf, n);
  const bool read_error = std::ferror(f) != 0;
  std::fclose(f);
  if (read_error) return XmlLoadResult::kUnreadable;
  // An empty file holds nothing that could be lost.
  if (OnlyWhitespace(bytes)) return XmlLoadResult::kMissing;
  const pugi::xml_parse_result result =
      impl_->doc.load_buffer(bytes.data(), bytes.size(), kParseOptions, pugi::encoding_auto);
  if (!result) {
    impl_->doc.reset();
    return XmlLoadResult::kUnreadable;
  }
  impl_->encoding = result.encoding;
  impl_->bom = HasBom(bytes);
  // Byte-oriented scanning suits the encodings whose markup is ASCII.
  if (result.encoding == pugi::encoding_utf8 || result.encoding == pugi::encoding_latin1) {
    std::size_t nodes = 0, root = 0;
    for (pugi::xml_node n : impl_->doc.children()) {
      if (n == impl_->doc.document_element()) root = nodes;
      ++nodes;
    }
    impl_->layout = ScanLayout(bytes, impl_->bom ? 3 : 0, nodes, root);
  }
  EscapeQuotesInAttributes(impl_->doc);
  return XmlLoadResult::kLoaded;
}

XmlElement PugiXmlDocument::DocumentElement() { return ElementOf(impl_->doc.document_element()); }

XmlElement PugiXmlDocument::AppendDocumentElement(std::string_view name) {
  return ElementOf(impl_->doc.append_child(std::string(name).c_str()));
}

XmlElement PugiXmlDocument::FirstChildElement(XmlElement parent, std::string_view name) {
  if (!parent) return {};
  for (pugi::xml_node child : NodeOf(parent).children())
    if (child.type() == pugi::node_element && name == child.name()) return ElementOf(child);
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
      if (node.type() == pugi::node_pcdata) *out += UnescapeText(node.value());
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
  if (!text.empty()) node.append_child(pugi::node_pcdata).set_value(EscapeText(text).c_str());
}

void PugiXmlDocument::Remove(XmlElement element) {
  if (!element) return;
  pugi::xml_node node = NodeOf(element);
  node.parent().remove_child(node);
}

std::string PugiXmlDocument::Serialize() const {
  StringWriter writer;
  unsigned flags = kSaveOptions;
  if (impl_->bom) flags |= pugi::format_write_bom;
  const TopLevelLayout& layout = impl_->layout;
  std::size_t count = 0;
  for ([[maybe_unused]] pugi::xml_node n : impl_->doc.children()) ++count;
  if (!layout.known || count != layout.before.size()) {
    impl_->doc.save(writer, "", flags, impl_->encoding);
    return std::move(writer.data);
  }
  if (impl_->bom) writer.data = "\xEF\xBB\xBF";
  std::size_t i = 0;
  for (pugi::xml_node n : impl_->doc.children()) {
    writer.data += layout.before[i++];
    n.print(writer, "", kSaveOptions, impl_->encoding);
  }
  writer.data += layout.after;
  return std::move(writer.data);
}

bool PugiXmlDocument::Save(const std::string& path) {
  const std::string data = Serialize();
  return AtomicWriteFile(path, data.data(), data.size(), &faults_);
}

std::string EscapeText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string UnescapeText(std::string_view raw) {
  std::string out;
  out.reserve(raw.size());
  std::size_t i = 0;
  while (i < raw.size()) {
    if (raw[i] != '&') {
      out += raw[i++];
      continue;
    }
    const std::size_t semi = raw.find(';', i);
    if (semi == std::string_view::npos || semi - i > 12) {
      out += raw[i++];
      continue;
    }
    const std::string_view name = raw.substr(i + 1, semi - i - 1);
    if (name == "lt") out += '<';
    else if (name == "gt") out += '>';
    else if (name == "amp") out += '&';
    else if (name == "quot") out += '"';
    else if (name == "apos") out += '\'';
    else if (name.size() > 1 && name[0] == '#') {
      const bool hex = name[1] == 'x' || name[1] == 'X';
      const std::string digits(name.substr(hex ? 2 : 1));
      char* end = nullptr;
      const unsigned long cp = digits.empty() ? 0 : std::strtoul(digits.c_str(), &end, hex ? 16 : 10);
      if (digits.empty() || *end != '\0' || cp == 0 || cp > 0x10FFFF) {
        out.append(raw.substr(i, semi - i + 1));
      } else {
        AppendUtf8(out, cp);
      }
    } else {
      out.append(raw.substr(i, semi - i + 1));  // an entity of the doctype's: kept as written
    }
    i = semi + 1;
  }
  return out;
}

}  // namespace k2t::linux_platform
