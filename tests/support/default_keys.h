// The profile's keys in the order a save writes them, each with the value a
// save of untouched settings writes. Written out by hand, not taken from the code's own
// table, so a changed name, default or order fails the tests that use it.
#pragma once

#include <string_view>
#include <utility>

namespace k2t::test_support {

inline constexpr std::pair<std::string_view, std::string_view> kDefaultKeys[] = {
    {"BUTTON0", "0"}, {"BUTTON1", "0"}, {"BUTTON2", "0"}, {"Vel", "2"}, {"Macro1", "0"}, {"Macro2", "0"},
    {"Macro3", "0"}, {"Macro4", "0"}, {"OEM1", "0"}, {"OEM2", "0"}, {"OEM3", "0"}, {"OEM4", "0"},
    {"DelaySteps", "25"}, {"SlowDownRate", "2"}, {"ScreenSel1", "1"}, {"ScreenSel2", "2"}, {"ScreenSel3", "3"},
    {"S1", "0.0001"}, {"S2", "0.001"}, {"S3", "0.01"}, {"S4", "0.1"}, {"S5", "1"}, {"S6", "0.254"}, {"S7", "0"},
    {"S8", "0"}, {"S9", "0"}, {"Fp1", "0"}, {"Fp2", "0"}, {"Fp3", "0"}, {"Fp4", "0"}, {"Fp5", "0"}, {"Fp6", "0"},
    {"Fp7", "0"}, {"Fp8", "0"}, {"Fp9", "0"}, {"F1", "0"}, {"F2", "0"}, {"F3", "0"}, {"F4", "0"}, {"F5", "0"},
    {"F6", "0"}, {"F7", "0"}, {"F8", "0"}, {"F9", "0"}, {"C1", "1"}, {"C2", "2"}, {"C3", "5"}, {"C4", "10"},
    {"C5", "20"}, {"C6", "50"}, {"C7", "100"}, {"C8", "0"}, {"C9", "0"}, {"Sp1", "0"}, {"Sp2", "0"}, {"Sp3", "0"},
    {"Sp4", "0"}, {"Sp5", "0"}, {"Sp6", "0"}, {"Sp7", "0"}, {"Sp8", "0"}, {"Sp9", "0"}, {"Spd1", "0"},
    {"Spd2", "0"}, {"Spd3", "0"}, {"Spd4", "0"}, {"Spd5", "0"}, {"Spd6", "0"}, {"Spd7", "0"}, {"Spd8", "0"},
    {"Spd9", "0"}, {"Xreverse", "0"}, {"Yreverse", "0"}, {"Zreverse", "0"}, {"SelectAAxis", "0"},
    {"SelectBAxis", "0"}, {"SelectCAxis", "0"}, {"UseFRO", "0"}, {"UseSOV", "0"}, {"DisplyRPM", "0"},
    {"Decidigit", "2"}, {"Fun1", "F1"}, {"Fun2", "F2"}, {"Fun3", "F3"},
};

}  // namespace k2t::test_support
