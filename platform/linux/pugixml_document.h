// The profile document on pugixml, keeping the host's file as it is. As a
// rule only the children of the document element that are asked for (the
// module's section) are parsed into the document, the rest of the file is
// checked in pieces and saved as its text, byte for byte. A document that
// takes more (an unusual layout, an operation on the document element
// itself) is parsed whole and keeps what the library can: declaration,
// comments, processing instructions, doctype, whitespace, line ends, entity
// references and encoding. Texts are UTF-8 on this side; a file in a
// single-byte encoding (Latin-1, windows-1252, US-ASCII) is converted when
// read and written back in it.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "platform/linux/atomic_file.h"
#include "settings/xml_document.h"

namespace k2t::linux_platform {

class PugiXmlDocument final : public XmlDocument {
 public:
  PugiXmlDocument();
  ~PugiXmlDocument() override;

  XmlLoadResult Load(const std::string& path) override;
  XmlElement DocumentElement() override;
  XmlElement AppendDocumentElement(std::string_view name) override;
  XmlElement FirstChildElement(XmlElement parent, std::string_view name) override;
  XmlElement AppendChildElement(XmlElement parent, std::string_view name) override;
  std::string Text(XmlElement element) override;
  void SetText(XmlElement element, std::string_view text) override;
  void Remove(XmlElement element) override;
  bool Save(const std::string& path) override;

  // The document as Save writes it, in pieces or whole.
  bool Write(const ContentSink& sink) const;
  std::string Serialize() const;
  // Test hooks: faults in the file replacement; the size of the pieces a
  // document's content is parsed in (0: the document is parsed whole).
  void SetWriteFaults(const AtomicWriteFaults& faults) { faults_ = faults; }
  void SetPieceSize(std::size_t bytes);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  AtomicWriteFaults faults_;
};

}  // namespace k2t::linux_platform
