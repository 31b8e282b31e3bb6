// The configuration dialog's template 4013 as data: every control with its
// identifier, kind, text and rectangle in dialog units. Every view builds
// the dialog from this one description.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace k2t {

enum class ControlKind {
  kFrame,        // an empty group frame
  kText,         // static text
  kPicture,      // static bitmap
  kEdit,         // single-line edit box
  kList,         // drop-down list: one of its items or none is selected
  kCheckBox,
  kRadioButton,
  kPushButton,
};

// Style bits of a control.
enum ControlStyle : std::uint32_t {
  kStyleNone = 0,
  kStyleCentred = 1u << 0,     // text centred (edit boxes, static text)
  kStyleSorted = 1u << 1,      // list keeps its items sorted
  kStyleGroupStart = 1u << 2,  // first radio button of a group
  kStyleDefault = 1u << 3,     // the default push button
  kStyleRight = 1u << 4,       // static text aligned right
};

struct DialogRect {
  int x = 0, y = 0, width = 0, height = 0;  // dialog units; lists: the closed field
  int right() const { return x + width; }
  int bottom() const { return y + height; }
};

inline constexpr int kNoControlId = -1;  // static controls without an identifier

struct ControlTemplate {
  int id = kNoControlId;
  ControlKind kind = ControlKind::kText;
  std::string_view text;  // caption; empty for edit boxes, lists and frames
  DialogRect rect;
  int bitmap = 0;  // pictures: the bitmap resource identifier
  std::uint32_t style = kStyleNone;
};

struct DialogTemplate {
  int id = 0;
  int width = 0, height = 0;  // dialog units
  std::string_view font;
  int point_size = 0;
  // In template order: creation order, tab order, and the first control
  // that takes the focus gets it when the dialog opens.
  std::span<const ControlTemplate> controls;
};

// Template 4013.
const DialogTemplate& PropertiesDialogTemplate();
// The control with this identifier, or null.
const ControlTemplate* FindControl(const DialogTemplate& dialog, int id);

namespace dlg {

inline constexpr int kTemplateId = 4013;
inline constexpr int kOk = 1;

// Bitmaps.
inline constexpr int kBitmapKnob = 4034;
inline constexpr int kBitmapV = 4037;
inline constexpr int kBitmapF1 = 4038;
inline constexpr int kBitmapF2 = 4039;
inline constexpr int kBitmapF3 = 4040;
inline constexpr int kBitmapC = 4043;

// The first of the nine boxes of each knob group (positions 1..9 follow).
inline constexpr int kStepSizeFirst = 4171;
inline constexpr int kFeedOverrideFirst = 4198;
inline constexpr int kFeedRateFirst = 4207;
inline constexpr int kSlowJogFirst = 4216;
inline constexpr int kSpindleOverrideFirst = 4225;
inline constexpr int kSpindleSpeedFirst = 4234;

inline constexpr int kMacro[5] = {0, 4162, 4163, 4168, 4185};      // [1..4]
inline constexpr int kOemButton[5] = {0, 4164, 4165, 4166, 4167};  // [1..4]
inline constexpr int kDelaySteps = 4181;
inline constexpr int kVelocityList = 4037;
inline constexpr int kSlowDownList = 4023;
inline constexpr int kScreenList[4] = {0, 4032, 4033, 4034};       // [1..3]
inline constexpr int kFunctionList[3] = {4040, 4041, 4044};        // F1, F2, F3
inline constexpr int kDigitsList = 4021;
inline constexpr int kIncludeA = 4180, kIncludeB = 4243, kIncludeC = 4244;
inline constexpr int kReverseX = 4245, kReverseY = 4246, kReverseZ = 4247;
inline constexpr int kUseFro = 4161, kUseFeedRate = 4035;
inline constexpr int kUseSro = 4036, kUseSpindleSpeed = 4159;
inline constexpr int kDisplayRpm = 4186;
inline constexpr int kLabel[4] = {0, 4169, 4170, 4183};            // [1..3]

// Where the nine boxes of a knob group sit relative to the group's frame,
// positions 1..9: up the left side, over the top, down the right side.
struct Offset {
  int dx, dy;
};
inline constexpr std::array<Offset, 9> kKnobBoxOffsets = {{
    {23, 77}, {17, 57}, {23, 37}, {37, 17}, {81, 8}, {125, 19}, {139, 37}, {145, 57}, {139, 77},
}};
inline constexpr int kKnobBoxWidth = 36;
inline constexpr int kKnobBoxHeight = 14;

}  // namespace dlg

}  // namespace k2t
