// The profile document on MSXML (DOMDocument 6.0, else 3.0), created
// in-process on the calling thread. COM is initialised on that thread only
// when it is not already, and only that is undone.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/windows/atomic_file.h"
#include "settings/xml_document.h"

struct IXMLDOMDocument2;
struct IXMLDOMNode;

namespace k2t::windows {

class MsxmlDocument final : public XmlDocument {
 public:
  // Null when no MSXML document can be created.
  static std::unique_ptr<MsxmlDocument> Create();
  ~MsxmlDocument() override;
  MsxmlDocument(const MsxmlDocument&) = delete;
  MsxmlDocument& operator=(const MsxmlDocument&) = delete;

  XmlLoadResult Load(const std::string& path) override;
  XmlElement DocumentElement() override;
  XmlElement AppendDocumentElement(std::string_view name) override;
  XmlElement FirstChildElement(XmlElement parent, std::string_view name) override;
  XmlElement AppendChildElement(XmlElement parent, std::string_view name) override;
  std::string Text(XmlElement element) override;
  void SetText(XmlElement element, std::string_view text) override;
  void Remove(XmlElement element) override;
  bool Save(const std::string& path) override;

  // The document's bytes as Save writes them; false when MSXML cannot
  // produce them.
  bool Serialize(std::string& bytes);
  // 6 or 3: the MSXML version in use.
  int version() const { return version_; }
  void SetWriteFaults(const AtomicWriteFaults& faults) { faults_ = faults; }

 private:
  MsxmlDocument() = default;
  bool CreateDocument();
  void Configure();
  XmlElement Hold(IXMLDOMNode* node);  // takes over one reference
  void ReleaseHeld();

  bool com_initialised_ = false;
  int version_ = 0;
  bool dtd_prohibited_ = false;  // MSXML took ProhibitDTD
  IXMLDOMDocument2* doc_ = nullptr;
  // Every node handed out, kept alive until the document goes.
  std::vector<IXMLDOMNode*> held_;
  AtomicWriteFaults faults_;
};

}  // namespace k2t::windows
