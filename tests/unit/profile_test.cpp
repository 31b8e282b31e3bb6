// The profile store's key rules and the settings keys, on real files, over
// the platform's own profile document (expat on Linux, MSXML on Windows):
// defaults, order, unknown keys, numbers, what is never written, and what
// Config says when a save fails. The bytes each platform writes are its own
// tests' concern (tests/linux, tests/windows).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <utility>

#include "support/default_keys.h"
#include "support/fakes.h"

namespace k2t::testing {
namespace {

namespace fs = std::filesystem;
using Keys = std::vector<std::pair<std::string, std::string>>;

class ProfileTest : public ::testing::Test {
 protected:
  ProfileTest() : dir_(MakeTempDir("k2t-profile")), path_((fs::path(dir_) / "profile.xml").string()) {
    host_.Install(module_.host);
  }
  ~ProfileTest() override { fs::remove_all(dir_); }
  void Write(const std::string& text) { std::ofstream(path_, std::ios::binary) << text; }
  std::string Read() const { return ReadFileBytes(path_); }
  std::unique_ptr<ProfileStore> Store() { return std::make_unique<ProfileStore>(path_, NewTestDocument()); }
  // The section's keys as a fresh load finds them, in order.
  Keys Saved(XmlLoadResult expected = XmlLoadResult::kLoaded) {
    std::vector<ProfileKey> keys;
    std::string reason;
    EXPECT_EQ(NewTestDocument()->Load(path_, kSettingsSection, keys, reason), expected) << reason;
    Keys out;
    for (const ProfileKey& k : keys) out.emplace_back(k.name, k.text);
    return out;
  }
  static std::string Section(const std::string& body) {
    return "<profile><iTalvo_K2T_Pendant>" + body + "</iTalvo_K2T_Pendant></profile>";
  }
  void StartModule(const std::string& path) {
    module_.InitControl(host_.motion(), host_.setup(), host_.planner(), nullptr);
    host_.Install(module_.host);
    module_.SetProName(path.c_str());
    module_.PostInitControl();
  }
  void StartModule() { StartModule(path_); }

  std::string dir_, path_;
  FakeHost host_;
  FakePlatform platform_;
  Module module_{platform_};
};

// A missing file, and an empty or blank one, are a new profile: the first
// store makes it, holding just the document element.
TEST_F(ProfileTest, MissingOrBlankFileBecomesAnEmptyProfile) {
  for (const char* before : {static_cast<const char*>(nullptr), "", " \r\n\t"}) {
    fs::remove(path_);
    if (before) Write(before);
    EXPECT_EQ(Store()->load_result(), XmlLoadResult::kMissing);
    module_.SetProName(path_.c_str());
    EXPECT_EQ(Saved(), Keys{});
    EXPECT_NE(Read().find("profile"), std::string::npos) << (before ? before : "no file");
  }
}

TEST_F(ProfileTest, ReadsFollowTheKeyRules) {
  Write(Section("<A> 42</A><B>-5</B><C>12abc</C><D>abc</D><E></E><F>text here</F><G/><H>a&amp;b &#65;</H>"));
  {
    auto store = Store();
    const struct {
      const char* key;
      std::int32_t expected;
    } ints[] = {{"A", 42}, {"B", -5}, {"C", 12}, {"D", 0}, {"E", 77}, {"Missing", 77}};
    for (const auto& c : ints) EXPECT_EQ(store->GetInt(kSettingsSection, c.key, 77), c.expected) << c.key;
    EXPECT_EQ(store->GetText(kSettingsSection, "F", "d"), "text here");
    EXPECT_EQ(store->GetText(kSettingsSection, "G", "dflt"), "dflt");
    EXPECT_EQ(store->GetText(kSettingsSection, "H", ""), "a&b A");
    EXPECT_EQ(store->GetText("OtherSection", "F", "none"), "none");
  }
  // Empty key elements were removed; nothing else changed or was created.
  EXPECT_EQ(Saved(), (Keys{{"A", " 42"}, {"B", "-5"}, {"C", "12abc"}, {"D", "abc"}, {"F", "text here"},
                           {"H", "a&b A"}}));
}

TEST_F(ProfileTest, WritesFindOrCreateInOrder) {
  Write("<profile><Host>1</Host></profile>");
  {
    auto store = Store();
    store->WriteInt(kSettingsSection, "K1", -5);
    store->WriteText(kSettingsSection, "K2", "a<b&c\xC3\xA9");
    store->WriteInt(kSettingsSection, "K1", 7);    // replaced in place
    store->WriteText(kSettingsSection, "K3", "");  // stays, empty
  }
  EXPECT_EQ(Saved(), (Keys{{"K1", "7"}, {"K2", "a<b&c\xC3\xA9"}, {"K3", ""}}));
  EXPECT_NE(Read().find("<Host>1</Host>"), std::string::npos);
  // A later store appends after the keys there are.
  Store()->WriteText(kSettingsSection, "K0", "x");
  EXPECT_EQ(Saved(), (Keys{{"K1", "7"}, {"K2", "a<b&c\xC3\xA9"}, {"K3", ""}, {"K0", "x"}}));
}

TEST_F(ProfileTest, OnlyTheFirstSectionAndTheFirstKeyOfANameCount) {
  Write("<profile><iTalvo_K2T_Pendant><X>1</X><S1></S1><S1>5</S1></iTalvo_K2T_Pendant>"
        "<iTalvo_K2T_Pendant><X>2</X><Y>3</Y></iTalvo_K2T_Pendant></profile>");
  {
    auto store = Store();
    EXPECT_EQ(store->GetInt(kSettingsSection, "X", 0), 1);
    EXPECT_EQ(store->GetInt(kSettingsSection, "Y", 0), 0);
    // The first S1 is empty: it counts as absent and goes; then the second is the first.
    EXPECT_EQ(store->GetInt(kSettingsSection, "S1", -1), -1);
    EXPECT_EQ(store->GetInt(kSettingsSection, "S1", -1), 5);
    store->WriteInt(kSettingsSection, "Y", 9);
  }
  EXPECT_EQ(Saved(), (Keys{{"X", "1"}, {"S1", "5"}, {"Y", "9"}}));
  EXPECT_NE(Read().find("<X>2</X><Y>3</Y>"), std::string::npos);
}

// Keys the module does not know, and the section's comments, stay where
// they are; Config writes the 84 keys around them.
TEST_F(ProfileTest, UnknownKeysStay) {
  Write(Section("<Vel>4</Vel><!-- mine --><Extra a='1'>x</Extra>"));
  StartModule();
  module_.Config();
  const Keys saved = Saved();
  ASSERT_EQ(saved.size(), 85u);
  EXPECT_EQ(saved[0], (std::pair<std::string, std::string>{"Vel", "4"}));
  EXPECT_EQ(saved[1], (std::pair<std::string, std::string>{"Extra", "x"}));
  EXPECT_NE(Read().find("<!-- mine -->"), std::string::npos);
}

// Not well-formed: never written, whatever the module does; the settings
// take their defaults, and Config says the settings were not saved.
TEST_F(ProfileTest, UnparseableProfileIsNeverOverwritten) {
  const std::string section = "<iTalvo_K2T_Pendant><S1>5</S1></iTalvo_K2T_Pendant>";
  for (const std::string& broken : {
           std::string("<profile><Open></profile>"),
           "<?xml version=\"1.0\"?> text <profile>" + section + "</profile>",
           "<profile>" + section + "</profile> x <profile/>",
           "<profile>" + section + "</profile",
       }) {
    Write(broken);
    platform_.messages.clear();
    StartModule();
    EXPECT_TRUE(platform_.messages.empty()) << broken;
    module_.Config();
    EXPECT_EQ(Read(), broken);
    EXPECT_EQ(module_.settings.stepSize[1], "0.0001") << broken;  // defaults
    ASSERT_EQ(platform_.messages.size(), 1u) << broken;
    EXPECT_NE(platform_.messages[0].find(path_), std::string::npos) << platform_.messages[0];
  }
}

// A save that fails at start-up is silent; in Config it says which file and
// why, once.
TEST_F(ProfileTest, FailedSaveInConfigSaysSo) {
  const std::string missing = (fs::path(dir_) / "no" / "such" / "p.xml").string();
  StartModule(missing);
  EXPECT_TRUE(platform_.messages.empty());
  module_.Config();
  EXPECT_FALSE(fs::exists(missing));
  ASSERT_EQ(platform_.messages.size(), 1u);
  const std::string& message = platform_.messages[0];
  EXPECT_NE(message.find(missing), std::string::npos) << message;
  // The reason follows the file's name.
  EXPECT_GT(message.size(), message.find(missing) + missing.size() + 4) << message;
}

TEST_F(ProfileTest, EmptyNameWritesNothingAndSaysNothing) {
  StartModule("");
  module_.Config();
  EXPECT_TRUE(platform_.messages.empty());
  EXPECT_TRUE(fs::is_empty(dir_));
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
  EXPECT_EQ(Saved(), (Keys{{"Macro1", "70000"}, {"Xreverse", "2"}, {"OEM1", "12abc"}, {"OEM2", "abc"},
                           {"S2", "0.001"}, {"Fp4", "55"}, {"Sp4", "66"}, {"BUTTON1", "-3"}}));
  // Saved back: the flag as 1, the 16-bit value as it now is.
  module_.Config();
  const Keys saved = Saved();
  EXPECT_EQ(saved[0], (std::pair<std::string, std::string>{"Macro1", "4464"}));
  EXPECT_EQ(saved[1], (std::pair<std::string, std::string>{"Xreverse", "1"}));
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
  StartModule();
  EXPECT_TRUE(module_.window()->Connected);
  EXPECT_EQ(module_.settings.functionKeyAction[0], 5);
  EXPECT_EQ(module_.settings.velocityIndex, 7);
  EXPECT_EQ(platform_.timers_running, 1);
}

TEST_F(ProfileTest, ConfigWritesAll84KeysInOrderWithDefaults) {
  Write("<profile><Host/></profile>");
  StartModule();
  module_.Config();
  const Keys expected(std::begin(test_support::kDefaultKeys), std::end(test_support::kDefaultKeys));
  EXPECT_EQ(Saved(), expected);
  EXPECT_NE(Read().find("<Host/>"), std::string::npos);
  // The start-up load used "Vel" 0; the configuration load 2.
  EXPECT_EQ(module_.settings.velocityIndex, 2);
  EXPECT_TRUE(platform_.messages.empty());
}

TEST_F(ProfileTest, ClearedTextComesBackAsItsDefault) {
  StartModule();
  platform_.dialog = [](PendantSettings& s) {
    s.stepSize[1] = "";
    s.functionKeyLabel[1] = "";
  };
  module_.Config();
  const Keys saved = Saved();
  EXPECT_NE(std::find(saved.begin(), saved.end(), std::pair<std::string, std::string>{"S1", ""}), saved.end());
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
