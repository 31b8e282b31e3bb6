// The profile on Linux: one pass of expat, a strict XML parser, over the
// file's bytes finds the module's section and the bytes of each of its keys;
// a save splices only what changed into those bytes, so nothing the module
// did not change is ever printed anew. Texts are UTF-8 on this side; the file
// keeps its encoding: UTF-8, UTF-16, ISO-8859-1 and US-ASCII as expat reads
// them, and through iconv windows-1250 to 1258, ISO-8859-2 to 16, KOI8-R/U,
// Shift_JIS, EUC-JP, GBK, Big5 and EUC-KR. Another encoding, or a file expat
// refuses, is unreadable (and so never written).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/linux/atomic_file.h"
#include "settings/xml_document.h"

namespace k2t::linux_platform {

class ProfileDocument final : public XmlDocument {
 public:
  ProfileDocument() = default;
  ~ProfileDocument() override;
  ProfileDocument(const ProfileDocument&) = delete;
  ProfileDocument& operator=(const ProfileDocument&) = delete;
  XmlLoadResult Load(const std::string& path, std::string_view section, std::vector<ProfileKey>& keys,
                     std::string& reason) override;
  bool Save(const std::string& path, const std::vector<ProfileKey>& keys, ProfileSaveError& error) override;

  // The file as Save writes it with these keys; false when a text cannot be
  // put in the file's encoding.
  bool Write(const std::vector<ProfileKey>& keys, const ContentSink& sink) const;
  // Test hook: faults in the file replacement.
  void SetWriteFaults(const AtomicWriteFaults& faults) { faults_ = faults; }

 private:
  // An element's bytes: [begin, content) its start tag, [end_tag, end) its
  // end tag; an empty-element tag ("<a/>") has no end tag of its own.
  struct Place { std::size_t begin = 0, content = 0, end_tag = 0, end = 0; bool empty_tag = false; };
  struct Parse;
  struct Splice { std::size_t begin, end; std::string bytes; };  // bytes in place of [begin, end)
  // UTF-8 text in the file's encoding, as character data when `escape`
  // (markup escaped, what the encoding cannot hold as references).
  std::string Encode(std::string_view text, bool escape) const;
  bool Representable(char32_t cp) const;

  std::string bytes_;
  std::size_t unit_ = 1;  // bytes of an ASCII character: 2 in UTF-16
  bool big_endian_ = false;  // in UTF-16
  void* to_file_ = nullptr;  // iconv from UTF-8 to the file's encoding
  std::string root_name_, section_name_;
  Place root_, section_;
  bool has_section_ = false;
  std::vector<Place> keys_;
  mutable bool unencodable_ = false;  // an Encode failed
  AtomicWriteFaults faults_;
};

}  // namespace k2t::linux_platform
