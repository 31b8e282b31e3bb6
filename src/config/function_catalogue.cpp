#include "config/function_catalogue.h"

#include <array>

#include "common/text.h"

namespace k2t {

namespace {

using namespace std::string_view_literals;

constexpr std::string_view kSeparator = "899  , ------------------------------ "sv;

constexpr std::array<std::string_view, 66> kFunctionList = {
    "0, NONE"sv,
    kSeparator,
    "813, OEM Button #1"sv,
    "814, OEM Button #2"sv,
    "815, OEM Button #3"sv,
    "816, OEM Button #4"sv,
    "817, Custom Macro #1"sv,
    "818, Custom Macro #2"sv,
    "819, Custom Macro #3"sv,
    "820, Custom Macro #4"sv,
    kSeparator,
    "1    , Screen 1 (Program Run screen)   "sv,
    "2    , Screen 2 (MDI screen)           "sv,
    "3    , screen 3 (Toolpath screen)      "sv,
    "4    , screen 4 (Positioning screen)   "sv,
    "5    , screen 5 (Diagnostics screen)   "sv,
    "6    , screen 6 ( Corrections screen)  "sv,
    "7    , screen 7 (Tables screen)        "sv,
    "323  , Toggle visibility of TAB screen "sv,
    "160  , Regen toolpath display          "sv,
    kSeparator,
    "113  , Flood toggle                   "sv,
    "114  , Mist toggle                    "sv,
    kSeparator,
    "178  , Offline toggle                  "sv,
    "103  , Jog ON and OFF toggle           "sv,
    "1029 , Softlimits Toggle               "sv,
    "172  , Clear error label               "sv,
    "167  , Z inhibit toggle                "sv,
    kSeparator,
    "106  , mm/inch"sv,
    "256  , Machine Coordinates toggle      "sv,
    "333  , Toggle Dist to Go               "sv,
    kSeparator,
    "171  , Jog increment cycle             "sv,
    "191  , Select Jog Increment 1          "sv,
    "192  , Select Jog Increment 2          "sv,
    "245  , Jog mode STEP CONT MPG toggle   "sv,
    kSeparator,
    "250  , Disable movement on axis X      "sv,
    "251  , Disable movement on axis Y      "sv,
    "252  , Disable movement on axis Z      "sv,
    "253  , Disable movement on axis A      "sv,
    kSeparator,
    "139  , Part X Offset Touch             "sv,
    "140  , Part Y Offset Touch             "sv,
    "141  , Part Z Offset Touch             "sv,
    "142  , Part A Offset Touch             "sv,
    kSeparator,
    "145  , Tool X Offset Touch             "sv,
    "146  , Tool Z Offset Touch             "sv,
    kSeparator,
    "1007 , ZeroAll\t\t\t       "sv,
    "1008 , Zero X                          "sv,
    "1009 , Zero Y                          "sv,
    "1010 , Zero Z                          "sv,
    "1011 , Zero A                          "sv,
    kSeparator,
    "1022 , Ref X                           "sv,
    "1023 , Ref Y                           "sv,
    "1024 , Ref Z                           "sv,
    "1025 , Ref A                           "sv,
    kSeparator,
    "1017 , GotoZs                          "sv,
    "138  , Go Home                         "sv,
    "104  , Goto Safe Z                     "sv,
};

constexpr std::array<std::string_view, 10> kVelocityList = {
    "3,1"sv, "4,2"sv, "5,3"sv, "6,4"sv, "7,5"sv, "9,6"sv, "11,7"sv, "15,8"sv, "20,9"sv, "25,10"sv,
};

constexpr std::array<std::string_view, 3> kSlowDownList = {"2,2"sv, "3,3"sv, "4,4"sv};

constexpr std::array<std::string_view, 7> kScreenList = {
    "0, NONE"sv,
    "1, Screen 1 (Program Run screen) "sv,
    "2, Screen 2 (MDI screen)         "sv,
    "3, screen 4 (Toolpath screen)    "sv,
    "4, screen 5 (Offsets screen) "sv,
    "5, screen 6 (Setting screen) "sv,
    "6, screen 7 (Diagnostics screen) "sv,
};

// Host screen code of each screen-list position; the leading numbers of the
// entries are only positions.
constexpr std::array<std::int32_t, 7> kScreenCodes = {0, 1, 2, 3, 7, 6, 5};

constexpr std::array<std::string_view, 3> kDigitsList = {"2,2"sv, "3,3"sv, "4,4"sv};

bool Inside(CatalogueList list, int position) {
  return position >= 0 && static_cast<std::size_t>(position) < CatalogueEntries(list).size();
}

}  // namespace

std::span<const std::string_view> CatalogueEntries(CatalogueList list) {
  switch (list) {
    case CatalogueList::kFunction: return kFunctionList;
    case CatalogueList::kVelocity: return kVelocityList;
    case CatalogueList::kSlowDown: return kSlowDownList;
    case CatalogueList::kScreen: return kScreenList;
    case CatalogueList::kDigits: return kDigitsList;
  }
  return {};
}

std::string_view ShownText(std::string_view entry) {
  const std::size_t comma = entry.find(',');
  return comma == std::string_view::npos ? std::string_view{} : entry.substr(comma + 1);
}

std::int32_t EntryCode(std::string_view entry) { return ParseLeadingInt(entry); }

bool CodeAt(CatalogueList list, int position, std::int32_t& code) {
  if (!Inside(list, position)) return false;
  code = EntryCode(CatalogueEntries(list)[static_cast<std::size_t>(position)]);
  return true;
}

std::int32_t FunctionKeyCodeAt(int position) {
  std::int32_t code = 0;
  return CodeAt(CatalogueList::kFunction, position, code) ? code : 0;
}

std::int32_t VelocitySensitivityAt(int position) {
  std::int32_t code = 0;
  if (!CodeAt(CatalogueList::kVelocity, position, code))
    CodeAt(CatalogueList::kVelocity, kDefaultVelocityPosition, code);
  return code;
}

std::int32_t SlowDownDivisorAt(int position) {
  std::int32_t code = 0;
  if (!CodeAt(CatalogueList::kSlowDown, position, code))
    CodeAt(CatalogueList::kSlowDown, kDefaultSlowDownPosition, code);
  return code;
}

std::int32_t ScreenCodeAt(int position) {
  return Inside(CatalogueList::kScreen, position) ? kScreenCodes[static_cast<std::size_t>(position)]
                                                   : 0;
}

void FillChoiceList(CatalogueList list, int stored_position, ChoiceList& target) {
  target.Clear();
  for (std::string_view entry : CatalogueEntries(list)) target.Add(ShownText(entry));
  target.Select(Inside(list, stored_position) ? stored_position : -1);
}

}  // namespace k2t
