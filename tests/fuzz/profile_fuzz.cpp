// The fuzzer's bytes are the host's profile file, run through SetProName,
// PostInitControl and Config (cancelled: no display) on a real file.
// Checked: a file that does not parse is left byte for byte, and read the
// same whether parsed whole or in pieces; one that parses keeps the host's
// content outside the module's section; the saved file parses and its 84
// keys read back as the module holds them, whether the file was parsed
// whole or in pieces.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <pugixml.hpp>
#include <string>

#include "fuzz_input.h"
#include "platform/linux/pugixml_document.h"
#include "settings/pendant_settings.h"
#include "settings/profile_store.h"
#include "support/fakes.h"

namespace {

using k2t::fuzz::Check;

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

// The document outside the module's section (the first element of that name
// under the document element), printed in one canonical way: references
// expanded, attributes quoted alike, line ends normalised. Empty when the
// bytes do not parse.
std::string HostContent(const std::string& bytes) {
  pugi::xml_document doc;
  const unsigned options = pugi::parse_default | pugi::parse_declaration | pugi::parse_comments |
                           pugi::parse_pi | pugi::parse_doctype | pugi::parse_ws_pcdata;
  if (!doc.load_buffer(bytes.data(), bytes.size(), options)) return {};
  pugi::xml_node root = doc.document_element();
  root.remove_child(root.child(k2t::kSettingsSection));
  struct Writer : pugi::xml_writer {
    std::string out;
    void write(const void* data, std::size_t size) override { out.append(static_cast<const char*>(data), size); }
  } writer;
  doc.save(writer, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
  return writer.out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string& path = ProfilePath();
  const std::string before(reinterpret_cast<const char*>(data), size);
  WriteFile(path, before);
  const k2t::XmlLoadResult loaded = k2t::linux_platform::PugiXmlDocument().Load(path);
  // Parsed whole, or with its content in pieces as small as can be, the
  // profile reads the same; it is taken only when the library parses it.
  for (const std::size_t piece_size : {0, 1}) {
    k2t::linux_platform::PugiXmlDocument document;
    document.SetPieceSize(piece_size);
    Check(document.Load(path) == loaded, "parsed in pieces, the profile reads otherwise");
  }
  if (loaded == k2t::XmlLoadResult::kLoaded) Check(!HostContent(before).empty(), "a profile that does not parse was taken");

  k2t::testing::FakePlatform platform;
  k2t::Module module(platform);
  module.SetProName(path.c_str());
  module.PostInitControl();
  module.Config();
  const std::string after = ReadFile(path);

  if (loaded == k2t::XmlLoadResult::kUnreadable) {
    Check(after == before, "a profile that does not parse was changed");
    return 0;
  }
  if (loaded == k2t::XmlLoadResult::kLoaded)
    Check(HostContent(after) == HostContent(before), "the host's content changed");
  const auto check_read_back = [&path](const k2t::PendantSettings& saved) {
    k2t::PendantSettings read_back;
    k2t::ProfileStore store(path, std::make_unique<k2t::linux_platform::PugiXmlDocument>());
    Check(store.load_result() == k2t::XmlLoadResult::kLoaded, "the saved profile does not parse");
    k2t::ReloadSettings(read_back, store);
    Check(read_back == saved, "the keys do not read back as saved");
  };
  check_read_back(module.settings);

  // The same reload and save on the original file parsed whole and in the
  // smallest pieces: the host's content and the keys come out the same.
  for (const std::size_t piece_size : {0, 1}) {
    WriteFile(path, before);
    {
      auto document = std::make_unique<k2t::linux_platform::PugiXmlDocument>();
      document->SetPieceSize(piece_size);
      k2t::ProfileStore store(path, std::move(document));
      k2t::PendantSettings settings;
      k2t::ReloadSettings(settings, store);
      k2t::SaveSettings(module.settings, store);
    }
    if (loaded == k2t::XmlLoadResult::kLoaded)
      Check(HostContent(ReadFile(path)) == HostContent(before), "the host's content changed (pieces)");
    check_read_back(module.settings);
  }
  return 0;
}
