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

namespace k2t::windows_platform {

class MsxmlDocument final : public XmlDocument {
 public:
  // Null when no MSXML document can be created.
  static std::unique_ptr<MsxmlDocument> Create();
  ~MsxmlDocument() override;
  MsxmlDocument(const MsxmlDocument&) = delete;
  MsxmlDocument& operator=(const MsxmlDocument&) = delete;

  XmlLoadResult Load(const std::string& path, std::string_view section, std::vector<ProfileKey>& keys,
                     std::string& reason) override;
  bool Save(const std::string& path, const std::vector<ProfileKey>& keys, ProfileSaveError& error) override;

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
  IXMLDOMNode* Hold(IXMLDOMNode* node);  // takes over one reference
  void ReleaseHeld();
  IXMLDOMNode* FirstChildElement(IXMLDOMNode* parent, std::string_view name);
  IXMLDOMNode* AppendChildElement(IXMLDOMNode* parent, std::string_view name);
  // The changes of keys applied to the document.
  bool Apply(const std::vector<ProfileKey>& keys);

  bool com_initialised_ = false;
  int version_ = 0;
  bool dtd_prohibited_ = false;  // MSXML took ProhibitDTD
  IXMLDOMDocument2* doc_ = nullptr;
  // Every node handed out, kept alive until the document goes.
  std::vector<IXMLDOMNode*> held_;
  std::string section_name_;
  IXMLDOMNode* section_ = nullptr;
  std::vector<IXMLDOMNode*> keys_;  // the section's child elements as loaded
  AtomicWriteFaults faults_;
};

}  // namespace k2t::windows_platform
