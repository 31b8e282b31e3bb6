// The configuration dialog's logic over a fake view, and the Config flow
// around it with a real profile file.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <sstream>

#include "config/dialog_template.h"
#include "config/function_catalogue.h"
#include "config/propertiesdlg.h"
#include "settings/profile_store.h"
#include "support/fake_dialog_view.h"
#include "support/dialog_defaults.h"
#include "support/fakes.h"

namespace k2t::testing {
namespace {

class DialogTest : public ::testing::Test {
 protected:
  DialogTest() : settings_(test_support::DialogDefaults()) {}
  void Open() {
    before_ = settings_;
    dialog_.OnInitDialog();
  }

  PendantSettings settings_;
  PendantSettings before_;
  FakeDialogView view_;
  propertiesdlg dialog_{settings_, view_};
};

TEST_F(DialogTest, OpensWithEverySettingInItsControl) {
  settings_.macroNumber = {0, -3, 2, 3, 4464};
  settings_.oemButtonCode = {0, 1000, 32767, -32768, 7};
  settings_.delaySteps = 123456;
  settings_.feedOverride[4] = 44;
  settings_.feedRate[2] = "12.5";
  settings_.slowJogRate[9] = 99;
  settings_.spindleOverride[1] = 250;
  settings_.spindleSpeed[9] = 24000;
  settings_.functionKeyLabel[3] = "Coolant";
  settings_.includeBAxis = true;
  settings_.reverseZ = true;
  settings_.displaySpindleRpm = true;
  settings_.useSpindleSpeed = true;
  settings_.velocityIndex = 9;
  settings_.functionKeyAction = {2, 0, 65};
  settings_.screenSelection[3] = 3;
  Open();

  const struct {
    int id;
    const char* text;
  } texts[] = {
      {4162, "-3"}, {4163, "2"}, {4168, "3"}, {4185, "4464"}, {4164, "1000"}, {4165, "32767"},
      {4166, "-32768"}, {4167, "7"}, {4181, "123456"}, {4171, "0.0001"}, {4172, "0.001"},
      {4176, "0.254"}, {4179, "0"}, {4201, "44"}, {4208, "12.5"}, {4216, "1"}, {4222, "100"},
      {4224, "99"}, {4225, "250"}, {4242, "24000"}, {4169, "F1"}, {4170, "F2"}, {4183, "Coolant"},
  };
  for (const auto& t : texts) EXPECT_EQ(view_.Shown(t.id), t.text) << t.id;

  const struct {
    int id;
    bool checked;
  } buttons[] = {
      {4180, false}, {4243, true}, {4244, false}, {4245, false}, {4246, false}, {4247, true},
      {4186, true},  {4161, true}, {4035, false}, {4036, false}, {4159, true},
  };
  for (const auto& b : buttons) EXPECT_EQ(view_.controls[b.id].checked, b.checked) << b.id;

  const struct {
    int id;
    CatalogueList list;
    const char* selected;
  } lists[] = {
      {4037, CatalogueList::kVelocity, "10"},
      {4040, CatalogueList::kFunction, " OEM Button #1"},
      {4041, CatalogueList::kFunction, " NONE"},
      {4044, CatalogueList::kFunction, " Goto Safe Z                     "},
      {4023, CatalogueList::kSlowDown, "4"},
      {4032, CatalogueList::kScreen, " Screen 1 (Program Run screen) "},
      {4033, CatalogueList::kScreen, " Screen 2 (MDI screen)         "},
      {4034, CatalogueList::kScreen, " screen 4 (Toolpath screen)    "},
      {4021, CatalogueList::kDigits, "4"},
  };
  for (const auto& l : lists) {
    const auto entries = CatalogueEntries(l.list);
    const auto& items = view_.controls[l.id].items;
    ASSERT_EQ(items.size(), entries.size()) << l.id;
    for (std::size_t i = 0; i < items.size(); ++i) {
      // Tabs show as spaces (the function list's "ZeroAll" has three).
      std::string shown(ShownText(entries[i]));
      std::replace(shown.begin(), shown.end(), '\t', ' ');
      EXPECT_EQ(items[i], shown) << l.id;
    }
    EXPECT_EQ(view_.SelectedItem(l.id), l.selected) << l.id;
  }
  EXPECT_EQ(view_.fills, (std::vector<int>{4037, 4040, 4041, 4044, 4023, 4032, 4033, 4034, 4021}));
  // Opening changes nothing and reports nothing.
  EXPECT_TRUE(view_.log.empty());
  EXPECT_FALSE(view_.result.has_value());
  EXPECT_EQ(settings_, before_);
}

TEST_F(DialogTest, StoredPositionOutsideItsListLeavesNoSelectionAndOkStoresMinusOne) {
  const struct {
    int id;
    std::int16_t PendantSettings::*scalar;
    std::int16_t* element;
    std::int16_t stored;
  } cases[] = {
      {4037, &PendantSettings::velocityIndex, nullptr, 10},
      {4023, &PendantSettings::slowDownIndex, nullptr, 3},
      {4021, &PendantSettings::droDigitsIndex, nullptr, -1},
      {4032, nullptr, &settings_.screenSelection[1], 7},
      {4033, nullptr, &settings_.screenSelection[2], 9},
      {4034, nullptr, &settings_.screenSelection[3], -32768},
      {4040, nullptr, &settings_.functionKeyAction[0], 66},
      {4041, nullptr, &settings_.functionKeyAction[1], 32767},
      {4044, nullptr, &settings_.functionKeyAction[2], -2},
  };
  for (const auto& c : cases) (c.scalar ? settings_.*c.scalar : *c.element) = c.stored;
  Open();
  for (const auto& c : cases) EXPECT_EQ(view_.controls[c.id].selection, -1) << c.id;
  dialog_.OnOK();
  ASSERT_EQ(view_.result, DialogResult::kOk);
  for (const auto& c : cases) EXPECT_EQ(c.scalar ? settings_.*c.scalar : *c.element, -1) << c.id;
}

TEST_F(DialogTest, NoVelocityKeyOpensWithThree) {
  Open();  // the configuration load's default for a missing "Vel"
  EXPECT_EQ(view_.SelectedItem(4037), "3");
}

// Every integer box made invalid: each OK reports the next one in the order
// of the control table; correcting it moves on to the next.
TEST_F(DialogTest, ChecksRunInTheOrderOfTheControlTable) {
  std::vector<int> expected = {4162, 4163, 4164, 4165, 4181};
  for (int first : {4198, 4216, 4225, 4234})
    for (int i = 0; i < 9; ++i) expected.push_back(first + i);
  for (int id : {4166, 4167, 4168, 4185}) expected.push_back(id);

  Open();
  for (int id : expected) view_.Type(id, "x");
  for (int id : expected) {
    view_.log.clear();
    dialog_.OnOK();
    EXPECT_EQ(view_.log, (std::vector<std::string>{"warn Please enter an integer.",
                                                   "focus " + std::to_string(id)}));
    ASSERT_FALSE(view_.result.has_value()) << id;
    EXPECT_EQ(settings_, before_) << "after the check of " << id;
    view_.Type(id, "5");
  }
  view_.log.clear();
  dialog_.OnOK();
  EXPECT_TRUE(view_.log.empty());
  EXPECT_EQ(view_.result, DialogResult::kOk);
}

// A successful OK reads every control once, in the order of the control table.
TEST_F(DialogTest, OkReadsTheControlsInTableOrder) {
  std::vector<int> expected = {4162, 4163, 4164, 4165, 4037, 4023, 4181};
  for (int first : {4171, 4198, 4207, 4216, 4225, 4234})
    for (int i = 0; i < 9; ++i) expected.push_back(first + i);
  for (int id : {4032, 4033, 4034, 4180, 4243, 4244, 4245, 4246, 4247, 4035, 4159, 4040, 4041,
                 4044, 4166, 4167, 4168, 4185, 4021, 4186, 4169, 4170, 4183})
    expected.push_back(id);
  Open();
  view_.reads.clear();
  dialog_.OnOK();
  EXPECT_EQ(view_.reads, expected);
}

TEST_F(DialogTest, FirstFailingCheckShowsItsMessageAndFocusesTheBox) {
  const std::string integer = "Please enter an integer.";
  const std::string upto250 = "Please enter an integer between 0 and 250.";
  const std::string upto100 = "Please enter an integer between 0 and 100.";
  const struct {
    int id;
    const char* text;
    const std::string& message;
  } cases[] = {
      {4198, "251", upto250},   {4206, "-1", upto250},      {4201, " 1000x", upto250},
      {4225, "251", upto250},   {4233, "-250", upto250},    {4216, "", integer},
      {4224, "101", upto100},   {4220, "-1", upto100},      {4162, "abc", integer},
      {4185, "   ", integer},   {4181, "-", integer},       {4234, "+ 5", integer},
      {4167, "\t", integer},    {4242, "x100000", integer},
      // Beyond 32 bits: the range message where there is a range.
      {4198, "4294967297", upto250}, {4206, "-4294967046", upto250}, {4216, "99999999999", upto100},
      {4238, "3000000000", integer}, {4181, "2147483648", integer}, {4162, "4294967297", integer},
  };
  for (const auto& c : cases) {
    FakeDialogView view;
    PendantSettings settings = test_support::DialogDefaults();
    const PendantSettings before = settings;
    propertiesdlg dialog(settings, view);
    dialog.OnInitDialog();
    // A later box also fails; only the first is reported.
    if (c.id != 4185) view.Type(4185, "later");
    view.Type(c.id, c.text);
    dialog.OnOK();
    EXPECT_EQ(view.log, (std::vector<std::string>{"warn " + c.message, "focus " + std::to_string(c.id)}))
        << c.id << " '" << c.text << "'";
    EXPECT_EQ(view.selected_text, c.text) << c.id;
    EXPECT_FALSE(view.result.has_value()) << c.id;
    EXPECT_EQ(settings, before) << c.id;
  }
}

TEST_F(DialogTest, AcceptedTextsAndTheirValues) {
  const std::string twenty = "Spindle warm-up 5min";
  ASSERT_EQ(twenty.size(), 20u);
  const struct {
    int id;
    const char* text;
    std::function<void(PendantSettings&)> expect;
  } cases[] = {
      {4216, "12abc", [](PendantSettings& s) { s.slowJogRate[1] = 12; }},
      {4224, "100", [](PendantSettings& s) { s.slowJogRate[9] = 100; }},
      {4181, "300", [](PendantSettings& s) { s.delaySteps = 300; }},
      {4181, "-7", [](PendantSettings& s) { s.delaySteps = -7; }},
      {4181, "-2147483648", [](PendantSettings& s) { s.delaySteps = -2147483647 - 1; }},
      {4240, "0000000000002147483647", [](PendantSettings& s) { s.spindleSpeed[7] = 2147483647; }},
      {4238, "100000", [](PendantSettings& s) { s.spindleSpeed[5] = 100000; }},
      {4162, "70000", [](PendantSettings& s) { s.macroNumber[1] = 4464; }},
      {4185, "65535", [](PendantSettings& s) { s.macroNumber[4] = -1; }},
      {4167, "-70000", [](PendantSettings& s) { s.oemButtonCode[4] = -4464; }},
      {4164, "  +1003 ", [](PendantSettings& s) { s.oemButtonCode[1] = 1003; }},
      {4198, " 250", [](PendantSettings& s) { s.feedOverride[1] = 250; }},
      {4204, "0", [](PendantSettings& s) { s.feedOverride[7] = 0; }},
      {4225, "\t+7%", [](PendantSettings& s) { s.spindleOverride[1] = 7; }},
      {4171, "abc", [](PendantSettings& s) { s.stepSize[1] = "abc"; }},
      {4179, "", [](PendantSettings& s) { s.stepSize[9] = ""; }},
      {4215, " 12,5 ", [](PendantSettings& s) { s.feedRate[9] = " 12,5 "; }},
      {4169, twenty.c_str(), [&](PendantSettings& s) { s.functionKeyLabel[1] = twenty; }},
      {4183, "", [](PendantSettings& s) { s.functionKeyLabel[3] = ""; }},
  };
  for (const auto& c : cases) {
    FakeDialogView view;
    PendantSettings settings = test_support::DialogDefaults();
    PendantSettings expected = settings;
    c.expect(expected);
    propertiesdlg dialog(settings, view);
    dialog.OnInitDialog();
    view.Type(c.id, c.text);
    dialog.OnOK();
    EXPECT_TRUE(view.log.empty()) << c.id << " '" << c.text << "'";
    EXPECT_EQ(view.result, DialogResult::kOk) << c.id;
    EXPECT_EQ(settings, expected) << c.id << " '" << c.text << "'";
  }
}

TEST_F(DialogTest, ListsCheckBoxesAndRadioPairsReachTheSettings) {
  settings_.reverseX = true;
  Open();
  view_.Choose(4037, 9);
  view_.Choose(4023, 0);
  view_.Choose(4040, 6);
  view_.Choose(4041, 65);
  view_.Choose(4044, 1);
  view_.Choose(4032, 0);
  view_.Choose(4033, 6);
  view_.Choose(4034, -1);
  view_.Choose(4021, 1);
  view_.Tick(4180);
  view_.Tick(4244);
  view_.Tick(4245, false);
  view_.Tick(4246);
  view_.Tick(4186);
  view_.Pick(4035, 4161);  // "Use Feed Rate"
  dialog_.OnOK();
  ASSERT_EQ(view_.result, DialogResult::kOk);

  PendantSettings expected = before_;
  expected.velocityIndex = 9;
  expected.slowDownIndex = 0;
  expected.functionKeyAction = {6, 65, 1};
  expected.screenSelection = {0, 0, 6, -1};
  expected.droDigitsIndex = 1;
  expected.includeAAxis = true;
  expected.includeCAxis = true;
  expected.reverseX = false;
  expected.reverseY = true;
  expected.displaySpindleRpm = true;
  expected.useFeedRate = true;
  EXPECT_EQ(settings_, expected);

  // And back: "Use FRO" and "Use SRO" give false.
  FakeDialogView view;
  propertiesdlg again(settings_, view);
  again.OnInitDialog();
  EXPECT_TRUE(view.controls[4035].checked);
  view.Pick(4161, 4035);
  view.Pick(4036, 4159);
  again.OnOK();
  EXPECT_FALSE(settings_.useFeedRate);
  EXPECT_FALSE(settings_.useSpindleSpeed);
}

TEST_F(DialogTest, CancelAfterChangesLeavesTheSettings) {
  Open();
  view_.Type(4162, "12");
  view_.Type(4171, "0.5");
  view_.Choose(4037, 0);
  view_.Tick(4180);
  view_.Pick(4159, 4036);
  dialog_.OnCancel();
  EXPECT_EQ(view_.result, DialogResult::kCancel);
  EXPECT_EQ(settings_, before_);
}

// A failing check keeps every earlier value out of the settings too; once
// corrected, all values arrive together.
TEST_F(DialogTest, SettingsChangeAllAtOnceAfterEveryCheckPassed) {
  Open();
  view_.Type(4162, "11");
  view_.Type(4171, "0.5");
  view_.Choose(4037, 4);
  view_.Type(4198, "300");
  dialog_.OnOK();
  ASSERT_FALSE(view_.result.has_value());
  EXPECT_EQ(settings_, before_);
  dialog_.OnCancel();
  EXPECT_EQ(settings_, before_);

  FakeDialogView view;
  propertiesdlg dialog(settings_, view);
  dialog.OnInitDialog();
  view.Type(4162, "11");
  view.Type(4171, "0.5");
  view.Choose(4037, 4);
  view.Type(4198, "300");
  dialog.OnOK();
  view.Type(4198, "200");
  dialog.OnOK();
  ASSERT_EQ(view.result, DialogResult::kOk);
  PendantSettings expected = before_;
  expected.macroNumber[1] = 11;
  expected.stepSize[1] = "0.5";
  expected.velocityIndex = 4;
  expected.feedOverride[1] = 200;
  EXPECT_EQ(settings_, expected);
}

// Config: reload, the dialog, save; checked in the profile file.
class ConfigDialogTest : public ::testing::Test {
 protected:
  ConfigDialogTest() {
    dir_ = MakeTempDir("k2t-dialog");
    path_ = dir_ + "/profile.xml";
    module_.InitControl(host_.motion(), host_.setup(), host_.planner(), nullptr);
    host_.Install(module_.host);
  }
  ~ConfigDialogTest() override { std::filesystem::remove_all(dir_); }

  void Profile(const std::string& keys) {
    std::ofstream(path_) << "<profile><iTalvo_K2T_Pendant>" << keys
                         << "</iTalvo_K2T_Pendant></profile>";
    module_.SetProName(path_.c_str());
    module_.PostInitControl();
  }
  // Runs Config with a user who does `act` in the opened dialog.
  void Config(const std::function<void(FakeDialogView&, propertiesdlg&)>& act) {
    platform_.dialog = [&](PendantSettings& settings) {
      FakeDialogView view;
      propertiesdlg dialog(settings, view);
      dialog.OnInitDialog();
      act(view, dialog);
      EXPECT_TRUE(view.result.has_value()) << "the dialog is still open";
    };
    module_.Config();
  }
  // The section's key elements, name and text, in document order.
  // Read from the file's text, whichever library wrote it: the keys hold
  // plain numbers and words.
  std::vector<std::pair<std::string, std::string>> Keys() const {
    std::ifstream in(path_, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    const std::string text = ss.str();
    const std::string open = std::string("<") + kSettingsSection + ">";
    const std::size_t begin = text.find(open);
    const std::size_t end = text.find(std::string("</") + kSettingsSection + ">");
    EXPECT_NE(begin, std::string::npos);
    EXPECT_NE(end, std::string::npos);
    std::vector<std::pair<std::string, std::string>> keys;
    if (begin == std::string::npos || end == std::string::npos) return keys;
    const std::string section = text.substr(begin + open.size(), end - begin - open.size());
    static const std::regex kKey(R"(<(\w+)>([^<]*)</\1>|<(\w+)\s*/>)");
    for (std::sregex_iterator it(section.begin(), section.end(), kKey), last; it != last; ++it) {
      if ((*it)[1].matched) keys.emplace_back((*it)[1], (*it)[2]);
      else keys.emplace_back((*it)[3], "");
    }
    return keys;
  }
  std::string Key(const std::string& name) const {
    for (const auto& [key, text] : Keys())
      if (key == name) return text;
    return "<missing>";
  }

  std::string dir_, path_;
  FakeHost host_;
  FakePlatform platform_;
  Module module_{platform_};
};

TEST_F(ConfigDialogTest, MissingVelocityKeyShowsThreeAndIsSavedAsTwo) {
  Profile("<Macro1>5</Macro1>");
  EXPECT_EQ(module_.settings.velocityIndex, 0);
  std::string shown;
  Config([&](FakeDialogView& view, propertiesdlg& dialog) {
    shown = view.SelectedItem(4037);
    dialog.OnOK();
  });
  EXPECT_EQ(shown, "3");
  EXPECT_EQ(Key("Vel"), "2");
  EXPECT_EQ(module_.settings.velocityIndex, 2);
}

TEST_F(ConfigDialogTest, ScreenChoiceOutsideTheListIsSavedAsMinusOne) {
  Profile("<ScreenSel2>9</ScreenSel2>");
  std::string shown;
  Config([&](FakeDialogView& view, propertiesdlg& dialog) {
    shown = view.SelectedItem(4033);
    dialog.OnOK();
  });
  EXPECT_EQ(shown, "<none>");
  EXPECT_EQ(Key("ScreenSel2"), "-1");
  EXPECT_EQ(module_.settings.screenSelection[2], -1);
}

TEST_F(ConfigDialogTest, ConfirmedValuesReachTheProfile) {
  Profile("");
  const std::string twenty = "ABCDEFGHIJKLMNOPQRST";
  Config([&](FakeDialogView& view, propertiesdlg& dialog) {
    view.Pick(4035, 4161);
    view.Type(4162, "70000");
    view.Type(4169, twenty);
    view.Type(4201, "250");
    view.Type(4240, "100000");
    dialog.OnOK();
  });
  const struct {
    const char* key;
    std::string text;
  } expected[] = {
      {"UseFRO", "1"}, {"UseSOV", "0"}, {"Macro1", "4464"}, {"Fun1", twenty},
      {"Fp4", "250"},  {"Spd7", "100000"},
  };
  for (const auto& e : expected) EXPECT_EQ(Key(e.key), e.text) << e.key;
  EXPECT_EQ(Keys().size(), 84u);
}

TEST_F(ConfigDialogTest, CancelAfterChangesStillWritesEveryKeyUnchanged) {
  Profile("<Macro1>5</Macro1><S3>0.02</S3><UseFRO>1</UseFRO>");
  const PendantSettings loaded = module_.settings;
  Config([](FakeDialogView& view, propertiesdlg& dialog) {
    view.Type(4162, "6");
    view.Type(4173, "9");
    view.Pick(4161, 4035);
    view.Type(4198, "999");
    dialog.OnOK();  // refused: 999 is out of range
    dialog.OnCancel();
  });
  // Reloaded values, "Vel" taking its configuration default.
  PendantSettings expected = loaded;
  expected.velocityIndex = 2;
  EXPECT_EQ(module_.settings, expected);
  const auto keys = Keys();
  std::set<std::string> names;
  for (const auto& key : keys) names.insert(key.first);
  EXPECT_EQ(keys.size(), 84u);
  EXPECT_EQ(names.size(), 84u);
  EXPECT_EQ(Key("Macro1"), "5");
  EXPECT_EQ(Key("S3"), "0.02");
  EXPECT_EQ(Key("UseFRO"), "1");
  EXPECT_EQ(Key("Fp1"), "0");
}

}  // namespace
}  // namespace k2t::testing
