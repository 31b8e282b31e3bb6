// The fixed choice lists: every entry as written, what the dialog shows of
// it, the number the run-time code takes from it, and list filling.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/function_catalogue.h"

namespace k2t {
namespace {

struct Entry {
  const char* text;
  std::int32_t code;  // the entry's leading number
};

const Entry kFunctionEntries[] = {
    {"0, NONE", 0},
    {"899  , ------------------------------ ", 899},
    {"813, OEM Button #1", 813},
    {"814, OEM Button #2", 814},
    {"815, OEM Button #3", 815},
    {"816, OEM Button #4", 816},
    {"817, Custom Macro #1", 817},
    {"818, Custom Macro #2", 818},
    {"819, Custom Macro #3", 819},
    {"820, Custom Macro #4", 820},
    {"899  , ------------------------------ ", 899},
    {"1    , Screen 1 (Program Run screen)   ", 1},
    {"2    , Screen 2 (MDI screen)           ", 2},
    {"3    , screen 3 (Toolpath screen)      ", 3},
    {"4    , screen 4 (Positioning screen)   ", 4},
    {"5    , screen 5 (Diagnostics screen)   ", 5},
    {"6    , screen 6 ( Corrections screen)  ", 6},
    {"7    , screen 7 (Tables screen)        ", 7},
    {"323  , Toggle visibility of TAB screen ", 323},
    {"160  , Regen toolpath display          ", 160},
    {"899  , ------------------------------ ", 899},
    {"113  , Flood toggle                   ", 113},
    {"114  , Mist toggle                    ", 114},
    {"899  , ------------------------------ ", 899},
    {"178  , Offline toggle                  ", 178},
    {"103  , Jog ON and OFF toggle           ", 103},
    {"1029 , Softlimits Toggle               ", 1029},
    {"172  , Clear error label               ", 172},
    {"167  , Z inhibit toggle                ", 167},
    {"899  , ------------------------------ ", 899},
    {"106  , mm/inch", 106},
    {"256  , Machine Coordinates toggle      ", 256},
    {"333  , Toggle Dist to Go               ", 333},
    {"899  , ------------------------------ ", 899},
    {"171  , Jog increment cycle             ", 171},
    {"191  , Select Jog Increment 1          ", 191},
    {"192  , Select Jog Increment 2          ", 192},
    {"245  , Jog mode STEP CONT MPG toggle   ", 245},
    {"899  , ------------------------------ ", 899},
    {"250  , Disable movement on axis X      ", 250},
    {"251  , Disable movement on axis Y      ", 251},
    {"252  , Disable movement on axis Z      ", 252},
    {"253  , Disable movement on axis A      ", 253},
    {"899  , ------------------------------ ", 899},
    {"139  , Part X Offset Touch             ", 139},
    {"140  , Part Y Offset Touch             ", 140},
    {"141  , Part Z Offset Touch             ", 141},
    {"142  , Part A Offset Touch             ", 142},
    {"899  , ------------------------------ ", 899},
    {"145  , Tool X Offset Touch             ", 145},
    {"146  , Tool Z Offset Touch             ", 146},
    {"899  , ------------------------------ ", 899},
    {"1007 , ZeroAll\t\t\t       ", 1007},
    {"1008 , Zero X                          ", 1008},
    {"1009 , Zero Y                          ", 1009},
    {"1010 , Zero Z                          ", 1010},
    {"1011 , Zero A                          ", 1011},
    {"899  , ------------------------------ ", 899},
    {"1022 , Ref X                           ", 1022},
    {"1023 , Ref Y                           ", 1023},
    {"1024 , Ref Z                           ", 1024},
    {"1025 , Ref A                           ", 1025},
    {"899  , ------------------------------ ", 899},
    {"1017 , GotoZs                          ", 1017},
    {"138  , Go Home                         ", 138},
    {"104  , Goto Safe Z                     ", 104},
};
const Entry kVelocityEntries[] = {
    {"3,1", 3},
    {"4,2", 4},
    {"5,3", 5},
    {"6,4", 6},
    {"7,5", 7},
    {"9,6", 9},
    {"11,7", 11},
    {"15,8", 15},
    {"20,9", 20},
    {"25,10", 25},
};
const Entry kSlowDownEntries[] = {
    {"2,2", 2},
    {"3,3", 3},
    {"4,4", 4},
};
const Entry kScreenEntries[] = {
    {"0, NONE", 0},
    {"1, Screen 1 (Program Run screen) ", 1},
    {"2, Screen 2 (MDI screen)         ", 2},
    {"3, screen 4 (Toolpath screen)    ", 3},
    {"4, screen 5 (Offsets screen) ", 4},
    {"5, screen 6 (Setting screen) ", 5},
    {"6, screen 7 (Diagnostics screen) ", 6},
};
const Entry kDigitsEntries[] = {
    {"2,2", 2},
    {"3,3", 3},
    {"4,4", 4},
};

struct ListCase {
  const char* name;
  CatalogueList list;
  const Entry* entries;
  std::size_t count;
};

template <std::size_t N>
ListCase Case(const char* name, CatalogueList list, const Entry (&entries)[N]) {
  return {name, list, entries, N};
}

const ListCase kLists[] = {
    Case("function", CatalogueList::kFunction, kFunctionEntries),
    Case("velocity", CatalogueList::kVelocity, kVelocityEntries),
    Case("slow-down", CatalogueList::kSlowDown, kSlowDownEntries),
    Case("screen", CatalogueList::kScreen, kScreenEntries),
    Case("digits", CatalogueList::kDigits, kDigitsEntries),
};

TEST(Catalogue, EveryEntryExactlyAsWritten) {
  for (const ListCase& c : kLists) {
    const auto entries = CatalogueEntries(c.list);
    ASSERT_EQ(entries.size(), c.count) << c.name;
    for (std::size_t i = 0; i < c.count; ++i) {
      EXPECT_EQ(entries[i], c.entries[i].text) << c.name << " entry " << i;
      EXPECT_EQ(EntryCode(entries[i]), c.entries[i].code) << c.name << " entry " << i;
      const std::string text = c.entries[i].text;
      EXPECT_EQ(ShownText(entries[i]), text.substr(text.find(',') + 1)) << c.name << " entry " << i;
    }
  }
}

TEST(Catalogue, ShownTexts) {
  const auto functions = CatalogueEntries(CatalogueList::kFunction);
  EXPECT_EQ(ShownText(functions[0]), " NONE");
  EXPECT_EQ(ShownText(functions[1]), " ------------------------------ ");
  EXPECT_EQ(ShownText(functions[2]), " OEM Button #1");
  EXPECT_EQ(ShownText(functions[30]), " mm/inch");
  EXPECT_EQ(ShownText(functions[52]), " ZeroAll\t\t\t       ");
  const auto velocity = CatalogueEntries(CatalogueList::kVelocity);
  const char* const shown[] = {"1", "2", "3", "4", "5", "6", "7", "8", "9", "10"};
  for (std::size_t i = 0; i < 10; ++i) EXPECT_EQ(ShownText(velocity[i]), shown[i]) << i;
  EXPECT_EQ(ShownText(CatalogueEntries(CatalogueList::kSlowDown)[2]), "4");
  EXPECT_EQ(ShownText(CatalogueEntries(CatalogueList::kScreen)[3]), " screen 4 (Toolpath screen)    ");
  EXPECT_EQ(ShownText(CatalogueEntries(CatalogueList::kDigits)[0]), "2");
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
  EXPECT_EQ(FunctionKeyCodeAt(0), 0);
  EXPECT_EQ(FunctionKeyCodeAt(1), 899);
  EXPECT_EQ(FunctionKeyCodeAt(2), 813);
  EXPECT_EQ(FunctionKeyCodeAt(26), 1029);
  EXPECT_EQ(FunctionKeyCodeAt(65), 104);
  const std::int32_t sensitivity[] = {3, 4, 5, 6, 7, 9, 11, 15, 20, 25};
  for (int i = 0; i < 10; ++i) EXPECT_EQ(VelocitySensitivityAt(i), sensitivity[i]) << i;
  const std::int32_t divisor[] = {2, 3, 4};
  for (int i = 0; i < 3; ++i) EXPECT_EQ(SlowDownDivisorAt(i), divisor[i]) << i;
  const std::int32_t screen[] = {0, 1, 2, 3, 7, 6, 5};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(ScreenCodeAt(i), screen[i]) << i;
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
