#include "settings/profile_store.h"

#include "common/text.h"

namespace k2t {

ProfileStore::ProfileStore(std::string path, std::unique_ptr<XmlDocument> document)
    : path_(std::move(path)), document_(std::move(document)) {
  if (!document_) return;
  load_result_ = path_.empty() ? XmlLoadResult::kMissing : document_->Load(path_);
  if (!document_->DocumentElement()) {
    document_->AppendDocumentElement("profile");
    changed_ = true;
  }
}

ProfileStore::~ProfileStore() {
  // A profile that exists but could not be read is the host's: working on a
  // fresh document is fine, writing that over the file would lose it. A
  // document read and left as it was would be written back as the file
  // already holds it: the file is left alone (a large profile takes long to
  // write, and every write is a chance to lose it).
  if (document_ && !path_.empty() && load_result_ != XmlLoadResult::kUnreadable && changed_)
    document_->Save(path_);
}

XmlElement ProfileStore::FindSection(std::string_view section) {
  // Found once per store: a host's profile may hold many elements before the
  // section, and the store never removes a section, only key elements.
  if (section_ && section == section_name_) return section_;
  XmlElement found = document_->FirstChildElement(document_->DocumentElement(), section);
  if (found) {
    section_ = found;
    section_name_ = section;
  }
  return found;
}

XmlElement ProfileStore::FindKey(std::string_view section, std::string_view key) {
  if (!document_) return {};
  XmlElement sec = FindSection(section);
  if (!sec) return {};
  return document_->FirstChildElement(sec, key);
}

XmlElement ProfileStore::FindOrCreateKey(std::string_view section, std::string_view key) {
  if (!document_) return {};
  XmlElement sec = FindSection(section);
  if (!sec) {
    changed_ = true;
    sec = document_->AppendChildElement(document_->DocumentElement(), section);
    return document_->AppendChildElement(sec, key);
  }
  XmlElement element = document_->FirstChildElement(sec, key);
  if (element) return element;
  changed_ = true;
  return document_->AppendChildElement(sec, key);
}

bool ProfileStore::ReadKey(std::string_view section, std::string_view key, std::string& text) {
  XmlElement element = FindKey(section, key);
  if (!element) return false;
  text = document_->Text(element);
  if (text.empty()) {
    document_->Remove(element);
    changed_ = true;
    return false;
  }
  return true;
}

std::int32_t ProfileStore::GetInt(std::string_view section, std::string_view key,
                                  std::int32_t fallback) {
  std::string text;
  return ReadKey(section, key, text) ? ParseLeadingInt(text) : fallback;
}

std::string ProfileStore::GetText(std::string_view section, std::string_view key,
                                  std::string_view fallback) {
  std::string text;
  return ReadKey(section, key, text) ? text : std::string(fallback);
}

bool ProfileStore::WriteInt(std::string_view section, std::string_view key, std::int32_t value) {
  char digits[16];
  const std::size_t n = FormatInt(digits, sizeof digits, value);
  return WriteText(section, key, std::string_view(digits, n));
}

bool ProfileStore::WriteText(std::string_view section, std::string_view key,
                             std::string_view value) {
  XmlElement element = FindOrCreateKey(section, key);
  // A value that reads back as it is keeps its markup: the file then changes
  // only where a value did (a reference or an encoding's character written
  // another way would still be a change to the host's file).
  if (element && document_->Text(element) != value) {
    document_->SetText(element, value);
    changed_ = true;
  }
  return true;
}

}  // namespace k2t
