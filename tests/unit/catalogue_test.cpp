// The fixed choice lists: every entry as written, what the dialog shows of
// it, the number the run-time code takes from it, and list filling.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "config/function_catalogue.h"

namespace k2t {
namespace {

const char* const kFunctionEntries[] = {
    "0, NONE",
    "899  , ------------------------------ ",
    "813, OEM Button #1",
    "814, OEM Button #2",
    "815, OEM Button #3",
    "816, OEM Button #4",
    "817, Custom Macro #1",
    "818, Custom Macro #2",
    "819, Custom Macro #3",
    "820, Custom Macro #4",
    "899  , ------------------------------ ",
    "1    , Screen 1 (Program Run screen)   ",
    "2    , Screen 2 (MDI screen)           ",
    "3    , screen 3 (Toolpath screen)      ",
    "4    , screen 4 (Positioning screen)   ",
    "5    , screen 5 (Diagnostics screen)   ",
    "6    , screen 6 ( Corrections screen)  ",
    "7    , screen 7 (Tables screen)        ",
    "323  , Toggle visibility of TAB screen ",
    "160  , Regen toolpath display          ",
    "899  , ------------------------------ ",
    "113  , Flood toggle                   ",
    "114  , Mist toggle                    ",
    "899  , ------------------------------ ",
    "178  , Offline toggle                  ",
    "103  , Jog ON and OFF toggle           ",
    "1029 , Softlimits Toggle               ",
    "172  , Clear error label               ",
    "167  , Z inhibit toggle                ",
    "899  , ------------------------------ ",
    "106  , mm/inch",
    "256  , Machine Coordinates toggle      ",
    "333  , Toggle Dist to Go               ",
    "899  , ------------------------------ ",
    "171  , Jog increment cycle             ",
    "191  , Select Jog Increment 1          ",
    "192  , Select Jog Increment 2          ",
    "245  , Jog mode STEP CONT MPG toggle   ",
    "899  , ------------------------------ ",
    "250  , Disable movement on axis X      ",
    "251  , Disable movement on axis Y      ",
    "252  , Disable movement on axis Z      ",
    "253  , Disable movement on axis A      ",
    "899  , ------------------------------ ",
    "139  , Part X Offset Touch             ",
    "140  , Part Y Offset Touch             ",
    "141  , Part Z Offset Touch             ",
    "142  , Part A Offset Touch             ",
    "899  , ------------------------------ ",
    "145  , Tool X Offset Touch             ",
    "146  , Tool Z Offset Touch             ",
    "899  , ------------------------------ ",
    "1007 , ZeroAll\t\t\t       ",
    "1008 , Zero X                          ",
    "1009 , Zero Y                          ",
    "1010 , Zero Z                          ",
    "1011 , Zero A                          ",
    "899  , ------------------------------ ",
    "1022 , Ref X                           ",
    "1023 , Ref Y                           ",
    "1024 , Ref Z                           ",
    "1025 , Ref A                           ",
    "899  , ------------------------------ ",
    "1017 , GotoZs                          ",
    "138  , Go Home                         ",
    "104  , Goto Safe Z                     ",
};
const char* const kVelocityEntries[] = {
    "3,1",
    "4,2",
    "5,3",
    "6,4",
    "7,5",
    "9,6",
    "11,7",
    "15,8",
    "20,9",
    "25,10",
};
const char* const kSlowDownEntries[] = {
    "2,2",
    "3,3",
    "4,4",
};
const char* const kScreenEntries[] = {
    "0, NONE",
    "1, Screen 1 (Program Run screen) ",
    "2, Screen 2 (MDI screen)         ",
    "3, screen 4 (Toolpath screen)    ",
    "4, screen 5 (Offsets screen) ",
    "5, screen 6 (Setting screen) ",
    "6, screen 7 (Diagnostics screen) ",
};
const char* const kDigitsEntries[] = {
    "2,2",
    "3,3",
    "4,4",
};

struct ListCase {
  const char* name;
  CatalogueList list;
  const char* const* texts;
  std::size_t count;
};

template <std::size_t N>
ListCase Case(const char* name, CatalogueList list, const char* const (&texts)[N]) {
  return {name, list, texts, N};
}

const ListCase kLists[] = {
    Case("function", CatalogueList::kFunction, kFunctionEntries),
    Case("velocity", CatalogueList::kVelocity, kVelocityEntries),
    Case("slow-down", CatalogueList::kSlowDown, kSlowDownEntries),
    Case("screen", CatalogueList::kScreen, kScreenEntries),
    Case("digits", CatalogueList::kDigits, kDigitsEntries),
};

// The exact texts catch a typo; count and order come with them.
TEST(Catalogue, EveryEntryExactlyAsWritten) {
  for (const ListCase& c : kLists) {
    const auto entries = CatalogueEntries(c.list);
    ASSERT_EQ(entries.size(), c.count) << c.name;
    for (std::size_t i = 0; i < c.count; ++i) EXPECT_EQ(entries[i], c.texts[i]) << c.name << " entry " << i;
  }
}

// What the dialog shows is everything after the first comma; velocity,
// slow-down and digits show their values as plain numbers.
TEST(Catalogue, ShownTextAndCodeOfEveryEntry) {
  for (const ListCase& c : kLists) {
    for (std::string_view entry : CatalogueEntries(c.list)) {
      const std::size_t comma = entry.find(',');
      ASSERT_NE(comma, std::string_view::npos) << c.name << ": " << entry;
      EXPECT_EQ(ShownText(entry), entry.substr(comma + 1)) << c.name;
      if (c.list == CatalogueList::kVelocity || c.list == CatalogueList::kSlowDown || c.list == CatalogueList::kDigits) {
        EXPECT_GT(std::strtol(std::string(ShownText(entry)).c_str(), nullptr, 10), 0) << c.name << ": " << entry;
      }
    }
  }
}

// Every function entry is one the function keys' dispatcher acts on: the
// default functions (0), a separator (899), the OEM buttons (813..816), the
// macros (817..820), or a host button code (below 800 or from 900 on).
TEST(Catalogue, EveryFunctionCodeIsOneTheDispatcherKnows) {
  const auto entries = CatalogueEntries(CatalogueList::kFunction);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::int32_t code = EntryCode(entries[i]);
    EXPECT_EQ(FunctionKeyCodeAt(static_cast<int>(i)), code) << i;
    const bool known = code == 0 || code == 899 || (code >= 813 && code <= 820) || (code >= 1 && code <= 799) ||
                       (code >= 900 && code <= 32767);
    EXPECT_TRUE(known) << entries[i];
    if (code == 899) {
      EXPECT_EQ(ShownText(entries[i]), " ------------------------------ ");
    }
  }
}

TEST(Catalogue, EntryCodeIsTheStandardIntegerConversion) {
  const struct {
    const char* text;
    std::int32_t code;
  } cases[] = {
      {"899  , ------------------------------ ", 899}, {"0, NONE", 0}, {"  42,x", 42},
      {"\t7,x", 7}, {"-3,x", -3}, {"+5,x", 5}, {", empty", 0}, {"12ab,x", 12}, {"", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(EntryCode(c.text), c.code) << c.text;
}

TEST(Catalogue, RunTimeCodes) {
  const auto velocity = CatalogueEntries(CatalogueList::kVelocity);
  for (std::size_t i = 0; i < velocity.size(); ++i)
    EXPECT_EQ(VelocitySensitivityAt(static_cast<int>(i)), EntryCode(velocity[i])) << i;
  const auto slow_down = CatalogueEntries(CatalogueList::kSlowDown);
  for (std::size_t i = 0; i < slow_down.size(); ++i)
    EXPECT_EQ(SlowDownDivisorAt(static_cast<int>(i)), EntryCode(slow_down[i])) << i;
  // The screen list's host codes are not its leading numbers.
  const std::int32_t screen[] = {0, 1, 2, 3, 7, 6, 5};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(ScreenCodeAt(i), screen[i]) << i;
  EXPECT_EQ(VelocitySensitivityAt(kDefaultVelocityPosition), 5);
  EXPECT_EQ(SlowDownDivisorAt(kDefaultSlowDownPosition), 4);
}

// Positions from a hand-edited profile, or -1 for a list left without a
// selection: nothing is read outside a list.
TEST(Catalogue, PositionsOutsideTheirLists) {
  for (int position : {-32768, -1, 66, 67, 32767}) {
    EXPECT_EQ(FunctionKeyCodeAt(position), 0) << position;
  }
  for (int position : {-32768, -1, 10, 32767}) {
    EXPECT_EQ(VelocitySensitivityAt(position), 5) << position;
  }
  for (int position : {-32768, -1, 3, 32767}) {
    EXPECT_EQ(SlowDownDivisorAt(position), 4) << position;
  }
  for (int position : {-32768, -1, 7, 32767}) {
    EXPECT_EQ(ScreenCodeAt(position), 0) << position;
  }
  std::int32_t code = 1234;
  EXPECT_FALSE(CodeAt(CatalogueList::kDigits, 3, code));
  EXPECT_FALSE(CodeAt(CatalogueList::kDigits, -1, code));
  EXPECT_EQ(code, 1234);
  EXPECT_TRUE(CodeAt(CatalogueList::kDigits, 2, code));
  EXPECT_EQ(code, 4);
}

// A dialog list that records what is done to it.
class RecordingList final : public ChoiceList {
 public:
  void Clear() override {
    ops.push_back("clear");
    items.clear();
  }
  void Add(std::string_view shown) override {
    ops.push_back("add");
    items.emplace_back(shown);
  }
  void Select(int position) override {
    ops.push_back("select");
    selected = position;
  }
  std::vector<std::string> ops;
  std::vector<std::string> items{"left over"};
  int selected = 99;
};

TEST(Catalogue, FillChoiceList) {
  const struct {
    CatalogueList list;
    int stored;
    int selected;
    const char* selected_text;
  } cases[] = {
      {CatalogueList::kFunction, 2, 2, " OEM Button #1"},
      {CatalogueList::kFunction, 65, 65, " Goto Safe Z                     "},
      {CatalogueList::kFunction, 66, -1, nullptr},
      {CatalogueList::kFunction, -1, -1, nullptr},
      {CatalogueList::kVelocity, 9, 9, "10"},
      {CatalogueList::kVelocity, 10, -1, nullptr},
      {CatalogueList::kSlowDown, 2, 2, "4"},
      {CatalogueList::kSlowDown, 3, -1, nullptr},
      {CatalogueList::kScreen, 3, 3, " screen 4 (Toolpath screen)    "},
      {CatalogueList::kScreen, 7, -1, nullptr},
      {CatalogueList::kScreen, 32767, -1, nullptr},
      {CatalogueList::kDigits, 0, 0, "2"},
      {CatalogueList::kDigits, -32768, -1, nullptr},
  };
  for (const auto& c : cases) {
    RecordingList target;
    FillChoiceList(c.list, c.stored, target);
    const auto entries = CatalogueEntries(c.list);
    std::vector<std::string> ops{"clear"};
    ops.insert(ops.end(), entries.size(), "add");
    ops.push_back("select");
    EXPECT_EQ(target.ops, ops) << c.stored;
    ASSERT_EQ(target.items.size(), entries.size()) << c.stored;
    for (std::size_t i = 0; i < entries.size(); ++i)
      EXPECT_EQ(target.items[i], ShownText(entries[i])) << c.stored << " item " << i;
    EXPECT_EQ(target.selected, c.selected) << c.stored;
    if (c.selected_text) {
      EXPECT_EQ(target.items[static_cast<std::size_t>(c.selected)], c.selected_text);
    }
  }
  RecordingList screens;
  FillChoiceList(CatalogueList::kScreen, 0, screens);
  EXPECT_EQ(screens.items.size(), 7u);
}

}  // namespace
}  // namespace k2t
