// The MSXML document and the file replacement under it, where the profile
// tests through the module cannot reach: load results, references a
// profile must not follow, COM left as it was found, and the save's
// fallbacks.
#include <windows.h>
#include <objbase.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/windows/atomic_file.h"
#include "platform/windows/profile_document.h"
#include "support/fakes.h"

namespace k2t::windows_platform {
namespace {

namespace fs = std::filesystem;

class ProfileFileTest : public ::testing::Test {
 protected:
  ProfileFileTest() : dir_(testing::MakeTempDir("k2t-msxml")), path_(dir_ + "\\profile.xml") {}
  ~ProfileFileTest() override { fs::remove_all(dir_); }
  void Write(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
  std::string Read(const std::string& path) const {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  std::size_t FilesInFolder() const { return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir_), fs::directory_iterator())); }

  std::string dir_, path_;
};

TEST_F(ProfileFileTest, LoadResults) {
  const struct {
    const char* name;
    const char* text;  // null: no file
    XmlLoadResult result;
    std::size_t keys;
  } cases[] = {
      {"no file", nullptr, XmlLoadResult::kMissing, 0},
      {"white space only", " \r\n\t", XmlLoadResult::kMissing, 0},
      {"does not parse", "<profile><Open></profile>", XmlLoadResult::kUnreadable, 0},
      {"parses", "<profile><iTalvo_K2T_Pendant><A>1</A><!-- c --><B/></iTalvo_K2T_Pendant></profile>",
       XmlLoadResult::kLoaded, 2},
  };
  for (const auto& c : cases) {
    fs::remove(path_);
    if (c.text) Write(path_, c.text);
    auto doc = MsxmlDocument::Create();
    ASSERT_NE(doc, nullptr);
    std::vector<ProfileKey> keys;
    std::string reason;
    EXPECT_EQ(doc->Load(path_, kSettingsSection, keys, reason), c.result) << c.name;
    EXPECT_EQ(keys.size(), c.keys) << c.name;
    EXPECT_EQ(reason.empty(), c.result != XmlLoadResult::kUnreadable) << c.name << ": " << reason;
  }
}

TEST_F(ProfileFileTest, ExternalReferencesAreNotFollowed) {
  Write(dir_ + "\\secret.txt", "SECRET");
  Write(path_, "<?xml version=\"1.0\"?>\n<!DOCTYPE profile [<!ENTITY x SYSTEM \"secret.txt\">]>\n"
               "<profile><profile><A>&x;</A></profile></profile>");
  auto doc = MsxmlDocument::Create();
  ASSERT_NE(doc, nullptr);
  std::vector<ProfileKey> keys;
  std::string reason;
  doc->Load(path_, "profile", keys, reason);
  for (const ProfileKey& key : keys) EXPECT_EQ(key.text.find("SECRET"), std::string::npos);
}

// COM on the calling thread is left as the document found it.
TEST_F(ProfileFileTest, ComIsBalancedOnTheCallingThread) {
  const struct {
    const char* name;
    DWORD apartment;  // 0: the thread has no COM
  } cases[] = {{"no COM", 0}, {"single-threaded", COINIT_APARTMENTTHREADED}, {"multi-threaded", COINIT_MULTITHREADED}};
  for (const auto& c : cases) {
    HRESULT after = E_FAIL;
    bool created = false;
    std::thread([&] {
      if (c.apartment) ::CoInitializeEx(nullptr, c.apartment);
      created = MsxmlDocument::Create() != nullptr;
      // Asking again for the same apartment tells whether COM is still on.
      const DWORD single = COINIT_APARTMENTTHREADED;
      after = ::CoInitializeEx(nullptr, c.apartment ? c.apartment : single);
      ::CoUninitialize();
      if (c.apartment) ::CoUninitialize();
    }).join();
    EXPECT_TRUE(created) << c.name;
    const HRESULT still_on = S_FALSE, was_off = S_OK;
    EXPECT_EQ(after, c.apartment ? still_on : was_off) << c.name;
  }
}

TEST_F(ProfileFileTest, SaveReplacesWholeOrFallsBackInPlace) {
  const std::string old_text = "<profile><Old/></profile>";
  const std::string new_text = "<profile><New/></profile>";
  const std::wstring wide(path_.begin(), path_.end());
  const std::string link = dir_ + "\\link.xml";
  const struct {
    const char* name;
    AtomicWriteFaults faults;
    bool hard_link;
    bool written;
  } cases[] = {
      {"replaced", {}, false, true},
      {"the replace fails", {true, false, 0}, false, false},
      {"the folder takes no new file", {false, true, 0}, false, true},
      {"several hard links", {false, false, 2}, true, true},
      // Another program holds the file without delete sharing.
      {"the replace meets a sharing violation", {false, false, 0, ERROR_SHARING_VIOLATION}, false, true},
      {"the replaced file cannot be removed", {false, false, 0, ERROR_UNABLE_TO_REMOVE_REPLACED}, false, true},
      {"access denied, the file busy twice", {false, false, 0, ERROR_ACCESS_DENIED, 2}, false, true},
      {"the file held against writing throughout", {false, false, 0, ERROR_SHARING_VIOLATION, 100000}, false, false},
  };
  for (const auto& c : cases) {
    fs::remove(link);
    Write(path_, old_text);
    if (c.hard_link) {
      ASSERT_TRUE(::CreateHardLinkA(link.c_str(), path_.c_str(), nullptr)) << c.name;
    }
    LARGE_INTEGER start{}, end{}, frequency{};
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&start);
    unsigned long error = 0;
    EXPECT_EQ(AtomicWriteFile(wide, new_text.data(), new_text.size(), &c.faults, &error), c.written) << c.name;
    ::QueryPerformanceCounter(&end);
    // Saves run on the host's thread: the retries on a busy file end within 50 ms.
    EXPECT_LT(1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart, 50.0) << c.name;
    EXPECT_EQ(error != 0, !c.written) << c.name;
    EXPECT_EQ(Read(path_), c.written ? new_text : old_text) << c.name;
    // Written in place, the other name of the file sees the new text.
    if (c.hard_link) {
      EXPECT_EQ(Read(link), new_text) << c.name;
    }
    EXPECT_EQ(FilesInFolder(), c.hard_link ? 2u : 1u) << c.name << ": a temporary file was left";
  }
  // A new file; none where the folder does not exist.
  fs::remove(path_);
  EXPECT_TRUE(AtomicWriteFile(wide, new_text.data(), new_text.size()));
  EXPECT_EQ(Read(path_), new_text);
  const std::wstring nowhere = wide + L"\\no\\such.xml";
  EXPECT_FALSE(AtomicWriteFile(nowhere, new_text.data(), new_text.size()));
}

// A save that does not reach the file says which file and why.
TEST_F(ProfileFileTest, FailedSaveSaysWhy) {
  Write(path_, "<profile/>");
  auto doc = MsxmlDocument::Create();
  ASSERT_NE(doc, nullptr);
  std::vector<ProfileKey> keys;
  std::string reason;
  ASSERT_EQ(doc->Load(path_, kSettingsSection, keys, reason), XmlLoadResult::kLoaded);
  AtomicWriteFaults faults;
  faults.replace_error = ERROR_SHARING_VIOLATION;
  faults.in_place_busy = 100000;
  doc->SetWriteFaults(faults);
  keys.push_back({"Vel", "3", ProfileKey::State::kAdded});
  ProfileSaveError error;
  EXPECT_FALSE(doc->Save(path_, keys, error));
  EXPECT_EQ(error.file, path_);
  EXPECT_EQ(error.reason, ErrorText(ERROR_SHARING_VIOLATION));
  EXPECT_NE(error.reason.find("(32)"), std::string::npos) << error.reason;
  EXPECT_EQ(Read(path_), "<profile/>");
}

}  // namespace
}  // namespace k2t::windows_platform
