#include "settings/profile_store.h"

#include "common/text.h"

namespace k2t {

ProfileStore::ProfileStore(std::string path, std::unique_ptr<XmlDocument> document, std::string_view section)
    : path_(std::move(path)), section_(section), document_(std::move(document)) {
  if (!document_ || path_.empty()) return;
  load_result_ = document_->Load(path_, section_, keys_, unreadable_reason_);
  if (load_result_ == XmlLoadResult::kUnreadable) keys_.clear();
  // A missing profile comes into existence at the save.
  changed_ = load_result_ == XmlLoadResult::kMissing;
}

ProfileStore::~ProfileStore() {
  ProfileSaveError ignored;
  Finish(ignored);
}

bool ProfileStore::Finish(ProfileSaveError& error) {
  if (finished_ || !document_ || path_.empty() || !changed_) return true;
  finished_ = true;
  // A profile that exists but could not be read is the host's: working on
  // fresh keys is fine, writing them over the file would lose it. A profile
  // read and left as it was is not written either (a large profile takes
  // long to write, and every write is a chance to lose it).
  if (load_result_ == XmlLoadResult::kUnreadable) {
    error = {path_, unreadable_reason_};
    return false;
  }
  return document_->Save(path_, keys_, error);
}

ProfileKey* ProfileStore::Find(std::string_view section, std::string_view key) {
  if (section != section_) return nullptr;
  for (ProfileKey& k : keys_)
    if (k.state != ProfileKey::State::kRemoved && k.name == key) return &k;
  return nullptr;
}

// The key's text; a key element whose text is empty counts as absent and
// is removed.
std::int32_t ProfileStore::GetInt(std::string_view section, std::string_view key, std::int32_t fallback) {
  const std::string text = GetText(section, key, {});
  return text.empty() ? fallback : ParseLeadingInt(text);
}

std::string ProfileStore::GetText(std::string_view section, std::string_view key, std::string_view fallback) {
  ProfileKey* found = Find(section, key);
  if (!found) return std::string(fallback);
  if (found->text.empty()) {
    found->state = ProfileKey::State::kRemoved;
    changed_ = true;
    return std::string(fallback);
  }
  return found->text;
}

bool ProfileStore::WriteInt(std::string_view section, std::string_view key, std::int32_t value) {
  char digits[16];
  const std::size_t n = FormatInt(digits, sizeof digits, value);
  return WriteText(section, key, std::string_view(digits, n));
}

bool ProfileStore::WriteText(std::string_view section, std::string_view key, std::string_view value) {
  if (!document_ || section != section_) return true;
  ProfileKey* found = Find(section, key);
  if (!found) {
    keys_.push_back({std::string(key), std::string(value), ProfileKey::State::kAdded});
    changed_ = true;
  } else if (found->text != value) {
    // A value that reads back as it is keeps its markup: the file then
    // changes only where a value did.
    found->text = value;
    if (found->state == ProfileKey::State::kAsLoaded) found->state = ProfileKey::State::kChanged;
    changed_ = true;
  }
  return true;
}

}  // namespace k2t
