// The XML document operations the profile store needs, and nothing more.
#pragma once

#include <string>
#include <string_view>

namespace k2t {

// An element of a document; null when absent. Valid while its document lives.
struct XmlElement {
  void* handle = nullptr;
  explicit operator bool() const { return handle != nullptr; }
};

enum class XmlLoadResult {
  kLoaded,       // the file parsed
  kMissing,      // no file at the path (or no path)
  kUnreadable,   // a file exists but cannot be read or does not parse
};

class XmlDocument {
 public:
  virtual ~XmlDocument() = default;
  virtual XmlLoadResult Load(const std::string& path) = 0;
  virtual XmlElement DocumentElement() = 0;
  virtual XmlElement AppendDocumentElement(std::string_view name) = 0;
  virtual XmlElement FirstChildElement(XmlElement parent, std::string_view name) = 0;
  virtual XmlElement AppendChildElement(XmlElement parent, std::string_view name) = 0;
  // The element's text content.
  virtual std::string Text(XmlElement element) = 0;
  // Replaces the element's children with one text (none when text is empty).
  virtual void SetText(XmlElement element, std::string_view text) = 0;
  // Removes the element from its parent.
  virtual void Remove(XmlElement element) = 0;
  // Saves the whole document; the file at path is replaced whole or not at all.
  virtual bool Save(const std::string& path) = 0;
};

}  // namespace k2t
