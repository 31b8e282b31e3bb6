// The profile document as the profile store needs it, and nothing more: the
// keys of the module's section in, the changes to them out. Linux splices
// the changes into the file's own bytes; Windows keeps MSXML's document.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace k2t {

enum class XmlLoadResult {
  kLoaded,      // the file parsed
  kMissing,     // no file at the path, or an empty or blank one: a new profile
  kUnreadable,  // a file that cannot be looked at, read or parsed: never written
};

// One child element of the section, in document order.
struct ProfileKey {
  enum class State {
    kAsLoaded,  // as the file holds it
    kChanged,   // a loaded key whose text is replaced (its children with it)
    kRemoved,   // taken out of the file (an added key marked so is left out)
    kAdded,     // new: appended to the section, after the loaded keys
  };
  std::string name;  // UTF-8, as every text here
  std::string text;  // the element's text content
  State state = State::kAsLoaded;
};

// Why a save did not reach the disk.
struct ProfileSaveError {
  std::string file;    // the file it was to go to, as the user would name it
  std::string reason;  // what the system or the parser said
};

class XmlDocument {
 public:
  virtual ~XmlDocument() = default;
  // Reads the profile at path and, in keys, the child elements of its
  // section (the first child element of the document element named
  // `section`), each with its text content; none when there is no section.
  // A missing profile is a document holding only an empty "profile"
  // element. An unreadable one leaves `reason` saying why.
  virtual XmlLoadResult Load(const std::string& path, std::string_view section, std::vector<ProfileKey>& keys,
                             std::string& reason) = 0;
  // Writes the loaded (or new) profile to path with the changes in keys,
  // which are the loaded keys in their order followed by the added ones.
  // A missing section is appended to the document element. Everything
  // else stays as it was. False, with `error` filled, when the file was
  // not written.
  virtual bool Save(const std::string& path, const std::vector<ProfileKey>& keys, ProfileSaveError& error) = 0;
};

}  // namespace k2t
