#include "platform/linux/profile_document.h"

#include <expat.h>
#include <iconv.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/text.h"
#include "common/utf8.h"

namespace k2t::linux_platform {

namespace {

// The encodings expat reads through iconv: the names a declaration may
// give, and glibc's table for each.
constexpr struct {
  const char* declared;
  const char* table;
} kIconvEncodings[] = {
    {"windows-1250", "CP1250"}, {"windows-1251", "CP1251"}, {"windows-1252", "CP1252"}, {"windows-1253", "CP1253"},
    {"windows-1254", "CP1254"}, {"windows-1255", "CP1255"}, {"windows-1256", "CP1256"}, {"windows-1257", "CP1257"},
    {"windows-1258", "CP1258"}, {"ISO-8859-2", "ISO-8859-2"}, {"ISO-8859-3", "ISO-8859-3"},
    {"ISO-8859-4", "ISO-8859-4"}, {"ISO-8859-5", "ISO-8859-5"}, {"ISO-8859-6", "ISO-8859-6"},
    {"ISO-8859-7", "ISO-8859-7"}, {"ISO-8859-8", "ISO-8859-8"}, {"ISO-8859-9", "ISO-8859-9"},
    {"ISO-8859-10", "ISO-8859-10"}, {"ISO-8859-11", "ISO-8859-11"}, {"ISO-8859-13", "ISO-8859-13"},
    {"ISO-8859-14", "ISO-8859-14"}, {"ISO-8859-15", "ISO-8859-15"}, {"ISO-8859-16", "ISO-8859-16"},
    {"KOI8-R", "KOI8-R"}, {"KOI8-U", "KOI8-U"}, {"Shift_JIS", "CP932"}, {"EUC-JP", "EUC-JP"}, {"GBK", "CP936"},
    {"Big5", "BIG5"}, {"EUC-KR", "CP949"},
};

const char* IconvTable(std::string_view declared) {
  for (const auto& e : kIconvEncodings)
    if (EqualsIgnoreCase(declared, e.declared)) return e.table;
  return nullptr;
}

const iconv_t kNoIconv = reinterpret_cast<iconv_t>(-1);

// The character of the first n bytes at s: its code point, -1 when they are
// not one character, -2 when they start a longer one.
int DecodeOne(iconv_t cd, const char* s, std::size_t n) {
  ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
  unsigned char out[8];
  char* in = const_cast<char*>(s);
  char* to = reinterpret_cast<char*>(out);
  std::size_t in_left = n, out_left = sizeof out;
  if (::iconv(cd, &in, &in_left, &to, &out_left) == static_cast<std::size_t>(-1)) return errno == EINVAL ? -2 : -1;
  if (in_left != 0 || out_left != 4) return -1;
  return out[0] | out[1] << 8 | out[2] << 16 | out[3] << 24;  // UTF-32LE
}

// What expat needs to read an encoding it does not know: for each first
// byte, its character or the length of the sequence it starts, and a
// conversion of such sequences.
struct Decoder { iconv_t cd; int map[256]; };

int OnUnknownEncoding(void*, const XML_Char* name, XML_Encoding* info) {
  const char* table = IconvTable(name);
  const iconv_t cd = table ? ::iconv_open("UTF-32LE", table) : kNoIconv;
  if (cd == kNoIconv) return XML_STATUS_ERROR;
  auto* d = new Decoder{cd, {}};
  bool multibyte = false;
  for (int b = 0; b < 256; ++b) {
    // A lead byte is followed by trail bytes until the sequence is whole;
    // 0xA1 is a trail byte in every multibyte encoding of the list.
    const char s[4] = {static_cast<char>(b), '\xA1', '\xA1', '\xA1'};
    std::size_t n = 1;
    int cp;
    while ((cp = DecodeOne(cd, s, n)) == -2 && n < 4) ++n;
    d->map[b] = info->map[b] = n == 1 ? cp : -static_cast<int>(n);
    multibyte |= n > 1;
  }
  info->data = d;
  info->convert = [](void* data, const char* s) {
    const auto* d = static_cast<const Decoder*>(data);
    return std::max(DecodeOne(d->cd, s, static_cast<std::size_t>(-d->map[static_cast<unsigned char>(*s)])), -1);
  };
  if (!multibyte) info->convert = nullptr;
  info->release = [](void* data) {
    ::iconv_close(static_cast<Decoder*>(data)->cd);
    delete static_cast<Decoder*>(data);
  };
  return XML_STATUS_OK;
}

bool IsXmlChar(char32_t cp) {
  return cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF) || (cp >= 0xE000 && cp <= 0xFFFD) ||
         (cp >= 0x10000 && cp <= 0x10FFFF);
}

// UTF-8 text through an iconv conversion, appended to out.
bool Convert(iconv_t cd, std::string_view text, std::string& out) {
  ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char* in = const_cast<char*>(text.data());
  std::size_t left = text.size();
  char buffer[512];
  for (;;) {
    char* to = buffer;
    std::size_t room = sizeof buffer;
    const std::size_t done = left ? ::iconv(cd, &in, &left, &to, &room) : ::iconv(cd, nullptr, nullptr, &to, &room);
    out.append(buffer, static_cast<std::size_t>(to - buffer));
    if (done == static_cast<std::size_t>(-1) && errno != E2BIG) return false;
    if (done != static_cast<std::size_t>(-1) && left == 0 && to == buffer) return true;
  }
}

// The bytes of a regular file: 0, or the errno that says why not (-1: not
// a regular file, which may not even be read: a FIFO would block).
int ReadFile(const std::string& path, std::string& bytes) {
  struct stat st{};
  if (::stat(path.c_str(), &st) != 0) return errno;
  if (!S_ISREG(st.st_mode)) return -1;
  std::FILE* f = std::fopen(path.c_str(), "rbe");
  if (!f) return errno;
  // Straight into the buffer expat parses; a file that grew since the stat
  // is read to its end.
  bytes.resize(static_cast<std::size_t>(st.st_size) + 4096);
  std::size_t filled = 0, n;
  while ((n = std::fread(bytes.data() + filled, 1, bytes.size() - filled, f)) > 0)
    if ((filled += n) == bytes.size()) bytes.resize(bytes.size() * 2);
  const int error = std::ferror(f) ? EIO : 0;
  std::fclose(f);
  bytes.resize(filled);
  return error;
}

}  // namespace

// One pass of expat over the file: the places of the document element, of
// the section (the first child element of that name) and of each of the
// section's child elements, with their texts.
struct ProfileDocument::Parse {
  ProfileDocument& doc;
  XML_Parser parser;
  std::string_view section;
  std::vector<ProfileKey>& keys;
  std::size_t depth = 0;
  bool in_section = false;
  const char* refused = nullptr;  // why a file expat takes is not taken
  std::string declared;           // the encoding the declaration names

  // Expat reports an element that an entity holds at the reference: its
  // place is not in the file's bytes.
  bool InFile(std::size_t at) const {
    const std::string& b = doc.bytes_;
    if (doc.unit_ == 1) return at < b.size() && b[at] == '<';
    return at + 1 < b.size() && b[at + doc.big_endian_] == '<' && b[at + !doc.big_endian_] == '\0';
  }

  Place* Current() {
    if (depth == 1) return &doc.root_;
    if (in_section && depth == 2) return &doc.section_;
    if (in_section && depth == 3) return &doc.keys_.back();
    return nullptr;
  }

  static void OnStart(void* data, const XML_Char* name, const XML_Char** /*attributes*/) {
    auto& p = *static_cast<Parse*>(data);
    ++p.depth;
    if (p.depth == 1) {
      p.doc.root_name_ = name;
    } else if (p.depth == 2 && !p.doc.has_section_ && p.section == name) {
      p.doc.has_section_ = p.in_section = true;
    } else if (p.depth == 3 && p.in_section) {
      p.keys.push_back({name, {}});
      p.doc.keys_.emplace_back();
      XML_SetCharacterDataHandler(p.parser, OnText);
    }
    if (Place* place = p.Current()) {
      place->begin = static_cast<std::size_t>(XML_GetCurrentByteIndex(p.parser));
      place->content = place->begin + static_cast<std::size_t>(XML_GetCurrentByteCount(p.parser));
      if (!p.InFile(place->begin)) p.refused = "its section or keys come from an entity";
    }
  }

  static void OnEnd(void* data, const XML_Char* /*name*/) {
    auto& p = *static_cast<Parse*>(data);
    if (Place* place = p.Current()) {
      const auto count = static_cast<std::size_t>(XML_GetCurrentByteCount(p.parser));
      place->end_tag = static_cast<std::size_t>(XML_GetCurrentByteIndex(p.parser));
      place->end = place->end_tag + count;
      place->empty_tag = count == 0;  // "<a/>": no end tag of its own
      if (count != 0 && !p.InFile(place->end_tag)) p.refused = "its section or keys come from an entity";
    }
    if (p.in_section && p.depth == 3) XML_SetCharacterDataHandler(p.parser, nullptr);
    if (p.in_section && p.depth == 2) p.in_section = false;
    --p.depth;
  }

  static void OnText(void* data, const XML_Char* text, int length) {
    static_cast<Parse*>(data)->keys.back().text.append(text, static_cast<std::size_t>(length));
  }

  static void OnDeclaration(void* data, const XML_Char* version, const XML_Char* encoding, int /*standalone*/) {
    auto& p = *static_cast<Parse*>(data);
    if (encoding) p.declared = encoding;
    // XML 1.0's version number is "1." and digits; expat takes any.
    const std::string_view v = version ? version : "1.0";
    if (v.size() < 3 || !v.starts_with("1.") || v.find_first_not_of("0123456789", 2) != v.npos)
      p.refused = "its version is not 1.x";
  }

  // False, with the reason, when expat refuses the bytes.
  bool Run(std::string& reason) {
    XML_SetUserData(parser, this);
    XML_SetElementHandler(parser, OnStart, OnEnd);
    XML_SetXmlDeclHandler(parser, OnDeclaration);
    XML_SetUnknownEncodingHandler(parser, OnUnknownEncoding, nullptr);
    // In pieces that stay in the processor's cache: expat copies each
    // into its own buffer (a whole large file would cost it a copy of
    // megabytes, at twice the time).
    const std::string& b = doc.bytes_;
    for (std::size_t at = 0;;) {
      const std::size_t n = std::min<std::size_t>(b.size() - at, 1 << 16);
      const bool last = at + n == b.size();
      if (XML_Parse(parser, b.data() + at, static_cast<int>(n), last) != XML_STATUS_OK) {
        reason = std::string(XML_ErrorString(XML_GetErrorCode(parser))) + " at line " +
                 std::to_string(XML_GetCurrentLineNumber(parser)) + ", column " +
                 std::to_string(XML_GetCurrentColumnNumber(parser) + 1);
        return false;
      }
      if (last) break;
      at += n;
    }
    if (refused) reason = refused;
    return !refused;
  }
};

ProfileDocument::~ProfileDocument() {
  if (to_file_) ::iconv_close(static_cast<iconv_t>(to_file_));
}

XmlLoadResult ProfileDocument::Load(const std::string& path, std::string_view section, std::vector<ProfileKey>& keys,
                                    std::string& reason) {
  keys_.clear();
  keys.clear();
  has_section_ = false;
  section_name_ = section;
  // Only a file that is not there is missing: one that cannot be looked at
  // (a share that fails, a link loop) must not be replaced by a new profile.
  // An empty or blank file holds nothing that could be lost.
  const int error = ReadFile(path, bytes_);
  const bool missing = error == ENOENT || (!error && bytes_.find_first_not_of(" \t\r\n") == std::string::npos);
  if (error && !missing) {
    reason = error < 0 ? "not a regular file" : std::strerror(error);
    bytes_.clear();
    return XmlLoadResult::kUnreadable;
  }
  if (missing) bytes_ = "<profile/>";

  // UTF-16 is told by its byte order mark, which XML requires of it (expat
  // would take it without); every other encoding the list has is ASCII-based.
  const auto starts = [this](std::string_view s) { return bytes_.compare(0, s.size(), s) == 0; };
  big_endian_ = starts("\xFE\xFF");
  unit_ = big_endian_ || starts("\xFF\xFE") ? 2 : 1;
  if (unit_ == 1 && (starts(std::string_view("<\0", 2)) || starts(std::string_view("\0<", 2)))) {
    reason = "UTF-16 without its byte order mark";
    return XmlLoadResult::kUnreadable;
  }

  XML_Parser parser = XML_ParserCreate(nullptr);
  if (!parser) {
    reason = "out of memory";
    return XmlLoadResult::kUnreadable;
  }
  Parse parse{*this, parser, section, keys, 0, false, nullptr, {}};
  const bool parsed = parse.Run(reason);
  XML_ParserFree(parser);

  // The encoding the module's texts are written in.
  const std::string& declared = parse.declared;
  const char* writer = nullptr;
  if (unit_ == 2) writer = big_endian_ ? "UTF-16BE" : "UTF-16LE";
  else if (declared.empty() || EqualsIgnoreCase(declared, "UTF-8") || starts("\xEF\xBB\xBF")) writer = "";
  else if (EqualsIgnoreCase(declared, "ISO-8859-1")) writer = "ISO-8859-1";
  else if (EqualsIgnoreCase(declared, "US-ASCII")) writer = "ASCII";
  else writer = IconvTable(declared);
  if (to_file_) ::iconv_close(static_cast<iconv_t>(to_file_));
  to_file_ = nullptr;
  if (writer && *writer) {
    const iconv_t cd = ::iconv_open(writer, "UTF-8");
    if (cd != kNoIconv) to_file_ = cd;
  }
  if (!parsed || !writer || (*writer && !to_file_)) {
    if (parsed) reason = "its encoding is not one this module writes";
    bytes_.clear();
    keys_.clear();
    keys.clear();
    return XmlLoadResult::kUnreadable;
  }
  return missing ? XmlLoadResult::kMissing : XmlLoadResult::kLoaded;
}

std::string ProfileDocument::Encode(std::string_view text, bool escape) const {
  std::string utf8;
  for (std::size_t i = 0; escape && i < text.size();) {
    char32_t cp;
    i += DecodeUtf8(text.substr(i), cp);
    // What XML cannot hold at all stands as the replacement character.
    if (cp == kInvalidUtf8 || !IsXmlChar(cp)) cp = 0xFFFD;
    if (cp == '&') utf8 += "&amp;";
    else if (cp == '<') utf8 += "&lt;";
    else if (cp == '>') utf8 += "&gt;";
    else if (cp == '\r') utf8 += "&#13;";  // a line end in the file would read as "\n"
    else if (cp < 0x80 || Representable(cp)) AppendUtf8(utf8, cp);
    else utf8 += "&#" + std::to_string(static_cast<unsigned long>(cp)) + ";";
  }
  if (!escape) utf8 = text;
  if (!to_file_) return utf8;
  std::string out;
  if (!Convert(static_cast<iconv_t>(to_file_), utf8, out)) unencodable_ = true;
  return out;
}

bool ProfileDocument::Representable(char32_t cp) const {
  if (!to_file_ || unit_ == 2) return true;
  std::string utf8, bytes;
  AppendUtf8(utf8, cp);
  return Convert(static_cast<iconv_t>(to_file_), utf8, bytes);
}

bool ProfileDocument::Write(const std::vector<ProfileKey>& keys, const ContentSink& sink) const {
  unencodable_ = false;
  std::vector<Splice> splices;
  using State = ProfileKey::State;
  const auto element = [this](const std::string& name, const std::string& inside) {
    return Encode("<" + name + ">", false) + inside + Encode("</" + name + ">", false);
  };
  // An empty-element tag opened: its "/>" gives way to ">", what goes
  // inside and the end tag.
  const auto open = [this, &splices](const Place& place, const std::string& name, const std::string& inside) {
    const std::string rest = Encode(">", false) + inside + Encode("</" + name + ">", false);
    splices.push_back({place.end - 2 * unit_, place.end, rest});
  };
  std::string added;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    const ProfileKey& key = keys[i];
    if (i >= keys_.size()) {
      if (key.state == State::kAdded && key.text.empty()) added += Encode("<" + key.name + "/>", false);
      else if (key.state == State::kAdded) added += element(key.name, Encode(key.text, true));
      continue;
    }
    const Place& at = keys_[i];
    if (key.state == State::kRemoved) splices.push_back({at.begin, at.end, {}});
    else if (key.state == State::kChanged && !at.empty_tag)
      splices.push_back({at.content, at.end_tag, Encode(key.text, true)});
    else if (key.state == State::kChanged && !key.text.empty()) open(at, key.name, Encode(key.text, true));
  }
  // The added keys before the section's end tag, or in a new section.
  if (!added.empty() && has_section_ && section_.empty_tag) {
    open(section_, section_name_, added);
  } else if (!added.empty() && has_section_) {
    splices.push_back({section_.end_tag, section_.end_tag, added});
  } else if (!added.empty() && root_.empty_tag) {
    open(root_, root_name_, element(section_name_, added));
  } else if (!added.empty()) {
    splices.push_back({root_.end_tag, root_.end_tag, element(section_name_, added)});
  }
  if (unencodable_) return false;
  std::stable_sort(splices.begin(), splices.end(), [](const Splice& a, const Splice& b) { return a.begin < b.begin; });
  const auto put = [&sink](const char* data, std::size_t size) { return size == 0 || sink(data, size); };
  std::size_t at = 0;
  for (const Splice& s : splices) {
    if (!put(bytes_.data() + at, s.begin - at) || !put(s.bytes.data(), s.bytes.size())) return false;
    at = s.end;
  }
  return put(bytes_.data() + at, bytes_.size() - at);
}

bool ProfileDocument::Save(const std::string& path, const std::vector<ProfileKey>& keys, ProfileSaveError& error) {
  int failure = 0;
  if (AtomicWriteFile(path, [this, &keys](const ContentSink& sink) { return Write(keys, sink); }, &faults_, &failure))
    return true;
  error = {path, std::strerror(failure)};
  return false;
}

}  // namespace k2t::linux_platform
