#include "names.h"

#include <array>
#include <utility>

namespace bench {

namespace {

// Host button codes: the function catalogue's names where it has them, the
// host's own names for the codes the pendant's fixed controls send.
constexpr std::pair<int, std::string_view> kButtons[] = {
    {1, "Screen 1 (Program Run)"},
    {2, "Screen 2 (MDI)"},
    {3, "Screen 3 (Toolpath)"},
    {4, "Screen 4 (Positioning)"},
    {5, "Screen 5 (Diagnostics)"},
    {6, "Screen 6 (Corrections)"},
    {7, "Screen 7 (Tables)"},
    {103, "Jog ON and OFF toggle"},
    {104, "Goto Safe Z"},
    {106, "mm/inch"},
    {110, "Spindle on/off"},
    {113, "Flood toggle"},
    {114, "Mist toggle"},
    {138, "Go Home"},
    {139, "Part X Offset Touch"},
    {140, "Part Y Offset Touch"},
    {141, "Part Z Offset Touch"},
    {142, "Part A Offset Touch"},
    {145, "Tool X Offset Touch"},
    {146, "Tool Z Offset Touch"},
    {160, "Regen toolpath display"},
    {167, "Z inhibit toggle"},
    {171, "Jog increment cycle"},
    {172, "Clear error label"},
    {178, "Offline toggle"},
    {191, "Select Jog Increment 1"},
    {192, "Select Jog Increment 2"},
    {204, "Jog mode continuous"},
    {205, "Jog mode step"},
    {245, "Jog mode STEP CONT MPG toggle"},
    {250, "Disable movement on axis X"},
    {251, "Disable movement on axis Y"},
    {252, "Disable movement on axis Z"},
    {253, "Disable movement on axis A"},
    {256, "Machine Coordinates toggle"},
    {307, "Jog X+"},
    {308, "Jog X-"},
    {309, "Jog Y+"},
    {310, "Jog Y-"},
    {311, "Jog Z+"},
    {323, "Toggle visibility of TAB screen"},
    {327, "Jog mode MPG"},
    {333, "Toggle Dist to Go"},
    {334, "Jog stop X"},
    {335, "Jog stop Y"},
    {336, "Jog stop Z"},
    {337, "Jog stop A"},
    {338, "Jog stop B"},
    {339, "Jog stop C"},
    {1000, "Cycle start"},
    {1001, "Feed hold"},
    {1002, "Rewind"},
    {1003, "Stop"},
    {1007, "ZeroAll"},
    {1008, "Zero X"},
    {1009, "Zero Y"},
    {1010, "Zero Z"},
    {1011, "Zero A"},
    {1017, "GotoZs"},
    {1021, "E-stop / Reset"},
    {1022, "Ref X"},
    {1023, "Ref Y"},
    {1024, "Ref Z"},
    {1025, "Ref A"},
    {1029, "Softlimits Toggle"},
};

constexpr std::pair<int, std::string_view> kDros[] = {
    {3, "jog rate %"},        {22, "jog busy count"},     {39, "spindle RPM"},
    {46, "coordinate system"}, {55, "feed rate shown"},   {56, "pulley"},
    {74, "spindle override %"}, {202, "spindle speed shown"}, {800, "X position"},
    {801, "Y position"},       {802, "Z position"},        {803, "A position"},
    {804, "B position"},       {805, "C position"},        {816, "program line"},
    {817, "spindle speed"},    {818, "feed rate"},         {821, "feed override %"},
    {828, "step size"},
};

constexpr std::pair<int, std::string_view> kLeds[] = {
    {11, "spindle"},    {14, "jog continuous"}, {15, "jog step"},   {16, "machine coordinates"},
    {57, "jog MPG"},    {83, "jog enabled"},    {163, "dist to go"}, {800, "E-stop / Reset"},
    {804, "running"},   {805, "paused"},
};

template <std::size_t N>
std::string_view Find(const std::pair<int, std::string_view> (&table)[N], int code) {
  for (const auto& [c, name] : table)
    if (c == code) return name;
  return {};
}

}  // namespace

std::string_view ButtonName(int code) { return Find(kButtons, code); }
std::string_view DroName(int code) { return Find(kDros, code); }
std::string_view LedName(int code) { return Find(kLeds, code); }

char AxisLetter(int axis) {
  static constexpr char kLetters[] = "XYZABC";
  return axis >= 0 && axis < 6 ? kLetters[axis] : '?';
}

int AxisIndex(std::string_view letter) {
  if (letter.size() != 1) return -1;
  static constexpr std::string_view kLetters = "XYZABCxyzabc";
  const std::size_t at = kLetters.find(letter[0]);
  return at == std::string_view::npos ? -1 : static_cast<int>(at % 6);
}

std::string_view ModeCodeName(int code) {
  static constexpr std::array<std::string_view, 6> kNames = {"step", "continuous", "feed override",
                                                             "velocity", "jog rate", "spindle override"};
  return code >= 0 && code < 6 ? kNames[static_cast<std::size_t>(code)] : std::string_view("?");
}

}  // namespace bench
