// The XML profile store and the settings keys, on real files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sys/types.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <sstream>

#include "platform/linux/atomic_file.h"
#include "platform/linux/pugixml_document.h"
#include "support/fakes.h"

namespace k2t::testing {
namespace {

namespace fs = std::filesystem;

class ProfileTest : public ::testing::Test {
 protected:
  ProfileTest() {
    char pattern[] = "/tmp/k2t-profile-XXXXXX";
    dir_ = ::mkdtemp(pattern);
    path_ = dir_ + "/profile.xml";
    host_.Install(module_.host);
  }
  ~ProfileTest() override {
    ::chmod(dir_.c_str(), 0755);
    fs::remove_all(dir_);
  }
  void Write(const std::string& text) { std::ofstream(path_, std::ios::binary) << text; }
  std::string Read() const {
    std::ifstream in(path_, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  std::unique_ptr<ProfileStore> Store() {
    return std::make_unique<ProfileStore>(path_, std::make_unique<linux_platform::PugiXmlDocument>());
  }
  std::string Section(const std::string& body) {
    return "<profile><iTalvo_K2T_Pendant>" + body + "</iTalvo_K2T_Pendant></profile>";
  }
  void StartModule() {
    module_.InitControl(host_.motion(), host_.setup(), host_.planner(), nullptr);
    host_.Install(module_.host);
    module_.SetProName(path_.c_str());
    module_.PostInitControl();
  }

  std::string dir_, path_;
  FakeHost host_;
  FakePlatform platform_;
  Module module_{platform_};
};

TEST_F(ProfileTest, MissingFileComesIntoExistenceWithAnEmptyProfile) {
  module_.SetProName(path_.c_str());
  EXPECT_EQ(Read(), "<profile/>");
}

TEST_F(ProfileTest, ReadsFollowTheKeyRules) {
  Write(Section("<A> 42</A><B>-5</B><C>12abc</C><D>abc</D><E></E><F>text here</F><G/>") +
        "<!-- after -->");
  {
    auto store = Store();
    const struct {
      const char* key;
      std::int32_t expected;
    } ints[] = {{"A", 42}, {"B", -5}, {"C", 12}, {"D", 0}, {"E", 77}, {"Missing", 77}};
    for (const auto& c : ints) EXPECT_EQ(store->GetInt(kSettingsSection, c.key, 77), c.expected) << c.key;
    EXPECT_EQ(store->GetText(kSettingsSection, "F", "d"), "text here");
    EXPECT_EQ(store->GetText(kSettingsSection, "G", "dflt"), "dflt");
    EXPECT_EQ(store->GetText("OtherSection", "F", "none"), "none");
  }
  // Empty key elements were removed; nothing else changed or was created.
  EXPECT_EQ(Read(), Section("<A> 42</A><B>-5</B><C>12abc</C><D>abc</D><F>text here</F>") +
                        "<!-- after -->");
}

TEST_F(ProfileTest, WritesFindOrCreateInOrder) {
  Write("<profile><Host>1</Host></profile>");
  {
    auto store = Store();
    store->WriteInt(kSettingsSection, "K1", -5);
    store->WriteText(kSettingsSection, "K2", "a<b&c");
    store->WriteInt(kSettingsSection, "K1", 7);  // replaced in place
    store->WriteText(kSettingsSection, "K3", "");  // stays, empty
  }
  EXPECT_EQ(Read(),
            "<profile><Host>1</Host><iTalvo_K2T_Pendant><K1>7</K1><K2>a&lt;b&amp;c</K2><K3/>"
            "</iTalvo_K2T_Pendant></profile>");
  auto store = Store();
  EXPECT_EQ(store->GetText(kSettingsSection, "K2", ""), "a<b&c");
}

TEST_F(ProfileTest, OnlyTheFirstOfTwoSectionsIsUsed) {
  Write("<profile><iTalvo_K2T_Pendant><X>1</X></iTalvo_K2T_Pendant>"
        "<iTalvo_K2T_Pendant><X>2</X><Y>3</Y></iTalvo_K2T_Pendant></profile>");
  {
    auto store = Store();
    EXPECT_EQ(store->GetInt(kSettingsSection, "X", 0), 1);
    EXPECT_EQ(store->GetInt(kSettingsSection, "Y", 0), 0);
    store->WriteInt(kSettingsSection, "Y", 9);
  }
  EXPECT_EQ(Read(),
            "<profile><iTalvo_K2T_Pendant><X>1</X><Y>9</Y></iTalvo_K2T_Pendant>"
            "<iTalvo_K2T_Pendant><X>2</X><Y>3</Y></iTalvo_K2T_Pendant></profile>");
}

TEST_F(ProfileTest, HostContentRoundTripsByteIdentical) {
  const std::string host_part =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
      "<!-- host profile -->\r\n"
      "<profile>\r\n"
      "  <Preferences Lang='en' Note='say \"hi\"'>\r\n"
      "    <Name>Mill &amp; Lathe &#65; &gt;</Name>\r\n"
      "    <?app keep me?>\r\n"
      "    <![CDATA[raw <data>]]>\r\n"
      "  </Preferences>\r\n"
      "  <Empty></Empty>\r\n";
  Write(host_part + "</profile>\r\n");
  module_.InitControl(host_.motion(), host_.setup(), host_.planner(), nullptr);
  host_.Install(module_.host);
  // Read and left as it was, the file is not written: not a byte changes,
  // and it stays the same file.
  struct stat original{}, now{};
  ::stat(path_.c_str(), &original);
  module_.SetProName(path_.c_str());
  module_.PostInitControl();
  ::stat(path_.c_str(), &now);
  EXPECT_EQ(Read(), host_part + "</profile>\r\n");
  EXPECT_EQ(now.st_ino, original.st_ino);
  // A save writes the module's section and leaves the rest as it was.
  module_.Config();
  const std::string saved = Read();
  ASSERT_EQ(saved.substr(0, host_part.size()), host_part);
  EXPECT_TRUE(saved.ends_with("<Fun3>F3</Fun3></iTalvo_K2T_Pendant></profile>\r\n")) << saved;
}

// Attribute values in single quotes that hold double quotes are written
// escaped, wherever an apostrophe stands before them, when the library
// writes them: in the module's section, and in the whole document when it
// is parsed whole. Elsewhere the file's text stays as written.
TEST_F(ProfileTest, DoubleQuotesInSingleQuotedAttributesAreEscaped) {
  const std::string kept = "<P Lang='say \"hi\"'/>", escaped = "<P Lang=\"say &quot;hi&quot;\"/>";
  for (const std::size_t piece_size : {std::size_t{0}, std::size_t{1}, std::size_t{1} << 16}) {
    for (const std::string& before :
         {std::string(""), std::string("<!-- it='s -->"), std::string("<a>x='y</a>")}) {
      Write("<profile>" + before + kept + "<iTalvo_K2T_Pendant V='\"'/></profile>");
      {
        auto document = std::make_unique<linux_platform::PugiXmlDocument>();
        document->SetPieceSize(piece_size);
        ProfileStore(path_, std::move(document)).WriteInt(kSettingsSection, "Vel", 3);
      }
      EXPECT_EQ(Read(), "<profile>" + before + (piece_size ? kept : escaped) +
                            "<iTalvo_K2T_Pendant V=\"&quot;\"><Vel>3</Vel></iTalvo_K2T_Pendant></profile>")
          << piece_size << before;
    }
  }
}

// Saved with a change, the text around the document element stays as it was.
TEST_F(ProfileTest, WhiteSpaceAroundTopLevelNodesIsKept) {
  const std::pair<std::string, std::string> cases[] = {
      {"\n<!-- c --> ", "\r\n\t<!-- end -->\n<?pi x?>  \n"},
      {"\n<!-- c --> ", "<!--a<!-->\n<?pi x<?>"},
      {"<!DOCTYPE profile [ <!ENTITY e \"]>\"> <!-- ' --> ]>\r\n", "\n"},
      {"<!DOCTYPE profile SYSTEM 'a>b'>  ", ""},
  };
  for (const auto& [prolog, trailing] : cases) {
    Write(prolog + "<profile></profile>" + trailing);
    Store()->WriteInt(kSettingsSection, "Vel", 3);
    EXPECT_EQ(Read(), prolog + "<profile><iTalvo_K2T_Pendant><Vel>3</Vel></iTalvo_K2T_Pendant></profile>" + trailing);
  }
}

// Not well-formed: the library may accept text outside every node, but
// drops it; such a file is the host's to mend, never rewritten.
TEST_F(ProfileTest, UnparseableProfileIsNeverOverwritten) {
  const std::string section = "<iTalvo_K2T_Pendant><S1>5</S1></iTalvo_K2T_Pendant>";
  for (const std::string& broken : {
           std::string("<profile><Open></profile>"),
           "\x03<?xml version=\"1.0\" encoding=\"windows-1252\"?><profile>" + section + "</profile>",
           "<?xml version=\"1.0\"?> text <profile>" + section + "</profile>",
           "<profile>" + section + "</profile>\x81",
           "<profile>" + section + "</profile> x <profile/>",
           "<profile>" + section + "</profile" + std::string(3, '\0') + ">",
       }) {
    Write(broken);
    StartModule();
    module_.Config();
    EXPECT_EQ(Read(), broken);
    EXPECT_EQ(module_.settings.stepSize[1], "0.0001") << broken;  // defaults
  }
}

// Only a file that is not there counts as missing; one that cannot be
// looked at is unreadable, so no new profile ever takes its place.
TEST_F(ProfileTest, OnlyAnAbsentFileIsMissing) {
  Write("<profile/>");
  ::symlink("loop", (dir_ + "/loop").c_str());
  const struct {
    std::string path;
    XmlLoadResult result;
  } cases[] = {
      {dir_ + "/absent.xml", XmlLoadResult::kMissing},
      {path_ + "/below-a-file.xml", XmlLoadResult::kUnreadable},  // ENOTDIR
      {dir_ + "/loop", XmlLoadResult::kUnreadable},               // ELOOP
      {path_, XmlLoadResult::kLoaded},
  };
  for (const auto& c : cases) {
    linux_platform::PugiXmlDocument document;
    EXPECT_EQ(document.Load(c.path), c.result) << c.path;
  }
}

TEST_F(ProfileTest, EmptyNameOrUnwritableFolderWritesNothing) {
  module_.SetProName("");
  module_.PostInitControl();
  module_.Config();
  EXPECT_FALSE(fs::exists(path_));

  const std::string missing_dir = dir_ + "/no/such/folder/p.xml";
  module_.SetProName(missing_dir.c_str());
  module_.Config();
  EXPECT_FALSE(fs::exists(missing_dir));
}

// Where a replacement through a temporary file would lose the save or
// something of the file, it is written in place; what is not a regular file
// is never written.
TEST_F(ProfileTest, SavesThatCannotReplaceTheFileWriteItInPlace) {
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
    linux_platform::AtomicWriteFaults faults;
    if (c.refuse_temporary && ::geteuid() == 0) faults.refuse_temporary = EACCES;
    EXPECT_EQ(linux_platform::AtomicWriteFile(path, data.data(), data.size(), &faults), c.saved) << c.name;
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

TEST_F(ProfileTest, ReplacementKeepsOwnerAndGroup) {
  if (::geteuid() != 0) GTEST_SKIP() << "giving a file to another owner needs root";
  Write("<profile/>");
  ASSERT_EQ(::chown(path_.c_str(), 4321, 8765), 0);
  const std::string data = "<profile><A/></profile>";
  ASSERT_TRUE(linux_platform::AtomicWriteFile(path_, data.data(), data.size()));
  struct stat st{};
  ::stat(path_.c_str(), &st);
  EXPECT_EQ(st.st_uid, 4321u);
  EXPECT_EQ(st.st_gid, 8765u);
  EXPECT_EQ(Read(), data);
}

TEST_F(ProfileTest, FailureBeforeRenameLeavesTheOldProfile) {
  Write("<profile><Old>1</Old></profile>");
  const std::string data = "<profile><New/></profile>";
  linux_platform::AtomicWriteFaults faults{true};
  EXPECT_FALSE(linux_platform::AtomicWriteFile(path_, data.data(), data.size(), &faults));
  EXPECT_EQ(Read(), "<profile><Old>1</Old></profile>");
  // No temporary file is left behind.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
  EXPECT_TRUE(linux_platform::AtomicWriteFile(path_, data.data(), data.size()));
  EXPECT_EQ(Read(), data);
}

TEST_F(ProfileTest, SaveKeepsPermissionsAndFollowsLinks) {
  Write("<profile/>");
  ::chmod(path_.c_str(), 0640);
  const std::string link = dir_ + "/link.xml";
  ASSERT_EQ(::symlink(path_.c_str(), link.c_str()), 0);
  const std::string data = "<profile><A/></profile>";
  ASSERT_TRUE(linux_platform::AtomicWriteFile(link, data.data(), data.size()));
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(Read(), data);
  struct stat st{};
  ::stat(path_.c_str(), &st);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

// Texts are UTF-8 inside; a file keeps its encoding, a character it cannot
// hold is written as a reference, and a value left alone keeps its bytes.
TEST_F(ProfileTest, TextsKeepTheirCharactersInTheFilesEncoding) {
  const std::string cafe = "Caf\xC3\xA9 On", euro = "5\xE2\x82\xAC \xC3\xBC", snow = "\xE2\x98\x83";
  const struct {
    const char* name;
    std::string declaration;
    std::string label;   // Fun1 in the file's bytes
    std::string read;    // as the module sees it
    std::string written;  // Fun2 after writing euro + snow, in the file's bytes
  } cases[] = {
      {"windows-1252", "<?xml version=\"1.0\" encoding=\"windows-1252\"?>", "Caf\xE9 On", cafe,
       "5\x80 \xFC&#9731;"},
      {"Latin-1", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>", "Caf\xE9 On", cafe, "5&#8364; \xFC&#9731;"},
      {"windows-1252 after white space", "\n <?xml version=\"1.0\" encoding=\"cp1252\"?>", "Caf\xE9 On", cafe,
       "5\x80 \xFC&#9731;"},
      {"US-ASCII", "<?xml version=\"1.0\" encoding=\"US-ASCII\"?>", "Caf&#233; On", cafe,
       "5&#8364; &#252;&#9731;"},
      {"UTF-8", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>", cafe, cafe, euro + snow},
      {"no declaration", "", cafe, cafe, euro + snow},
      {"bytes that are no UTF-8", "", "Caf\xE9 On", "Caf\xE9 On", euro + snow},
  };
  for (const auto& c : cases) {
    const std::string host = c.declaration + "\n<profile><Host>\xC3\xA9\xE9</Host>";
    Write(host + Section("<Fun1>" + c.label + "</Fun1><Fun2>x</Fun2>").substr(9));
    {
      auto store = Store();
      EXPECT_EQ(store->GetText(kSettingsSection, "Fun1", ""), c.read) << c.name;
      store->WriteText(kSettingsSection, "Fun1", c.read);  // unedited
      store->WriteText(kSettingsSection, "Fun2", euro + snow);
    }
    EXPECT_EQ(Read(), host + Section("<Fun1>" + c.label + "</Fun1><Fun2>" + c.written + "</Fun2>").substr(9))
        << c.name;
    EXPECT_EQ(Store()->GetText(kSettingsSection, "Fun2", ""), euro + snow) << c.name;
  }
}

// Saved in pieces: a character cut between two of them still becomes its
// one byte.
TEST_F(ProfileTest, LargeSingleByteProfileSavesByteForByte) {
  std::string host = "<?xml version=\"1.0\" encoding=\"windows-1252\"?><profile>";
  for (int i = 0; i < 40000; ++i) host += i % 3 ? "<a>\xE9\x80x</a>" : "\xFC";
  Write(host + "</profile>");
  {
    auto store = Store();
    store->WriteInt(kSettingsSection, "Vel", 3);
  }
  EXPECT_EQ(Read(), host + "<iTalvo_K2T_Pendant><Vel>3</Vel></iTalvo_K2T_Pendant></profile>");
}

// Only references XML allows are decoded; the others are text as written,
// and stay so in the file when the value is saved unchanged.
TEST_F(ProfileTest, MalformedCharacterReferencesAreKeptAsWritten) {
  const struct {
    const char* raw;
    const char* text;
  } cases[] = {
      {"&#65;", "A"}, {"&#x41;&#x0000000042;", "AB"}, {"&#xe9;", "\xC3\xA9"}, {"&amp;#65;", "&#65;"},
      {"a&lt;&gt;&quot;&apos;", "a<>\"'"},
      {"&# 65;", "&# 65;"}, {"&#+65;", "&#+65;"}, {"&#X41;", "&#X41;"}, {"&#65", "&#65"},
      {"&#xD800;", "&#xD800;"}, {"&#0;", "&#0;"}, {"&#x110000;", "&#x110000;"}, {"&#1;", "&#1;"},
      {"&#99999999999999999999;", "&#99999999999999999999;"}, {"&#;&#x;", "&#;&#x;"},
      {"&custom;", "&custom;"},
  };
  for (const auto& c : cases) {
    Write(Section(std::string("<Fun1>") + c.raw + "</Fun1>"));
    {
      auto store = Store();
      EXPECT_EQ(store->GetText(kSettingsSection, "Fun1", ""), c.text) << c.raw;
      store->WriteText(kSettingsSection, "Fun1", c.text);
    }
    EXPECT_EQ(Read(), Section(std::string("<Fun1>") + c.raw + "</Fun1>")) << c.raw;
  }
}

// The document element's content is parsed in pieces, and a save writes
// the file's text with only the module's section in the library's form.
// Whatever the piece size, a profile reads as when parsed whole, keeps
// every byte outside the section, and is never rewritten when the whole
// document would not parse.
class PiecewiseProfileTest : public ProfileTest {
 protected:
  std::unique_ptr<ProfileStore> StoreInPieces(std::size_t piece_size) {
    auto document = std::make_unique<linux_platform::PugiXmlDocument>();
    document->SetPieceSize(piece_size);
    return std::make_unique<ProfileStore>(path_, std::move(document));
  }
  static constexpr std::size_t kPieceSizes[] = {0, 1, 20, 1 << 16};  // 0: parsed whole
};

TEST_F(PiecewiseProfileTest, SavesTheFileAsItWasButForTheSection) {
  const std::string section = "<iTalvo_K2T_Pendant><Vel>2</Vel></iTalvo_K2T_Pendant>";
  const std::string saved = "<iTalvo_K2T_Pendant><Vel>3</Vel></iTalvo_K2T_Pendant>";
  const struct {
    const char* name;
    std::string file;  // @ stands for the section
    std::int32_t read;
    std::string expected;  // after Vel is set to 3; empty: the file with @ as saved
  } cases[] = {
      {"markup in attributes, comments, CDATA and instructions",
       "<profile a='1>'>\n <A x='a>b' y=\"</A>\"/>\n @\n <B><!-- </B> --><![CDATA[</B>]]><?pi </B>?></B>\n</profile>\n",
       2, ""},
      {"section first, host elements in the file's forms", "<profile>@<E></E> text <F  k = 'v' /></profile>", 2, ""},
      {"names that start like the section's", "<profile><iTalvo_K2T_PendantX/><iTalvo_K2T_Pendant.a/>@</profile>", 2,
       ""},
      {"a section further down is not the section",
       "<profile><A><iTalvo_K2T_Pendant><Vel>9</Vel></iTalvo_K2T_Pendant></A>\r\n@\r\n</profile>", 2, ""},
      {"an element inside a child at the children's indentation",
       "<profile>\n <A/>\n <C>\n <B x='>'/></C>\n <D/>\n @\n</profile>", 2, ""},
      {"a one-byte text after the section", "<profile><A></A>@x</profile>", 2, ""},
      {"only the first of two sections",
       "<profile>@<iTalvo_K2T_Pendant><Vel>5</Vel></iTalvo_K2T_Pendant></profile>", 2, ""},
      {"no section: appended last", "<profile>\r\n  <A/>\r\n  <!-- c -->\r\n</profile>\r\n", 0,
       "<profile>\r\n  <A/>\r\n  <!-- c -->\r\n" + saved + "</profile>\r\n"},
      {"prolog and epilog", "\xEF\xBB\xBF<?xml version='1.0'?>\n<!DOCTYPE profile>\n<profile>\n<A  b = \"1\" />@</profile>\n<!-- end -->\n",
       2, ""},
      {"single-byte encoding",
       "<?xml version=\"1.0\" encoding=\"windows-1252\"?><profile><A t='\xE9'>\xFC\x80</A>@</profile>", 2, ""},
  };
  for (const auto& c : cases) {
    const std::size_t at = c.file.find('@');
    const std::string file = at == std::string::npos ? c.file : c.file.substr(0, at) + section + c.file.substr(at + 1);
    const std::string expected =
        !c.expected.empty() ? c.expected : c.file.substr(0, at) + saved + c.file.substr(at + 1);
    for (const std::size_t piece_size : kPieceSizes) {
      Write(file);
      {
        auto store = StoreInPieces(piece_size);
        ASSERT_EQ(store->load_result(), XmlLoadResult::kLoaded) << c.name << piece_size;
        EXPECT_EQ(store->GetInt(kSettingsSection, "Vel", 0), c.read) << c.name << piece_size;
        store->WriteInt(kSettingsSection, "Vel", 3);
      }
      // Parsed whole, the library writes the host's part in its own forms.
      if (piece_size != 0) {
        EXPECT_EQ(Read(), expected) << c.name << piece_size;
      }
      EXPECT_EQ(StoreInPieces(0)->GetInt(kSettingsSection, "Vel", 0), 3) << c.name << piece_size;
    }
  }
}

// Operations on the document element itself, which the store never makes,
// take the file's content whole: they end as on a document parsed whole.
TEST_F(PiecewiseProfileTest, TheDocumentElementItselfIsTheWholeDocument) {
  Write("<?xml version='1.0'?>\n<!-- c -->\n<profile>\n <A q='\"'>a&amp;<B/>b</A>\n"
        " <iTalvo_K2T_Pendant><Vel>2</Vel></iTalvo_K2T_Pendant>\xEF\xBB\xBF\n <C><![CDATA[c]]></C>\n</profile>\n");
  using Document = linux_platform::PugiXmlDocument;
  const struct {
    const char* name;
    std::function<std::string(Document&, XmlElement root)> operation;
  } cases[] = {
      {"text", [](Document& d, XmlElement root) { return d.Text(root); }},
      {"text set", [](Document& d, XmlElement root) { d.SetText(root, "x"); return d.Serialize(); }},
      {"removed and made anew",
       [](Document& d, XmlElement root) {
         d.Remove(root);
         d.AppendChildElement(d.AppendDocumentElement("p"), "q");
         return d.Serialize();
       }},
  };
  for (const auto& c : cases) {
    std::string results[2];
    for (const std::size_t piece_size : {0, 1}) {
      Document document;
      document.SetPieceSize(piece_size);
      ASSERT_EQ(document.Load(path_), XmlLoadResult::kLoaded);
      const XmlElement root = document.DocumentElement();
      document.SetText(document.FirstChildElement(document.FirstChildElement(root, kSettingsSection), "Vel"), "3");
      // Asked for before and after it is appended, as the store asks.
      EXPECT_FALSE(document.FirstChildElement(root, "New"));
      const XmlElement added = document.AppendChildElement(root, "New");
      EXPECT_EQ(document.FirstChildElement(root, "New").handle, added.handle);
      results[piece_size] = c.operation(document, root);
    }
    EXPECT_EQ(results[1], results[0]) << c.name;
    EXPECT_NE(results[0].find(c.name == std::string("text") ? "\n a&b\n 3\xEF\xBB\xBF\n c\n" : "<!-- c -->"), std::string::npos) << c.name;
  }
}

TEST_F(PiecewiseProfileTest, WhatDoesNotParseWholeIsNeverRewritten) {
  const std::string section = "<iTalvo_K2T_Pendant><Vel>2</Vel></iTalvo_K2T_Pendant>";
  for (const std::string& broken : {
           "<profile>" + section + "<A><B></A></B></profile>",
           "<profile>" + section + "<A/><?xml version='1.0'?></profile>",
           "<profile>" + section + "<A/><!DOCTYPE a></profile>",
           "<profile>" + section + "<A/><!-- open</profile>",
           "<profile>" + section + "<A/><![CDATA[open</profile>",
           "<profile>" + section + "<A/>< B/></profile>",
           "<profile>" + section + "<A x=1/></profile>",
           "<profile>" + section + "<A x='1'y='2'/></profile>",
           "<profile a='1'b='2'>" + section + "</profile>",
           "<profile>" + section + "<A/></profile></profile>",
           "<profile>" + section + "<A/></Profile>",
           "<profile>" + section + "<A/>",
           "<profile>" + section + "</profile>\n<B/>",
           "<profile>" + section + "</profile> tail",
           "<profile>" + section + "<A/>" + std::string(1, '\0') + "</profile>",
           "x <!DOCTYPE profile><profile>" + section + "</profile>",
           "<!DOCTYPE a><!DOCTYPE b><profile>" + section + "</profile>",
           "<profile>" + section + "</profile>\n<!DOCTYPE profile>",
       }) {
    for (const std::size_t piece_size : kPieceSizes) {
      Write(broken);
      {
        auto store = StoreInPieces(piece_size);
        EXPECT_EQ(store->load_result(), XmlLoadResult::kUnreadable) << broken << piece_size;
        EXPECT_EQ(store->GetInt(kSettingsSection, "Vel", 0), 0) << broken << piece_size;
        store->WriteInt(kSettingsSection, "Vel", 3);
      }
      EXPECT_EQ(Read(), broken) << piece_size;
    }
  }
}

TEST_F(ProfileTest, LoadTakesKeysWithTheirWidthsAndDefaults) {
  Write(Section("<Macro1>70000</Macro1><Xreverse>2</Xreverse><OEM1>12abc</OEM1><OEM2>abc</OEM2>"
                "<S1></S1><S2>0.001</S2><Fp4>55</Fp4><Sp4>66</Sp4><BUTTON1>-3</BUTTON1>"));
  StartModule();
  const PendantSettings& s = module_.settings;
  EXPECT_EQ(s.macroNumber[1], 4464);
  EXPECT_TRUE(s.reverseX);
  EXPECT_EQ(s.oemButtonCode[1], 12);
  EXPECT_EQ(s.oemButtonCode[2], 0);
  EXPECT_EQ(s.stepSize[1], "0.0001");
  EXPECT_EQ(s.feedOverride[4], 55);
  EXPECT_EQ(s.spindleOverride[4], 66);
  EXPECT_EQ(s.functionKeyAction[1], -3);
  EXPECT_EQ(s.velocityIndex, 0);  // start-up default
  EXPECT_EQ(s.slowJogRate[7], 100);
  EXPECT_EQ(s.delaySteps, 25);
  EXPECT_EQ(s.functionKeyLabel[1], "F1");
  // The empty S1 element is gone; nothing was created.
  EXPECT_EQ(Read().find("<S1"), std::string::npos);
  EXPECT_EQ(Read().find("<Vel"), std::string::npos);
  // Saved back: the flag as 1, the 16-bit value as it now is.
  module_.Config();
  EXPECT_NE(Read().find("<Xreverse>1</Xreverse>"), std::string::npos);
  EXPECT_NE(Read().find("<Macro1>4464</Macro1>"), std::string::npos);
}

TEST_F(ProfileTest, StartStepSizeGoesToDro828) {
  const struct {
    const char* body;
    double expected;
  } cases[] = {
      {"<S2>0.001</S2>", 0.001}, {"", 0.001}, {"<S2>abc</S2>", 0.0}, {"<S2> 1.5mm</S2>", 1.5},
  };
  for (const auto& c : cases) {
    Write(Section(c.body));
    host_.dros.erase(828);
    StartModule();
    ASSERT_TRUE(host_.dros.count(828)) << c.body;
    EXPECT_EQ(host_.dros[828], c.expected) << c.body;
  }
}

TEST_F(ProfileTest, PendantOpensBetweenFunctionKeysAndTheRest) {
  // The load visits BUTTON0..2, then opens the pendant, then reads "Vel" on.
  auto d = std::make_shared<FakeDevice>();
  d->path = "/dev/hidraw0";
  platform_.devices.push_back(d);
  Write(Section("<BUTTON0>5</BUTTON0><Vel>7</Vel>"));
  module_.InitControl(host_.motion(), host_.setup(), host_.planner(), nullptr);
  host_.Install(module_.host);
  module_.SetProName(path_.c_str());
  module_.PostInitControl();
  EXPECT_TRUE(module_.window()->Connected);
  EXPECT_EQ(module_.settings.functionKeyAction[0], 5);
  EXPECT_EQ(module_.settings.velocityIndex, 7);
  EXPECT_EQ(platform_.timers_running, 1);
}

TEST_F(ProfileTest, ConfigWritesAll84KeysInOrderWithDefaults) {
  Write("<profile><Host/></profile>");
  StartModule();
  module_.Config();
  const std::string expected =
      "<profile><Host/><iTalvo_K2T_Pendant>"
      "<BUTTON0>0</BUTTON0><BUTTON1>0</BUTTON1><BUTTON2>0</BUTTON2><Vel>2</Vel>"
      "<Macro1>0</Macro1><Macro2>0</Macro2><Macro3>0</Macro3><Macro4>0</Macro4>"
      "<OEM1>0</OEM1><OEM2>0</OEM2><OEM3>0</OEM3><OEM4>0</OEM4>"
      "<DelaySteps>25</DelaySteps><SlowDownRate>2</SlowDownRate>"
      "<ScreenSel1>1</ScreenSel1><ScreenSel2>2</ScreenSel2><ScreenSel3>3</ScreenSel3>"
      "<S1>0.0001</S1><S2>0.001</S2><S3>0.01</S3><S4>0.1</S4><S5>1</S5><S6>0.254</S6>"
      "<S7>0</S7><S8>0</S8><S9>0</S9>"
      "<Fp1>0</Fp1><Fp2>0</Fp2><Fp3>0</Fp3><Fp4>0</Fp4><Fp5>0</Fp5><Fp6>0</Fp6><Fp7>0</Fp7>"
      "<Fp8>0</Fp8><Fp9>0</Fp9>"
      "<F1>0</F1><F2>0</F2><F3>0</F3><F4>0</F4><F5>0</F5><F6>0</F6><F7>0</F7><F8>0</F8><F9>0</F9>"
      "<C1>1</C1><C2>2</C2><C3>5</C3><C4>10</C4><C5>20</C5><C6>50</C6><C7>100</C7><C8>0</C8>"
      "<C9>0</C9>"
      "<Sp1>0</Sp1><Sp2>0</Sp2><Sp3>0</Sp3><Sp4>0</Sp4><Sp5>0</Sp5><Sp6>0</Sp6><Sp7>0</Sp7>"
      "<Sp8>0</Sp8><Sp9>0</Sp9>"
      "<Spd1>0</Spd1><Spd2>0</Spd2><Spd3>0</Spd3><Spd4>0</Spd4><Spd5>0</Spd5><Spd6>0</Spd6>"
      "<Spd7>0</Spd7><Spd8>0</Spd8><Spd9>0</Spd9>"
      "<Xreverse>0</Xreverse><Yreverse>0</Yreverse><Zreverse>0</Zreverse>"
      "<SelectAAxis>0</SelectAAxis><SelectBAxis>0</SelectBAxis><SelectCAxis>0</SelectCAxis>"
      "<UseFRO>0</UseFRO><UseSOV>0</UseSOV><DisplyRPM>0</DisplyRPM><Decidigit>2</Decidigit>"
      "<Fun1>F1</Fun1><Fun2>F2</Fun2><Fun3>F3</Fun3>"
      "</iTalvo_K2T_Pendant></profile>";
  EXPECT_EQ(Read(), expected);
  // The start-up load used "Vel" 0; the configuration load 2.
  EXPECT_EQ(module_.settings.velocityIndex, 2);
}

TEST_F(ProfileTest, ClearedTextComesBackAsItsDefault) {
  StartModule();
  platform_.dialog = [](PendantSettings& s) {
    s.stepSize[1] = "";
    s.functionKeyLabel[1] = "";
  };
  module_.Config();
  EXPECT_NE(Read().find("<S1/>"), std::string::npos);
  platform_.dialog = nullptr;
  module_.PostInitControl();
  EXPECT_EQ(module_.settings.stepSize[1], "0.0001");
  EXPECT_EQ(module_.settings.functionKeyLabel[1], "F1");
}

TEST(SettingKeys, EightyFourDistinctKeys) {
  PendantSettings s;
  const auto keys = BindSettingKeys(s, 0);
  std::set<std::string> names;
  std::set<const void*> fields;
  for (const auto& k : keys) {
    names.insert(k.name);
    fields.insert(k.field);
  }
  EXPECT_EQ(names.size(), 84u);
  EXPECT_EQ(fields.size(), 84u);
}

}  // namespace
}  // namespace k2t::testing
