// The profile on Linux, byte for byte: only what the module changed is
// spliced into the file, in the file's encoding; what expat refuses is never
// written; and the file replacement under it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include "platform/linux/atomic_file.h"
#include "platform/linux/profile_document.h"
#include "support/fakes.h"

namespace k2t::testing {
namespace {

namespace fs = std::filesystem;
using linux_platform::AtomicWriteFaults;
using linux_platform::AtomicWriteFile;
using linux_platform::ProfileDocument;

class LinuxProfileTest : public ::testing::Test {
 protected:
  LinuxProfileTest() {
    char pattern[] = "/tmp/k2t-profile-XXXXXX";
    dir_ = ::mkdtemp(pattern);
    path_ = dir_ + "/profile.xml";
  }
  ~LinuxProfileTest() override {
    ::chmod(dir_.c_str(), 0755);
    fs::remove_all(dir_);
  }
  void Write(const std::string& text) { std::ofstream(path_, std::ios::binary) << text; }
  std::string Read() const { return ReadFileBytes(path_); }
  // The file after a store over `before` did what `use` does.
  std::string After(const std::string& before, const std::function<void(ProfileStore&)>& use) {
    Write(before);
    ProfileStore store(path_, std::make_unique<ProfileDocument>());
    EXPECT_EQ(store.load_result(), XmlLoadResult::kLoaded) << before;
    use(store);
    ProfileSaveError error;
    EXPECT_TRUE(store.Finish(error)) << error.reason;
    return Read();
  }
  static std::string Section(const std::string& body) {
    return "<profile><iTalvo_K2T_Pendant>" + body + "</iTalvo_K2T_Pendant></profile>";
  }

  std::string dir_, path_;
};

void SetVel(ProfileStore& store) { store.WriteInt(kSettingsSection, "Vel", 3); }

// Everything the module did not change keeps its bytes.
TEST_F(LinuxProfileTest, OnlyWhatChangedIsSpliced) {
  const struct {
    const char* name;
    std::string before;
    std::function<void(ProfileStore&)> use;
    std::string after;
  } cases[] = {
      {"a self-closing document element, single quotes and a line break in its tag",
       "<?xml version='1.0'?>\r\n<!-- c -->\r\n<profile a='1'\r\n  b=\"2\" />\r\n", SetVel,
       "<?xml version='1.0'?>\r\n<!-- c -->\r\n<profile a='1'\r\n  b=\"2\" >"
       "<iTalvo_K2T_Pendant><Vel>3</Vel></iTalvo_K2T_Pendant></profile>\r\n"},
      {"a comment and an unknown key inside the section",
       "<profile>\n <iTalvo_K2T_Pendant>\n  <!-- c -->\n  <Mine x='1'>m</Mine>\n  <Vel>2</Vel>\n"
       " </iTalvo_K2T_Pendant>\n</profile>\n",
       [](ProfileStore& s) {
         SetVel(s);
         s.WriteText(kSettingsSection, "Fun1", "F");
       },
       "<profile>\n <iTalvo_K2T_Pendant>\n  <!-- c -->\n  <Mine x='1'>m</Mine>\n  <Vel>3</Vel>\n"
       " <Fun1>F</Fun1></iTalvo_K2T_Pendant>\n</profile>\n"},
      {"a self-closing section and key", "<profile><iTalvo_K2T_Pendant/><iTalvo_K2T_Pendant><Vel/></iTalvo_K2T_Pendant></profile>",
       SetVel,
       "<profile><iTalvo_K2T_Pendant><Vel>3</Vel></iTalvo_K2T_Pendant><iTalvo_K2T_Pendant><Vel/></iTalvo_K2T_Pendant></profile>"},
      {"a self-closing key given a value", Section("<Vel a='b' />"), SetVel, Section("<Vel a='b' >3</Vel>")},
      {"an empty key read, a key with children written", Section("<S1></S1>\n<Fun1>a<b/>c</Fun1>"),
       [](ProfileStore& s) {
         s.GetText(kSettingsSection, "S1", "");
         s.WriteText(kSettingsSection, "Fun1", "x");
       },
       Section("\n<Fun1>x</Fun1>")},
      {"markup and a carriage return escaped; values saved unchanged keep their references",
       Section("<Fun1>a&#65;&amp;<![CDATA[<]]></Fun1><Fun2>x</Fun2>"),
       [](ProfileStore& s) {
         s.WriteText(kSettingsSection, "Fun1", "aA&<");
         s.WriteText(kSettingsSection, "Fun2", "a<b&c>\r\n\x01");
       },
       Section("<Fun1>a&#65;&amp;<![CDATA[<]]></Fun1><Fun2>a&lt;b&amp;c&gt;&#13;\n\xEF\xBF\xBD</Fun2>")},
      {"a section across the 64 KB pieces expat parses",
       "<profile><!--" + std::string(65500, 'x') + "-->\n" + Section("<Vel>2</Vel>").substr(9), SetVel,
       "<profile><!--" + std::string(65500, 'x') + "-->\n" + Section("<Vel>3</Vel>").substr(9)},
      {"a section further down is not the section", "<p><a><iTalvo_K2T_Pendant/></a></p>", SetVel,
       "<p><a><iTalvo_K2T_Pendant/></a><iTalvo_K2T_Pendant><Vel>3</Vel></iTalvo_K2T_Pendant></p>"},
  };
  for (const auto& c : cases) EXPECT_EQ(After(c.before, c.use), c.after) << c.name;
}

// A profile read and left as it was is not written: the same file, the same bytes.
TEST_F(LinuxProfileTest, UnchangedProfileIsNotWritten) {
  const std::string host = "<?xml version=\"1.0\"?>\r\n<profile>\r\n  <P L='en'>&amp;</P>\r\n" +
                           Section("<Vel>2</Vel>").substr(9) + "\r\n";
  Write(host);
  struct stat before{}, after{};
  ::stat(path_.c_str(), &before);
  FakePlatform platform;
  Module module(platform);
  module.SetProName(path_.c_str());
  module.PostInitControl();
  ::stat(path_.c_str(), &after);
  EXPECT_EQ(Read(), host);
  EXPECT_EQ(after.st_ino, before.st_ino);
}

TEST_F(LinuxProfileTest, BlankFileBecomesTheEmptyProfile) {
  for (const char* blank : {"", "\n \t\r\n"}) {
    Write(blank);
    ProfileStore(path_, std::make_unique<ProfileDocument>()).WriteInt(kSettingsSection, "Vel", 3);
    EXPECT_EQ(Read(), Section("<Vel>3</Vel>"));
  }
}

std::string Utf16Le(const std::string& ascii) {
  std::string out = "\xFF\xFE";
  for (char c : ascii) out += std::string{c, '\0'};
  return out;
}

// Texts are UTF-8 inside; a file keeps its encoding, a character it cannot
// hold is written as a reference, and a value left alone keeps its bytes.
TEST_F(LinuxProfileTest, TextsInTheFilesEncoding) {
  const std::string cafe = "Caf\xC3\xA9", euro = "5\xE2\x82\xAC \xC3\xBC";
  const std::string so_hyo = "\xE3\x82\xBD\xE8\xA1\xA8";  // U+30BD U+8868: 0x83 0x5C 0x95 0x5C in Shift_JIS
  const struct {
    const char* encoding;
    std::string label;    // Fun1 in the file's bytes
    std::string read;     // as the module sees it
    std::string written;  // Fun2 after writing `euro`, in the file's bytes
  } cases[] = {
      {"windows-1252", "Caf\xE9", cafe, "5\x80 \xFC"},
      {"ISO-8859-1", "Caf\xE9", cafe, "5&#8364; \xFC"},
      {"US-ASCII", "Caf&#233;", cafe, "5&#8364; &#252;"},
      {"UTF-8", cafe, cafe, euro},
      {"Shift_JIS", "\x83\x5C\x95\x5C", so_hyo, "5&#8364; &#252;"},
      {"KOI8-R", "\xF0\xD2\xC9", "\xD0\x9F\xD1\x80\xD0\xB8", "5&#8364; &#252;"},
  };
  for (const auto& c : cases) {
    const std::string host = std::string("<?xml version=\"1.0\" encoding=\"") + c.encoding + "\"?>\n<profile><Host>" +
                             c.label + "</Host>";
    Write(host + Section("<Fun1>" + c.label + "</Fun1><Fun2>x</Fun2>").substr(9));
    {
      ProfileStore store(path_, std::make_unique<ProfileDocument>());
      EXPECT_EQ(store.GetText(kSettingsSection, "Fun1", ""), c.read) << c.encoding;
      store.WriteText(kSettingsSection, "Fun1", c.read);  // unedited
      store.WriteText(kSettingsSection, "Fun2", euro);
    }
    EXPECT_EQ(Read(), host + Section("<Fun1>" + c.label + "</Fun1><Fun2>" + c.written + "</Fun2>").substr(9))
        << c.encoding;
    EXPECT_EQ(ProfileStore(path_, std::make_unique<ProfileDocument>()).GetText(kSettingsSection, "Fun2", ""), euro)
        << c.encoding;
  }
  // UTF-16 with its byte order mark and CRLF around the document element.
  const std::string before = "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n<!-- c -->\r\n<profile>\r\n</profile>\r\n";
  EXPECT_EQ(After(Utf16Le(before), SetVel),
            Utf16Le("<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n<!-- c -->\r\n<profile>\r\n"
                    "<iTalvo_K2T_Pendant><Vel>3</Vel></iTalvo_K2T_Pendant></profile>\r\n"));
}

// Not XML, or not XML this module can write: unreadable, with a reason, and
// never written.
TEST_F(LinuxProfileTest, WhatExpatRefusesIsNeverWritten) {
  const std::string section = "<iTalvo_K2T_Pendant><Vel>2</Vel></iTalvo_K2T_Pendant>";
  for (const std::string& broken : {
           "<profile name=\"a & b\">" + section + "</profile>",
           "<profile>a & b" + section + "</profile>",
           "<profile><!-- a -- b -->" + section + "</profile>",
           "<profile>&#65" + section + "</profile>",
           "<profile>&custom;" + section + "</profile>",
           "<?xml version=\"1.0\" encoding=\"windows-1252\"?><profile>\x81" + section + "</profile>",
           "<profile>\xE9" + section + "</profile>",
           "<?xml version=\"1.0\" encoding=\"EBCDIC-US\"?><profile>" + section + "</profile>",
           "<!DOCTYPE profile [<!ENTITY s \"" + section + "\">]><profile>&s;</profile>",
           "<profile>" + section + "</profile>\n<profile/>",
           std::string("<\0p\0/\0>\0", 8),  // UTF-16 without its byte order mark
       }) {
    Write(broken);
    std::vector<ProfileKey> keys;
    std::string reason;
    EXPECT_EQ(ProfileDocument().Load(path_, kSettingsSection, keys, reason), XmlLoadResult::kUnreadable) << broken;
    EXPECT_FALSE(reason.empty()) << broken;
    FakePlatform platform;
    Module module(platform);
    module.SetProName(path_.c_str());
    module.PostInitControl();
    module.Config();
    EXPECT_EQ(Read(), broken);
    EXPECT_EQ(platform.messages.size(), 1u) << broken;
  }
}

// No external entity or DTD is read, and an entity that expands without
// bound is refused.
TEST_F(LinuxProfileTest, EntitiesReadNothingAndStayBounded) {
  std::ofstream(dir_ + "/secret.txt") << "SECRET";
  Write("<!DOCTYPE profile SYSTEM \"secret.dtd\" [<!ENTITY x SYSTEM \"secret.txt\">]>" +
        Section("<Fun1>a&x;b</Fun1>"));
  ProfileStore store(path_, std::make_unique<ProfileDocument>());
  EXPECT_EQ(store.GetText(kSettingsSection, "Fun1", ""), "ab");
  std::string laughs = "<!DOCTYPE profile [<!ENTITY a0 \"lol\">";
  for (int i = 1; i < 12; ++i)
    laughs += "<!ENTITY a" + std::to_string(i) + " \"" + std::string(10, '&') + "\">";
  for (int i = 1; i < 12; ++i) {
    const std::string ref = "&a" + std::to_string(i - 1) + ";";
    std::string body;
    for (int k = 0; k < 10; ++k) body += ref;
    laughs.replace(laughs.find(std::string(10, '&')), 10, body);
  }
  Write(laughs + "]>" + Section("<Fun1>&a11;</Fun1>"));
  std::vector<ProfileKey> keys;
  std::string reason;
  EXPECT_EQ(ProfileDocument().Load(path_, kSettingsSection, keys, reason), XmlLoadResult::kUnreadable);
}

// Only a file that is not there counts as missing; one that cannot be
// looked at is unreadable, so no new profile ever takes its place.
TEST_F(LinuxProfileTest, OnlyAnAbsentFileIsMissing) {
  Write("<profile/>");
  ::symlink("loop", (dir_ + "/loop").c_str());
  ::mkfifo((dir_ + "/fifo").c_str(), 0644);
  const struct {
    std::string path;
    XmlLoadResult result;
  } cases[] = {
      {dir_ + "/absent.xml", XmlLoadResult::kMissing},
      {path_ + "/below-a-file.xml", XmlLoadResult::kUnreadable},  // ENOTDIR
      {dir_ + "/loop", XmlLoadResult::kUnreadable},               // ELOOP
      {dir_ + "/fifo", XmlLoadResult::kUnreadable},               // not read: it would block
      {path_, XmlLoadResult::kLoaded},
  };
  for (const auto& c : cases) {
    std::vector<ProfileKey> keys;
    std::string reason;
    EXPECT_EQ(ProfileDocument().Load(c.path, kSettingsSection, keys, reason), c.result) << c.path;
  }
}

TEST_F(LinuxProfileTest, FailedSaveSaysWhy) {
  Write(Section("<Vel>2</Vel>"));
  auto document = std::make_unique<ProfileDocument>();
  document->SetWriteFaults({true, 0});
  ProfileStore store(path_, std::move(document));
  SetVel(store);
  ProfileSaveError error;
  EXPECT_FALSE(store.Finish(error));
  EXPECT_EQ(error.file, path_);
  EXPECT_EQ(error.reason, std::strerror(EIO));
  EXPECT_EQ(Read(), Section("<Vel>2</Vel>"));
}

// Where a replacement through a temporary file would lose the save or
// something of the file, it is written in place; what is not a regular file
// is never written.
TEST_F(LinuxProfileTest, SavesThatCannotReplaceTheFileWriteItInPlace) {
  const std::string data = "<profile><New/></profile>";
  const struct {
    const char* name;
    std::function<std::string()> arrange;  // gives the path to save to
    std::function<void(const std::string&)> check;
    bool saved;
    bool refuse_temporary = false;
  } cases[] = {
      {"folder refuses the temporary file",
       [&] {
         Write("<profile><Old/></profile>");
         if (::geteuid() != 0) ::chmod(dir_.c_str(), 0555);  // root writes through permissions
         return path_;
       },
       nullptr, true, true},
      {"name as long as a name can be",
       [&] {
         const std::string path = dir_ + "/" + std::string(244, 'p') + ".xml";
         std::ofstream(path) << "<profile/>";
         return path;
       },
       nullptr, true},
      {"second hard link",
       [&] {
         Write("<profile/>");
         const std::string link = dir_ + "/second.xml";
         EXPECT_EQ(::link(path_.c_str(), link.c_str()), 0);
         return link;
       },
       [&](const std::string& link) {
         struct stat a{}, b{};
         ::stat(path_.c_str(), &a);
         ::stat(link.c_str(), &b);
         EXPECT_EQ(a.st_ino, b.st_ino);
         EXPECT_EQ(a.st_nlink, 2u);
         EXPECT_EQ(Read(), data);
       },
       true},
      {"not a regular file",
       [&] {
         const std::string fifo = dir_ + "/fifo.xml";
         EXPECT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
         return fifo;
       },
       [](const std::string& fifo) { EXPECT_TRUE(fs::is_fifo(fifo)); }, false},
  };
  for (const auto& c : cases) {
    fs::remove_all(dir_);
    fs::create_directory(dir_);
    const std::string path = c.arrange();
    AtomicWriteFaults faults;
    if (c.refuse_temporary && ::geteuid() == 0) faults.refuse_temporary = EACCES;
    int error = 0;
    EXPECT_EQ(AtomicWriteFile(path, data.data(), data.size(), &faults, &error), c.saved) << c.name;
    EXPECT_EQ(error != 0, !c.saved) << c.name;
    ::chmod(dir_.c_str(), 0755);
    if (c.saved) {
      std::ifstream in(path, std::ios::binary);
      EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), data) << c.name;
    }
    if (c.check) c.check(path);
    // No temporary file is left behind.
    for (const auto& entry : fs::directory_iterator(dir_))
      EXPECT_NE(entry.path().filename().string().rfind(".k2t", 0), 0u) << c.name << entry.path();
  }
}

TEST_F(LinuxProfileTest, ReplacementKeepsOwnerAndGroup) {
  if (::geteuid() != 0) GTEST_SKIP() << "giving a file to another owner needs root";
  Write("<profile/>");
  ASSERT_EQ(::chown(path_.c_str(), 4321, 8765), 0);
  const std::string data = "<profile><A/></profile>";
  ASSERT_TRUE(AtomicWriteFile(path_, data.data(), data.size()));
  struct stat st{};
  ::stat(path_.c_str(), &st);
  EXPECT_EQ(st.st_uid, 4321u);
  EXPECT_EQ(st.st_gid, 8765u);
  EXPECT_EQ(Read(), data);
}

TEST_F(LinuxProfileTest, FailureBeforeRenameLeavesTheOldProfile) {
  Write("<profile><Old>1</Old></profile>");
  const std::string data = "<profile><New/></profile>";
  AtomicWriteFaults faults{true, 0};
  EXPECT_FALSE(AtomicWriteFile(path_, data.data(), data.size(), &faults));
  EXPECT_EQ(Read(), "<profile><Old>1</Old></profile>");
  // No temporary file is left behind.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
  EXPECT_TRUE(AtomicWriteFile(path_, data.data(), data.size()));
  EXPECT_EQ(Read(), data);
}

TEST_F(LinuxProfileTest, SaveKeepsPermissionsAndFollowsLinks) {
  Write("<profile/>");
  ::chmod(path_.c_str(), 0640);
  const std::string link = dir_ + "/link.xml";
  ASSERT_EQ(::symlink(path_.c_str(), link.c_str()), 0);
  const std::string data = "<profile><A/></profile>";
  ASSERT_TRUE(AtomicWriteFile(link, data.data(), data.size()));
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(Read(), data);
  struct stat st{};
  ::stat(path_.c_str(), &st);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

}  // namespace
}  // namespace k2t::testing
