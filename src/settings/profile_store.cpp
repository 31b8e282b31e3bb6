#include "settings/profile_store.h"

#include "common/text.h"

namespace k2t {

ProfileStore::ProfileStore(std::string path, std::unique_ptr<XmlDocument> document)
    : path_(std::move(path)), document_(std::move(document)) {
  if (!document_) return;
  load_result_ = path_.empty() ? XmlLoadResult::kMissing : document_->Load(path_);
  if (!document_->DocumentElement()) document_->AppendDocumentElement("profile");
}

ProfileStore::~ProfileStore() {
  // A profile that exists but could not be read is the host's: working on a
  // fresh document is fine, writing that over the file would lose it.
  if (document_ && !path_.empty() && load_result_ != XmlLoadResult::kUnreadable)
    document_->Save(path_);
}

XmlElement ProfileStore::FindKey(std::string_view section, std::string_view key) {
  if (!document_) return {};
  XmlElement sec = document_->FirstChildElement(document_->DocumentElement(), section);
  if (!sec) return {};
  return document_->FirstChildElement(sec, key);
}

XmlElement ProfileStore::FindOrCreateKey(std::string_view section, std::string_view key) {
  if (!document_) return {};
  XmlElement root = document_->DocumentElement();
  XmlElement sec = document_->FirstChildElement(root, section);
  if (!sec) {
    sec = document_->AppendChildElement(root, section);
    return document_->AppendChildElement(sec, key);
  }
  XmlElement element = document_->FirstChildElement(sec, key);
  return element ? element : document_->AppendChildElement(sec, key);
}

bool ProfileStore::ReadKey(std::string_view section, std::string_view key, std::string& text) {
  XmlElement element = FindKey(section, key);
  if (!element) return false;
  text = document_->Text(element);
  if (text.empty()) {
    document_->Remove(element);
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
  if (element) document_->SetText(element, value);
  return true;
}

}  // namespace k2t
