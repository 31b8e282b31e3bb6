// Access to the module's section of the host's XML profile. Creating a store
// loads the profile; Finish (or destroying the store) saves it back when the
// store changed it (or made it: a missing profile comes into existence).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "settings/pendant_settings.h"
#include "settings/xml_document.h"

namespace k2t {

class ProfileStore {
 public:
  // document may be null (no XML service): reads then give their defaults and
  // nothing is written. The store serves the one section it is made for.
  ProfileStore(std::string path, std::unique_ptr<XmlDocument> document,
               std::string_view section = kSettingsSection);
  virtual ~ProfileStore();
  ProfileStore(const ProfileStore&) = delete;
  ProfileStore& operator=(const ProfileStore&) = delete;

  // Keys of another section than the store's read as absent and are not
  // written (the module has one section).
  std::int32_t GetInt(std::string_view section, std::string_view key, std::int32_t fallback);
  std::string GetText(std::string_view section, std::string_view key, std::string_view fallback);
  bool WriteInt(std::string_view section, std::string_view key, std::int32_t value);
  bool WriteText(std::string_view section, std::string_view key, std::string_view value);

  // Saves what changed, once; false with `error` filled when there were
  // changes (or a new profile) that did not reach the file: the save failed,
  // or the profile is unreadable and so is never written. Nothing to save,
  // no path or no document count as done.
  bool Finish(ProfileSaveError& error);

  XmlLoadResult load_result() const { return load_result_; }

 private:
  ProfileKey* Find(std::string_view section, std::string_view key);

  std::string path_;
  std::string section_;
  std::unique_ptr<XmlDocument> document_;
  XmlLoadResult load_result_ = XmlLoadResult::kMissing;
  std::string unreadable_reason_;
  std::vector<ProfileKey> keys_;
  bool changed_ = false;  // since the load
  bool finished_ = false;
};

}  // namespace k2t
