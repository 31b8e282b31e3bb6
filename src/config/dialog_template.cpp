#include "config/dialog_template.h"

#include <vector>

namespace k2t {

namespace {

using Kind = ControlKind;

// One knob group: nine boxes around a knob picture, a unit under the knob
// and a caption under the boxes. The group's origin is its frame's corner
// (the frame of a wide pair of groups for the right-hand one of the pair).
struct KnobGroup {
  int x, y;
  int first_id;
  std::string_view caption;
  std::string_view unit;
  bool paired;  // shares a wide frame, with a radio pair beside its caption
};

constexpr KnobGroup kKnobGroups[] = {
    {48, 18, dlg::kStepSizeFirst, "Step Size,  0 to skip", "inch, mm", false},
    {271, 18, dlg::kFeedOverrideFirst, "Feed Rate Overridden (FRO), 0 to 250,  0 to skip", "%", true},
    {533, 18, dlg::kFeedRateFirst, "Feed Rate, 0 to skip", "inch/min, mm/min", true},
    {48, 128, dlg::kSlowJogFirst, "Slow Jog Rate (Continuous Mode Rate), 0 to 100,  0 to skip", "%",
     false},
    {271, 127, dlg::kSpindleOverrideFirst,
     "Spindle speed Rate Overridden (SRO), 0 to 250,  0 to skip", "%", true},
    {533, 127, dlg::kSpindleSpeedFirst, "Spindle Speed, 0 to skip", "RPM", true},
};

class Builder {
 public:
  void Frame(DialogRect r) { Add({kNoControlId, Kind::kFrame, {}, r}); }
  void Text(std::string_view text, DialogRect r, std::uint32_t style = kStyleNone) {
    Add({kNoControlId, Kind::kText, text, r, 0, style});
  }
  void Picture(int bitmap, DialogRect r) { Add({kNoControlId, Kind::kPicture, {}, r, bitmap}); }
  void Edit(int id, DialogRect r, std::uint32_t style = kStyleNone) {
    Add({id, Kind::kEdit, {}, r, 0, style});
  }
  void List(int id, DialogRect r, std::uint32_t style = kStyleNone) {
    Add({id, Kind::kList, {}, r, 0, style});
  }
  void Check(int id, std::string_view text, DialogRect r) { Add({id, Kind::kCheckBox, text, r}); }
  void Radio(int id, std::string_view text, DialogRect r, std::uint32_t style = kStyleNone) {
    Add({id, Kind::kRadioButton, text, r, 0, style});
  }
  void Button(int id, std::string_view text, DialogRect r, std::uint32_t style) {
    Add({id, Kind::kPushButton, text, r, 0, style});
  }

  void Knob(const KnobGroup& g) {
    Picture(dlg::kBitmapKnob, {g.x + 74, g.y + 28, 50, 50});
    for (int i = 0; i < 9; ++i) {
      const dlg::Offset o = dlg::kKnobBoxOffsets[static_cast<std::size_t>(i)];
      Edit(g.first_id + i, {g.x + o.dx, g.y + o.dy, dlg::kKnobBoxWidth, dlg::kKnobBoxHeight},
           kStyleCentred);
    }
    Text(g.unit, {g.x + 60, g.y + 80, 78, 8}, kStyleCentred);
    // Long captions take two lines; a group alone in its frame has its
    // frame's width for them.
    Text(g.caption, g.paired ? DialogRect{g.x + 8, g.y + 91, 170, 16} : DialogRect{g.x + 4, g.y + 91, 206, 16},
         kStyleCentred);
  }

  std::vector<ControlTemplate> Take() { return std::move(controls_); }

 private:
  void Add(ControlTemplate c) { controls_.push_back(c); }
  std::vector<ControlTemplate> controls_;
};

std::vector<ControlTemplate> BuildControls() {
  Builder b;
  // First in the template, so it holds the focus when the dialog opens and
  // Enter confirms at once.
  b.Button(dlg::kOk, "OK", {677, 405, 50, 14}, kStyleDefault);

  b.Text("iTalvo", {48, 10, 30, 8});
  b.Text("K2T Pendant Configuration", {80, 10, 120, 8});

  // Nine-position tables: Step Size alone, FRO and Feed Rate in one wide
  // frame with their radio pair between the captions, Slow Jog alone, SRO and
  // Spindle Speed likewise.
  b.Frame({48, 18, 214, 109});
  b.Knob(kKnobGroups[0]);

  b.Frame({271, 18, 456, 108});
  b.Knob(kKnobGroups[1]);
  b.Radio(dlg::kUseFro, "Use FRO", {450, 102, 86, 10}, kStyleGroupStart);
  b.Radio(dlg::kUseFeedRate, "Use Feed Rate", {450, 113, 86, 10});
  b.Knob(kKnobGroups[2]);

  b.Frame({48, 128, 214, 108});
  b.Knob(kKnobGroups[3]);

  b.Frame({271, 127, 456, 108});
  b.Knob(kKnobGroups[4]);
  b.Radio(dlg::kUseSro, "Use SRO", {450, 211, 86, 10}, kStyleGroupStart);
  b.Radio(dlg::kUseSpindleSpeed, "Use Spindle Speed", {450, 222, 86, 10});
  b.Knob(kKnobGroups[5]);

  b.Frame({48, 237, 300, 23});

  // Velocity sensitivity and the EN slow-down.
  b.Frame({355, 237, 372, 33});
  b.Picture(dlg::kBitmapV, {361, 241, 22, 26});
  b.List(dlg::kVelocityList, {387, 242, 36, 12});
  b.Text("Velocity Change Sensitivity in V Mode.", {427, 244, 160, 8});
  // Right-aligned, so the sentence runs on into its list.
  b.Text("Press EN Button to Slow Down to 1 / ", {427, 256, 146, 8}, kStyleRight);
  b.List(dlg::kSlowDownList, {575, 254, 30, 12}, kStyleSorted);

  // Continuous-mode start delay.
  b.Frame({48, 262, 300, 25});
  b.Picture(dlg::kBitmapC, {54, 264, 20, 21});
  b.Edit(dlg::kDelaySteps, {78, 267, 30, 14});
  b.Text("Steps to Delay the Start of Axis Movement in C Mode.  0 to 100.", {112, 266, 232, 18});

  // Display options.
  b.Text("Number of decimal digits for axis DRO", {365, 274, 148, 8});
  b.List(dlg::kDigitsList, {515, 272, 30, 12}, kStyleSorted);
  b.Check(dlg::kDisplayRpm, "Display Spindle Speed RPM", {553, 273, 120, 10});

  // Function keys, their descriptions, the custom macros and OEM buttons.
  b.Frame({48, 289, 332, 132});
  b.Text("Function, Macro, OEM Button Selection", {56, 294, 150, 8});
  b.Text("F Button Description. (Max 16 Characters)", {214, 294, 162, 8});
  constexpr int kFBitmaps[3] = {dlg::kBitmapF1, dlg::kBitmapF2, dlg::kBitmapF3};
  for (int k = 0; k < 3; ++k) {
    const int y = 305 + 16 * k;
    b.Picture(kFBitmaps[k], {54, y - 1, 22, 16});
    b.List(dlg::kFunctionList[k], {80, y, 128, 12});
    b.Edit(dlg::kLabel[k + 1], {214, y, 80, 14});
  }
  constexpr std::string_view kMacroTexts[4] = {"Custom Macro #1", "Custom Macro #2",
                                               "Custom Macro #3", "Custom Macro #4"};
  constexpr std::string_view kOemTexts[4] = {"Custom OEM Button #1", "Custom OEM Button #2",
                                             "Custom OEM Button #3", "Custom OEM Button #4"};
  for (int n = 0; n < 4; ++n) {
    const int y = 355 + 15 * n;
    b.Text(kMacroTexts[n], {56, y + 3, 62, 8});
    b.Edit(dlg::kMacro[n + 1], {120, y, 40, 14});
    b.Text(kOemTexts[n], {176, y + 3, 84, 8});
    b.Edit(dlg::kOemButton[n + 1], {262, y, 40, 14});
  }

  b.Frame({385, 290, 158, 50});
  b.Check(dlg::kIncludeA, "Include A axis in axis selection", {392, 296, 146, 10});
  b.Check(dlg::kIncludeB, "Include B axis in axis selection", {392, 309, 146, 10});
  b.Check(dlg::kIncludeC, "Include C axis in axis selection", {392, 322, 146, 10});

  b.Frame({385, 355, 158, 50});
  b.Check(dlg::kReverseX, "Reverse X axis MPG", {392, 361, 146, 10});
  b.Check(dlg::kReverseY, "Reverse Y axis MPG", {392, 374, 146, 10});
  b.Check(dlg::kReverseZ, "Reverse Z axis MPG", {392, 387, 146, 10});

  b.Frame({548, 288, 179, 82});
  b.Text("Screen Selection. Select NONE to Skip", {556, 294, 160, 8});
  for (int n = 1; n <= 3; ++n) b.List(dlg::kScreenList[n], {556, 307 + 18 * (n - 1), 160, 12});

  return b.Take();
}

}  // namespace

const DialogTemplate& PropertiesDialogTemplate() {
  static const std::vector<ControlTemplate> controls = BuildControls();
  static const DialogTemplate dialog{dlg::kTemplateId, 733, 425, "MS Shell Dlg", 8, controls};
  return dialog;
}

const ControlTemplate* FindControl(const DialogTemplate& dialog, int id) {
  if (id == kNoControlId) return nullptr;
  for (const ControlTemplate& c : dialog.controls)
    if (c.id == id) return &c;
  return nullptr;
}

}  // namespace k2t
