// Access to the module's section of the host's XML profile. Creating a store
// loads the whole document; destroying it saves the document back when the
// store changed it (or made it: a missing profile comes into existence).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "settings/xml_document.h"

namespace k2t {

class ProfileStore {
 public:
  // document may be null (no XML service): reads then give their defaults and
  // nothing is written.
  ProfileStore(std::string path, std::unique_ptr<XmlDocument> document);
  virtual ~ProfileStore();
  ProfileStore(const ProfileStore&) = delete;
  ProfileStore& operator=(const ProfileStore&) = delete;

  std::int32_t GetInt(std::string_view section, std::string_view key, std::int32_t fallback);
  std::string GetText(std::string_view section, std::string_view key, std::string_view fallback);
  bool WriteInt(std::string_view section, std::string_view key, std::int32_t value);
  bool WriteText(std::string_view section, std::string_view key, std::string_view value);

  XmlLoadResult load_result() const { return load_result_; }

 private:
  XmlElement FindSection(std::string_view section);
  XmlElement FindKey(std::string_view section, std::string_view key);
  XmlElement FindOrCreateKey(std::string_view section, std::string_view key);
  // The key's text; false (and the element removed) when it is absent or empty.
  bool ReadKey(std::string_view section, std::string_view key, std::string& text);

  std::string path_;
  std::unique_ptr<XmlDocument> document_;
  XmlLoadResult load_result_ = XmlLoadResult::kMissing;
  XmlElement section_;
  std::string section_name_;
  bool changed_ = false;  // since the load
};

}  // namespace k2t
