// Template 4013: the controls every view builds the dialog from.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "config/dialog_template.h"

namespace k2t {
namespace {

const DialogTemplate& T() { return PropertiesDialogTemplate(); }

const ControlTemplate& Control(int id) {
  const ControlTemplate* c = FindControl(T(), id);
  if (!c) {
    ADD_FAILURE() << "no control " << id;
    static const ControlTemplate none{};
    return none;
  }
  return *c;
}

bool Overlap(const DialogRect& a, const DialogRect& b) {
  return a.x < b.right() && b.x < a.right() && a.y < b.bottom() && b.y < a.bottom();
}

TEST(DialogTemplate, Properties) {
  EXPECT_EQ(T().id, 4013);
  EXPECT_EQ(T().width, 733);
  EXPECT_EQ(T().height, 425);
  EXPECT_EQ(T().font, "MS Shell Dlg");
  EXPECT_EQ(T().point_size, 8);
}

TEST(DialogTemplate, EveryControlOfTheControlTableWithItsKind) {
  std::map<int, ControlKind> expected;
  const auto add = [&](std::initializer_list<int> ids, ControlKind kind) {
    for (int id : ids) expected[id] = kind;
  };
  add({4162, 4163, 4164, 4165, 4181, 4166, 4167, 4168, 4185, 4169, 4170, 4183}, ControlKind::kEdit);
  for (int first : {4171, 4198, 4207, 4216, 4225, 4234})
    for (int i = 0; i < 9; ++i) expected[first + i] = ControlKind::kEdit;
  add({4037, 4023, 4032, 4033, 4034, 4040, 4041, 4044, 4021}, ControlKind::kList);
  add({4180, 4243, 4244, 4245, 4246, 4247, 4186}, ControlKind::kCheckBox);
  add({4161, 4035, 4036, 4159}, ControlKind::kRadioButton);
  add({1}, ControlKind::kPushButton);

  std::map<int, ControlKind> found;
  for (const ControlTemplate& c : T().controls) {
    if (c.id == kNoControlId) continue;
    EXPECT_TRUE(found.emplace(c.id, c.kind).second) << "identifier used twice: " << c.id;
  }
  EXPECT_EQ(found, expected);
  // Identified controls are exactly the interactive ones.
  for (const ControlTemplate& c : T().controls) {
    const bool interactive = c.kind != ControlKind::kFrame && c.kind != ControlKind::kText &&
                             c.kind != ControlKind::kPicture;
    EXPECT_EQ(interactive, c.id != kNoControlId) << c.text;
  }
}

TEST(DialogTemplate, EveryRectangleLiesInsideTheDialog) {
  for (const ControlTemplate& c : T().controls) {
    EXPECT_GT(c.rect.width, 0) << c.id << " " << c.text;
    EXPECT_GT(c.rect.height, 0) << c.id << " " << c.text;
    EXPECT_GE(c.rect.x, 0) << c.id << " " << c.text;
    EXPECT_GE(c.rect.y, 0) << c.id << " " << c.text;
    EXPECT_LE(c.rect.right(), T().width) << c.id << " " << c.text;
    EXPECT_LE(c.rect.bottom(), T().height) << c.id << " " << c.text;
  }
}

// Frames surround groups; nothing else may cover another control.
TEST(DialogTemplate, ControlsDoNotOverlap) {
  std::vector<const ControlTemplate*> solid;
  for (const ControlTemplate& c : T().controls)
    if (c.kind != ControlKind::kFrame) solid.push_back(&c);
  for (std::size_t i = 0; i < solid.size(); ++i)
    for (std::size_t j = i + 1; j < solid.size(); ++j)
      EXPECT_FALSE(Overlap(solid[i]->rect, solid[j]->rect))
          << solid[i]->id << " '" << solid[i]->text << "' and " << solid[j]->id << " '"
          << solid[j]->text << "'";
}

TEST(DialogTemplate, FramesAtTheirPlaces) {
  std::set<std::pair<int, int>> frames;
  for (const ControlTemplate& c : T().controls)
    if (c.kind == ControlKind::kFrame) {
      EXPECT_TRUE(c.text.empty());
      frames.insert({c.rect.x, c.rect.y});
    }
  const std::set<std::pair<int, int>> expected = {
      {48, 18}, {271, 18}, {48, 128}, {271, 127}, {355, 237}, {48, 262},
      {48, 289}, {385, 290}, {385, 355}, {548, 288}, {48, 237}};
  EXPECT_EQ(frames, expected);
}

TEST(DialogTemplate, KnobGroupsRepeatTheStepSizeArrangement) {
  const DialogRect step_boxes[9] = {{71, 95, 36, 14},  {65, 75, 36, 14},  {71, 55, 36, 14},
                                    {85, 35, 36, 14},  {129, 26, 36, 14}, {173, 37, 36, 14},
                                    {187, 55, 36, 14}, {193, 75, 36, 14}, {187, 95, 36, 14}};
  std::vector<DialogRect> knobs;
  for (const ControlTemplate& c : T().controls)
    if (c.kind == ControlKind::kPicture && c.bitmap == 4034) knobs.push_back(c.rect);
  ASSERT_EQ(knobs.size(), 6u);

  for (int first : {4171, 4198, 4207, 4216, 4225, 4234}) {
    const DialogRect one = Control(first).rect;
    // The knob picture this group surrounds.
    const DialogRect* knob = nullptr;
    for (const DialogRect& k : knobs)
      if (k.x > one.x && k.right() < Control(first + 7).rect.right() && k.y < one.y &&
          k.bottom() > Control(first + 4).rect.y)
        knob = &k;
    ASSERT_NE(knob, nullptr) << first;
    for (int i = 0; i < 9; ++i) {
      const ControlTemplate& box = Control(first + i);
      EXPECT_EQ(box.style & kStyleCentred, kStyleCentred) << box.id;
      EXPECT_EQ(box.rect.x - one.x, step_boxes[i].x - step_boxes[0].x) << box.id;
      EXPECT_EQ(box.rect.y - one.y, step_boxes[i].y - step_boxes[0].y) << box.id;
      EXPECT_EQ(box.rect.width, 36) << box.id;
      EXPECT_EQ(box.rect.height, 14) << box.id;
      if (first == 4171) {
        EXPECT_EQ(box.rect.x, step_boxes[i].x) << box.id;
        EXPECT_EQ(box.rect.y, step_boxes[i].y) << box.id;
      }
      // Positions 1..4 left of the knob, 5 above it, 6..9 right of it.
      if (i < 4) {
        EXPECT_LE(box.rect.right(), knob->x) << box.id;
      } else if (i == 4) {
        EXPECT_LE(box.rect.bottom(), knob->y) << box.id;
      } else {
        EXPECT_GE(box.rect.x, knob->right()) << box.id;
      }
    }
  }
}

TEST(DialogTemplate, TextsAsTheyStand) {
  const std::map<std::string_view, ControlKind> expected = {
      {"iTalvo", ControlKind::kText},
      {"K2T Pendant Configuration", ControlKind::kText},
      {"Step Size,  0 to skip", ControlKind::kText},
      {"inch, mm", ControlKind::kText},
      {"Feed Rate Overridden (FRO), 0 to 250,  0 to skip", ControlKind::kText},
      {"Feed Rate, 0 to skip", ControlKind::kText},
      {"inch/min, mm/min", ControlKind::kText},
      {"Slow Jog Rate (Continuous Mode Rate), 0 to 100,  0 to skip", ControlKind::kText},
      {"Spindle speed Rate Overridden (SRO), 0 to 250,  0 to skip", ControlKind::kText},
      {"Spindle Speed, 0 to skip", ControlKind::kText},
      {"RPM", ControlKind::kText},
      {"Velocity Change Sensitivity in V Mode.", ControlKind::kText},
      {"Press EN Button to Slow Down to 1 / ", ControlKind::kText},
      {"Steps to Delay the Start of Axis Movement in C Mode.  0 to 100.", ControlKind::kText},
      {"Number of decimal digits for axis DRO", ControlKind::kText},
      {"Function, Macro, OEM Button Selection", ControlKind::kText},
      {"F Button Description. (Max 16 Characters)", ControlKind::kText},
      {"Screen Selection. Select NONE to Skip", ControlKind::kText},
      {"Custom Macro #1", ControlKind::kText},
      {"Custom Macro #4", ControlKind::kText},
      {"Custom OEM Button #1", ControlKind::kText},
      {"Custom OEM Button #4", ControlKind::kText},
      {"Use FRO", ControlKind::kRadioButton},
      {"Use Feed Rate", ControlKind::kRadioButton},
      {"Use SRO", ControlKind::kRadioButton},
      {"Use Spindle Speed", ControlKind::kRadioButton},
      {"Display Spindle Speed RPM", ControlKind::kCheckBox},
      {"Include A axis in axis selection", ControlKind::kCheckBox},
      {"Include B axis in axis selection", ControlKind::kCheckBox},
      {"Include C axis in axis selection", ControlKind::kCheckBox},
      {"Reverse X axis MPG", ControlKind::kCheckBox},
      {"Reverse Y axis MPG", ControlKind::kCheckBox},
      {"Reverse Z axis MPG", ControlKind::kCheckBox},
      {"OK", ControlKind::kPushButton},
  };
  for (const auto& [text, kind] : expected) {
    int count = 0;
    for (const ControlTemplate& c : T().controls)
      if (c.text == text) {
        ++count;
        EXPECT_EQ(c.kind, kind) << text;
      }
    EXPECT_GE(count, 1) << "missing: '" << text << "'";
  }
  // Each custom row pairs its text with its box, left to right.
  const int macros[] = {4162, 4163, 4168, 4185};
  const int oems[] = {4164, 4165, 4166, 4167};
  for (int n = 0; n < 4; ++n) {
    const std::string macro = "Custom Macro #" + std::to_string(n + 1);
    const std::string oem = "Custom OEM Button #" + std::to_string(n + 1);
    for (const ControlTemplate& c : T().controls) {
      if (c.text == macro) {
        EXPECT_LE(c.rect.right(), Control(macros[n]).rect.x) << macro;
        EXPECT_TRUE(c.rect.y < Control(macros[n]).rect.bottom() && Control(macros[n]).rect.y < c.rect.bottom())
            << macro;
      }
      if (c.text == oem) {
        EXPECT_LE(c.rect.right(), Control(oems[n]).rect.x) << oem;
        EXPECT_TRUE(c.rect.y < Control(oems[n]).rect.bottom() && Control(oems[n]).rect.y < c.rect.bottom())
            << oem;
      }
    }
  }
}

TEST(DialogTemplate, PicturesLeftOfTheirControls) {
  const struct {
    int bitmap;
    int control;
  } cases[] = {{4037, 4037}, {4043, 4181}, {4038, 4040}, {4039, 4041}, {4040, 4044}};
  for (const auto& c : cases) {
    const ControlTemplate* picture = nullptr;
    for (const ControlTemplate& p : T().controls)
      if (p.kind == ControlKind::kPicture && p.bitmap == c.bitmap) {
        EXPECT_EQ(picture, nullptr) << "bitmap " << c.bitmap << " twice";
        picture = &p;
      }
    ASSERT_NE(picture, nullptr) << c.bitmap;
    const DialogRect target = Control(c.control).rect;
    EXPECT_LE(picture->rect.right(), target.x) << c.bitmap;
    EXPECT_GE(target.x - picture->rect.right(), 0) << c.bitmap;
    EXPECT_LE(target.x - picture->rect.right(), 10) << c.bitmap;
    EXPECT_TRUE(picture->rect.y < target.bottom() && target.y < picture->rect.bottom()) << c.bitmap;
  }
}

TEST(DialogTemplate, OkTakesTheFocusFirstAndRadioPairsAreSeparateGroups) {
  const ControlTemplate* first = nullptr;
  for (const ControlTemplate& c : T().controls)
    if (c.id != kNoControlId) {
      first = &c;
      break;
    }
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->id, 1);
  EXPECT_EQ(first->style & kStyleDefault, kStyleDefault);
  // Bottom right.
  EXPECT_GT(first->rect.x, T().width * 3 / 4);
  EXPECT_GT(first->rect.y, T().height * 9 / 10);

  // Radio groups, in template order: each starts at a group-start button.
  std::vector<std::vector<int>> groups;
  for (const ControlTemplate& c : T().controls) {
    if (c.kind != ControlKind::kRadioButton) continue;
    if (c.style & kStyleGroupStart) groups.emplace_back();
    ASSERT_FALSE(groups.empty()) << c.id;
    groups.back().push_back(c.id);
  }
  EXPECT_EQ(groups, (std::vector<std::vector<int>>{{4161, 4035}, {4036, 4159}}));
}

TEST(DialogTemplate, OnlyTheSlowDownAndDigitsListsSort) {
  for (const ControlTemplate& c : T().controls) {
    if (c.kind != ControlKind::kList) continue;
    EXPECT_EQ((c.style & kStyleSorted) != 0, c.id == 4023 || c.id == 4021) << c.id;
  }
}

}  // namespace
}  // namespace k2t
