// The fuzzer's bytes are the host's profile file, run through SetProName,
// PostInitControl and Config (cancelled: no display) on a real file, and
// judged by a second, independent parser (libxml2): a file libxml2 refuses
// is never written; a saved file parses under libxml2 with the same host
// content and, in the module's section, the keys the module reads; a file
// loaded and saved without a change keeps every byte, and the saved file
// does too (load -> save -> load keeps the keys and the bytes).
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "fuzz_input.h"
#include "platform/linux/profile_document.h"
#include "settings/pendant_settings.h"
#include "settings/profile_store.h"
#include "support/fakes.h"

namespace {

using k2t::fuzz::Check;
using Keys = std::vector<std::pair<std::string, std::string>>;

// A folder of its own for the process; in memory where the system has one,
// since every run writes and syncs the file several times.
const std::string& ProfilePath() {
  static const std::string path = [] {
    std::string pattern = (::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
    pattern += "/k2t-fuzz-XXXXXX";
    const char* dir = ::mkdtemp(pattern.data());
    if (!dir) k2t::fuzz::Fail("no temporary folder");
    static std::string folder;
    folder = dir;
    std::atexit([] { std::filesystem::remove_all(folder); });
    return folder + "/profile.xml";
  }();
  return path;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

// The document as libxml2 reads it, reading nothing else (no network, no
// DTD, entities left as references); null when it refuses the bytes.
struct Libxml2Document {
  explicit Libxml2Document(const std::string& bytes)
      : doc(xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), nullptr, nullptr,
                          XML_PARSE_NONET | XML_PARSE_HUGE | XML_PARSE_NOERROR | XML_PARSE_NOWARNING)) {}
  ~Libxml2Document() { xmlFreeDoc(doc); }
  xmlNodePtr Section() const {
    for (xmlNodePtr n = xmlDocGetRootElement(doc) ? xmlDocGetRootElement(doc)->children : nullptr; n; n = n->next)
      if (n->type == XML_ELEMENT_NODE && std::strcmp(reinterpret_cast<const char*>(n->name), k2t::kSettingsSection) == 0)
        return n;
    return nullptr;
  }
  xmlDocPtr doc;
};

std::string Text(xmlNodePtr node) {
  xmlChar* content = xmlNodeGetContent(node);
  std::string text = content ? reinterpret_cast<const char*>(content) : "";
  xmlFree(content);
  return text;
}

// Every node's kind, name, attributes and texts in document order, without
// the module's section: the host's content, however it is written.
void Describe(xmlNodePtr node, xmlNodePtr section, std::string& out) {
  for (; node; node = node->next) {
    if (node == section) continue;
    out += std::to_string(node->type) + ":";
    if (node->name) out += reinterpret_cast<const char*>(node->name);
    if (node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE || node->type == XML_COMMENT_NODE ||
        node->type == XML_PI_NODE)
      out += "=" + Text(node);
    for (xmlAttrPtr a = node->type == XML_ELEMENT_NODE ? node->properties : nullptr; a; a = a->next)
      out += std::string(" ") + reinterpret_cast<const char*>(a->name) + "=" + Text(reinterpret_cast<xmlNodePtr>(a));
    out += "{";
    if (node->type == XML_ELEMENT_NODE) Describe(node->children, section, out);
    out += "}";
  }
}

std::string HostContent(const Libxml2Document& d) {
  std::string out;
  Describe(d.doc->children, d.Section(), out);
  return out;
}

Keys Libxml2Keys(const Libxml2Document& d) {
  Keys keys;
  if (xmlNodePtr section = d.Section())
    for (xmlNodePtr n = section->children; n; n = n->next)
      if (n->type == XML_ELEMENT_NODE) keys.emplace_back(reinterpret_cast<const char*>(n->name), Text(n));
  return keys;
}

Keys ModuleKeys(const std::string& path, k2t::XmlLoadResult& result) {
  std::vector<k2t::ProfileKey> keys;
  std::string reason;
  result = k2t::linux_platform::ProfileDocument().Load(path, k2t::kSettingsSection, keys, reason);
  Keys out;
  for (const auto& k : keys) out.emplace_back(k.name, k.text);
  return out;
}

// The file as a document loaded from it writes it without a change.
std::string Rewritten(const std::string& path) {
  k2t::linux_platform::ProfileDocument document;
  std::vector<k2t::ProfileKey> keys;
  std::string reason, bytes;
  document.Load(path, k2t::kSettingsSection, keys, reason);
  document.Write(keys, [&bytes](const char* data, std::size_t size) {
    bytes.append(data, size);
    return true;
  });
  return bytes;
}

void Quiet(void*, const char*, ...) {}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  xmlSetGenericErrorFunc(nullptr, Quiet);
  const std::string& path = ProfilePath();
  const std::string before(reinterpret_cast<const char*>(data), size);
  WriteFile(path, before);
  const Libxml2Document judge(before);
  k2t::XmlLoadResult loaded;
  const Keys first = ModuleKeys(path, loaded);
  if (loaded == k2t::XmlLoadResult::kLoaded) {
    Check(Rewritten(path) == before, "a load and a save without a change changed bytes");
    // Both parsers read the same keys (libxml2 leaves entity references
    // unexpanded, so texts holding '&' are not compared).
    if (judge.doc && before.find('&') == std::string::npos)
      Check(Libxml2Keys(judge) == first, "the module reads other keys than libxml2");
  }

  k2t::testing::FakePlatform platform;
  k2t::Module module(platform);
  module.SetProName(path.c_str());
  module.PostInitControl();
  module.Config();
  const std::string after = ReadFile(path);

  // An empty or blank file is a new profile (no parser takes it as a document).
  const bool blank = before.find_first_not_of(" \t\r\n") == std::string::npos;
  if ((!judge.doc && !blank) || loaded == k2t::XmlLoadResult::kUnreadable) {
    Check(after == before, "a profile that does not parse was changed");
    return 0;
  }
  const Libxml2Document saved(after);
  Check(saved.doc != nullptr, "the saved profile does not parse under libxml2");
  if (loaded == k2t::XmlLoadResult::kLoaded) Check(HostContent(saved) == HostContent(judge), "the host's content changed");
  k2t::XmlLoadResult reloaded;
  const Keys keys = ModuleKeys(path, reloaded);
  Check(reloaded == k2t::XmlLoadResult::kLoaded, "the saved profile does not load");
  if (after.find('&') == std::string::npos) Check(Libxml2Keys(saved) == keys, "libxml2 reads other keys");
  Check(Rewritten(path) == after, "the saved profile does not save back byte for byte");
  k2t::PendantSettings read_back;
  {
    k2t::ProfileStore store(path, std::make_unique<k2t::linux_platform::ProfileDocument>());
    k2t::ReloadSettings(read_back, store);
  }
  Check(read_back == module.settings, "the keys do not read back as saved");
  Check(ReadFile(path) == after, "a profile read back unchanged was written");
  return 0;
}
