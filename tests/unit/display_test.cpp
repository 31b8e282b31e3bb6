// The pendant's display and indicator bytes, composed from the module's
// state and the host's values. Texts are written with '_' for a space.
#include <gtest/gtest.h>

#include <functional>

#include "support/scenarios.h"

namespace k2t::testing {
namespace {

struct TextCase {
  const char* name;
  std::function<void()> setup;
  const char* text;
};

class DisplayTest : public ScenarioTest {
 protected:
  void SetUp() override { StartSettled(); }

  // A known state: no LEDs but jog enabled, all DROs 0, axis X, the blink
  // phases where the letter and the prompts' "?" show.
  void Baseline() {
    host_.leds.clear();
    host_.leds[83] = true;
    host_.dros.clear();
    for (int axis = 0; axis < 6; ++axis) host_.SetAxisMaxVelocity(axis, 0.0);
    module_.input.EStopSwitch = false;
    settings().droDigitsIndex = 2;
    settings().displaySpindleRpm = false;
    settings().functionKeyLabel = {"", "F1", "F2", "F3"};
    module_.behaviour.FunctionKeyCode = {};
    module_.behaviour.StepJogPercent = 50.0;
    module_.behaviour.SlowDownDivisor = 0;
    module_.behaviour.JogMode = 2;
    module_.counters.UpdatePhase = 24;
    win().EnButton = false;
    win().SelectedAxis = 0;
    win().ActivityCountdown = 60;
  }
  void Mode(int action_mode) { win().ActionMode = action_mode; }
  void RunTextCases(const std::vector<TextCase>& cases) {
    for (const auto& c : cases) {
      Baseline();
      c.setup();
      FillText('#');  // every position of the text must be written
      EXPECT_EQ(Compose(), Blanks(c.text)) << c.name;
    }
  }
  void Axis(int axis, double position) {
    win().SelectedAxis = axis;
    host_.dros[800 + axis] = position;
  }
};

TEST_F(DisplayTest, CompleteTexts) {
  const std::vector<TextCase> cases = {
      {"continuous", [&] { Mode(3); Axis(0, 12.5); host_.dros[3] = 50; }, "X__50.0%+12.5000"},
      {"continuous, running",
       [&] {
         Mode(3);
         Axis(0, 12.5);
         host_.dros[3] = 50;
         host_.leds[804] = true;
         module_.counters.UpdatePhase = 18;
       },
       "X___>>__+12.5000"},
      {"step jog rate",
       [&] {
         Mode(1);
         Axis(0, -3.25);
         host_.SetAxisMaxVelocity(0, 2.0);
         settings().droDigitsIndex = 0;
       },
       "X_60.0/M___-3.25"},
      {"velocity, EN down",
       [&] {
         Mode(2);
         win().EnButton = true;
         module_.behaviour.SlowDownDivisor = 4;
         settings().droDigitsIndex = 1;
       },
       "X____V/4__+0.000"},
      {"velocity", [&] { Mode(2); Axis(1, -7.125); }, "Y____Vel_-7.1250"},
      {"jog rate", [&] { Mode(4); host_.dros[3] = 25; }, "CON'T______25.0%"},
      {"jog rate choice", [&] { Mode(14); host_.dros[3] = 100; }, "CON'T_____100.0%"},
      {"feed override",
       [&] {
         Mode(5);
         host_.dros[821] = 100;
         host_.dros[55] = 1234.5;
       },
       "FRO_100%_1234.50"},
      {"feed override choice",
       [&] {
         Mode(15);
         host_.dros[821] = 95;
         host_.dros[55] = 12.345;
       },
       "FRO__95%___12.35"},
      {"spindle override, spindle speed shown",
       [&] {
         Mode(6);
         host_.dros[74] = 100;
         host_.dros[202] = 12000;
         host_.dros[56] = 1;
       },
       "Sov_100%12000_P1"},
      {"spindle override, RPM",
       [&] {
         Mode(16);
         settings().displaySpindleRpm = true;
         host_.dros[74] = 100;
         host_.dros[39] = 2500;
       },
       "Sov_100%2500_RPM"},
      {"step size", [&] { Mode(12); host_.dros[828] = 0.001; }, "Stepsize__0.0010"},
      {"step size 12.5", [&] { Mode(12); host_.dros[828] = 12.5; }, "Stepsize__12.500"},
      {"step-jog percent", [&] { Mode(17); host_.SetAxisMaxVelocity(0, 2.0); }, "Step_50%60.0/Min"},
      {"zero prompt",
       [&] {
         Mode(23);
         Axis(0, 12.5);
         settings().droDigitsIndex = 0;
         win().ActivityCountdown = 10;
       },
       "Zero__X?__+12.50"},
      {"go to zero", [&] { Mode(24); Axis(0, -1.5); }, "GoToZero_-1.5000"},
      {"go to zero shows X whatever the axis",
       [&] {
         Mode(24);
         Axis(2, 3.0);
         host_.dros[800] = 2.25;
         settings().droDigitsIndex = 0;
       },
       "GoToZero_+2.2500"},
      {"coordinates", [&] { Mode(25); }, "Coord's_________"},
      {"Z+ jog",
       [&] {
         Mode(26);
         host_.dros[3] = 100;
         host_.dros[802] = 5;
         settings().droDigitsIndex = 1;
       },
       "Z+100.0%__+5.000"},
      {"X+ jog", [&] { Mode(27); host_.dros[3] = 7.5; Axis(0, 1.5); }, "X+__7.5%_+1.5000"},
      {"Y+ jog", [&] { Mode(27); host_.dros[3] = 7.5; Axis(1, -2); }, "Y+__7.5%_-2.0000"},
      {"X- jog", [&] { Mode(28); host_.dros[3] = 50; Axis(0, 1.5); }, "X-_50.0%_+1.5000"},
      {"Y- jog", [&] { Mode(28); host_.dros[3] = 50; Axis(1, 1.5); }, "Y-_50.0%_+1.5000"},
      {"start", [&] { Mode(20); }, "PROGRAM_START?__"},
      {"pause", [&] { Mode(20); host_.leds[804] = true; }, "PROGRAM_PAUSE?__"},
      {"pause wins", [&] { Mode(20); host_.leds[804] = true; host_.leds[805] = true; }, "PROGRAM_PAUSE?__"},
      {"resume", [&] { Mode(20); host_.leds[805] = true; }, "PROGRAM_RESUME?_"},
      {"resume with 806", [&] { Mode(20); host_.leds[805] = true; host_.leds[806] = true; }, "PROGRAM_RESUME?_"},
      {"stop, running", [&] { Mode(21); host_.leds[804] = true; }, "PROGRAM_STOP?___"},
      {"stop, 806", [&] { Mode(21); host_.leds[806] = true; }, "PROGRAM_STOP?___"},
      {"stop screen", [&] { Mode(21); }, "STOP____Screen__"},
      {"rewind", [&] { Mode(21); host_.dros[816] = 3; }, "PROGRAM_REWIND?_"},
      {"spindle start", [&] { Mode(22); }, "SPINDLE_START?__"},
      {"spindle stop", [&] { Mode(22); host_.leds[11] = true; }, "SPINDLE_STOP?___"},
      {"F1 label", [&] { Mode(23); module_.behaviour.FunctionKeyCode[1] = 113; settings().functionKeyLabel[1] = "Flood"; },
       "Flood___________"},
      {"F2 label cut to 16",
       [&] {
         Mode(24);
         module_.behaviour.FunctionKeyCode[2] = 1;
         settings().functionKeyLabel[2] = "Program Run screen";
       },
       "Program_Run_scre"},
      {"F3 label", [&] { Mode(25); module_.behaviour.FunctionKeyCode[3] = 899; settings().functionKeyLabel[3] = "--"; },
       "--______________"},
      {"UTF-8 label: a character a cell",
       [&] { Mode(23); module_.behaviour.FunctionKeyCode[1] = 1; settings().functionKeyLabel[1] = "Fr\u00e4sen-\u00dcberlauf!xyz"; },
       "Fr?sen-?berlauf!"},
      {"unshowable and malformed characters",
       [&] { Mode(23); module_.behaviour.FunctionKeyCode[1] = 1; settings().functionKeyLabel[1] = "a\tb\U0001F600c\xE9" "d\xE2\x82"; },
       "a?b?c?d??_______"},
      {"empty label, non-zero code", [&] { Mode(23); module_.behaviour.FunctionKeyCode[1] = 1029; settings().functionKeyLabel[1] = ""; },
       "________________"},
  };
  RunTextCases(cases);
}

TEST_F(DisplayTest, AxisValueByDigitsIndex) {
  const struct {
    double position;
    int index;
    const char* field;
  } cases[] = {
      {1.23456, 0, "___+1.23"},  {1.23456, 1, "__+1.234"}, {1.23456, 2, "_+1.2346"},
      {12.5, 0, "__+12.50"},     {12.5, 1, "_+12.500"},    {12.5, 2, "+12.5000"},
      {-0.5, 0, "___-0.50"},     {-0.5, 1, "__-0.500"},    {-0.5, 2, "_-0.5000"},
      {123.456, 0, "_+123.45"},  {123.456, 1, "+123.456"}, {123.456, 2, "+123.456"},
      {1.23456, -1, "_+1.2346"}, {1.23456, 3, "_+1.2346"}, {1.23456, 32767, "_+1.2346"},
      {-0.5, -32768, "_-0.5000"}, {-12345.678, 2, "-12345.6"},
  };
  for (const auto& c : cases) {
    Baseline();
    Mode(3);
    Axis(0, c.position);
    settings().droDigitsIndex = static_cast<std::int16_t>(c.index);
    EXPECT_EQ(Compose().substr(8), Blanks(c.field)) << c.position << " index " << c.index;
  }
}

TEST_F(DisplayTest, RowsThatWriteNothing) {
  const std::vector<TextCase> cases = {
      {"start/hold, only 806", [&] { Mode(20); host_.leds[806] = true; }, nullptr},
      {"X+ jog on Z", [&] { Mode(27); Axis(2, 1.0); }, nullptr},
      {"X+ jog on C", [&] { Mode(27); Axis(5, 1.0); }, nullptr},
      {"X- jog on A", [&] { Mode(28); Axis(3, 1.0); }, nullptr},
      {"X- jog on Z", [&] { Mode(28); Axis(2, 1.0); }, nullptr},
  };
  for (const auto& c : cases) {
    Baseline();
    c.setup();
    FillText('#');
    EXPECT_EQ(Compose(), "################") << c.name;
  }
}

// Driven: while a key of a row that writes nothing is held, the pendant keeps
// showing the text from before.
TEST_F(DisplayTest, HeldJogOnZKeepsThePreviousText) {
  host_.dros[3] = 50;
  win().SelectedAxis = 2;
  win().PrevSelectedAxis = 2;
  SetJogMode(3);
  Tick();
  const std::string before = Display();
  EXPECT_EQ(before.substr(1), Blanks("__50.0%_+0.0000"));
  DoublePressF(2);
  Tick(5);
  EXPECT_EQ(win().ActionMode, 27);
  EXPECT_EQ(Display(), before);
}

TEST_F(DisplayTest, IndicatorBytes) {
  const struct {
    int axis, jog_mode;
    std::uint8_t byte19;
  } cases[] = {
      {5, 6, 0x55}, {1, 2, 0x13}, {0, 1, 0x00}, {2, 3, 0x21}, {3, 4, 0x34}, {4, 5, 0x42}, {0, 6, 0x05},
  };
  for (const auto& c : cases) {
    Baseline();
    Mode(3);
    win().SelectedAxis = c.axis;
    module_.behaviour.JogMode = c.jog_mode;
    win().ComposeOutputReport();
    EXPECT_EQ(win().OutputReport[19], c.byte19) << c.axis << " " << c.jog_mode;
  }
  module_.counters.UpdateSequence = 255;
  win().OutputReport[0] = 7;
  win().OutputReport[1] = 7;
  win().OutputReport[20] = 9;
  win().ComposeOutputReport();
  EXPECT_EQ(win().OutputReport[18], 255);
  EXPECT_EQ(win().OutputReport[0], 0);
  EXPECT_EQ(win().OutputReport[1], 0);
  EXPECT_EQ(win().OutputReport[20], 9);  // never written
}

struct BlinkCase {
  int countdown;
  bool first_half;  // ActivityCountdown mod 40 below 20
};

const BlinkCase kBlinkCases[] = {{19, true},  {20, false}, {39, false}, {40, true},  {59, true},
                                 {60, false}, {0, true},   {159, false}, {120, true}, {100, false}};

TEST_F(DisplayTest, BlinkHalves) {
  for (const auto& b : kBlinkCases) {
    auto with = [&](const char* first, const char* second) { return Blanks(b.first_half ? first : second); };
    const std::vector<std::pair<std::function<void()>, std::string>> rows = {
        {[&] { module_.input.EStopSwitch = true; }, with("_E-STOP__E-STOP_", "________________")},
        {[&] { host_.leds[800] = true; Mode(3); }, with("__Reset___Reset_", "________________")},
        {[&] { module_.input.EStopSwitch = true; host_.leds[800] = true; },
         with("_E-STOP__E-STOP_", "________________")},
        {[&] { Mode(20); }, with("PROGRAM_START___", "PROGRAM_START?__")},
        {[&] { Mode(21); host_.leds[805] = true; }, with("PROGRAM_STOP____", "PROGRAM_STOP?___")},
        {[&] { Mode(22); host_.leds[11] = true; }, with("SPINDLE_STOP____", "SPINDLE_STOP?___")},
        {[&] { Mode(23); Axis(0, 1.0); }, with("Zero__X?_+1.0000", "Zero__X__+1.0000")},
        {[&] { Mode(3); host_.dros[3] = 5; }, with("____5.0%_+0.0000", "X___5.0%_+0.0000")},
        {[&] { Mode(2); host_.leds[805] = true; }, with("_________+0.0000", "X_____||_+0.0000")},
    };
    for (std::size_t i = 0; i < rows.size(); ++i) {
      Baseline();
      win().ActivityCountdown = b.countdown;
      rows[i].first();
      EXPECT_EQ(Compose(), rows[i].second) << "countdown " << b.countdown << " row " << i;
    }
  }
}

TEST_F(DisplayTest, RunningArrowByUpdatePhase) {
  const struct {
    int phase;
    const char* arrow;
  } cases[] = {
      {100, ">___"}, {24, ">___"}, {21, ">___"}, {20, ">>__"}, {16, ">>__"}, {15, ">>>_"},
      {11, ">>>_"},  {10, ">>>>"}, {6, ">>>>"},  {5, "____"},  {1, "____"},  {0, "____"},
  };
  for (const auto& c : cases) {
    Baseline();
    Mode(13);
    host_.leds[804] = true;
    host_.leds[805] = true;  // the arrow wins
    host_.dros[828] = 2.0;
    module_.counters.UpdatePhase = c.phase;
    win().ActivityCountdown = 100;
    EXPECT_EQ(Compose(), Blanks(std::string("X___") + c.arrow + "_+0.0000")) << c.phase;
  }
}

// The overlays keep position 1 as the mode made it.
TEST_F(DisplayTest, RunningAndPausedOverlays) {
  const std::vector<TextCase> cases = {
      {"rate 12000, running",
       [&] {
         Mode(1);
         host_.SetAxisMaxVelocity(0, 400.0);
         host_.leds[804] = true;
       },
       "X1__>____+0.0000"},
      {"rate 12000, paused",
       [&] {
         Mode(1);
         host_.SetAxisMaxVelocity(0, 400.0);
         host_.leds[805] = true;
       },
       "X1____||_+0.0000"},
      {"velocity, running", [&] { Mode(2); host_.leds[804] = true; module_.counters.UpdatePhase = 8; }, "X___>>>>_+0.0000"},
      {"continuous, paused, other half",
       [&] {
         Mode(3);
         host_.leds[805] = true;
         win().ActivityCountdown = 5;
       },
       "_________+0.0000"},
  };
  RunTextCases(cases);
}

TEST_F(DisplayTest, StepJogShowsRateOrStepSize) {
  const struct {
    int countdown;
    double step;
    double max_velocity;
    const char* text;
  } cases[] = {
      {80, 0.001, 2.0, "__60.0/M_+0.0000"},     {81, 0.001, 2.0, "___.0010_+0.0000"},
      {100, 0.001, 2.0, "X__.0010_+0.0000"},    {100, 0.999, 2.0, "X__.9990_+0.0000"},
      {100, 1.0, 2.0, "X_1.0000_+0.0000"},      {100, 12.5, 2.0, "X_12.500_+0.0000"},
      {60, 0.001, 3.33, "X_99.9/M_+0.0000"},    {60, 0.001, 3.4, "X__102/M_+0.0000"},
      {60, 0.001, 3.3333333333333335, "X100.0/M_+0.0000"},  // a rate of exactly 100
      {60, 0.001, 400.0, "X12000/M_+0.0000"},   {159, 0.0001, 2.0, "X__.0001_+0.0000"},
  };
  for (const auto& c : cases) {
    Baseline();
    Mode(1);
    win().ActivityCountdown = c.countdown;
    host_.dros[828] = c.step;
    host_.SetAxisMaxVelocity(0, c.max_velocity);
    FillText('#');
    EXPECT_EQ(Compose(), Blanks(c.text)) << c.countdown << " " << c.step << " " << c.max_velocity;
  }
}

TEST_F(DisplayTest, StepJogPercentRates) {
  const struct {
    double max_velocity;
    double percent;
    const char* text;
  } cases[] = {
      {2.0, 50.0, "Step_50%60.0/Min"},   {3.33, 50.0, "Step_50%99.9/Min"}, {40.0, 50.0, "Step_50%1200/Min"},
      {333.3, 50.0, "Step_50%9999/Min"}, {400.0, 50.0, "Step_50%_12000/M"}, {0.01, 100.0, "Step100%_0.6/Min"},
      {400.0, 1.0, "Step__1%_240/Min"},
      {3.3333333333333335, 50.0, "Step_50%_100/Min"},  // exactly 100
      {333.3333333333333, 50.0, "Step_50%_10000/M"},   // exactly 10000
  };
  for (const auto& c : cases) {
    Baseline();
    Mode(17);
    host_.SetAxisMaxVelocity(0, c.max_velocity);
    module_.behaviour.StepJogPercent = c.percent;
    FillText('#');
    EXPECT_EQ(Compose(), Blanks(c.text)) << c.max_velocity << " " << c.percent;
  }
}

// F1 held long with B selected: B's own position, and no "?" near zero.
TEST_F(DisplayTest, ZeroPromptOnB) {
  const struct {
    double position;
    const char* text;
  } cases[] = {
      {0.000009, "Zero__B__+0.0000"},  {-0.000009, "Zero__B__-0.0000"}, {0.00001, "Zero__B?_+0.0000"},
      {-0.00001, "Zero__B?_-0.0000"},  {0.0, "Zero__B__+0.0000"},      {-3.5, "Zero__B?_-3.5000"},
  };
  for (const auto& c : cases) {
    Baseline();
    Mode(23);
    win().ActivityCountdown = 5;
    host_.dros[800] = 7.0;  // X is not the axis asked about
    Axis(4, c.position);
    EXPECT_EQ(Compose(), Blanks(c.text)) << c.position;
  }
}

// Driven: F1 held long with B selected asks about B.
TEST_F(DisplayTest, ZeroPromptDriven) {
  settings().includeBAxis = true;
  report().Y();
  Tick();
  report().Y(false);
  Tick();
  report().Y();
  Tick();
  report().Y(false);
  Tick();
  ASSERT_EQ(win().SelectedAxis, 4);
  host_.dros[804] = 2.5;
  LongHoldF(1);
  EXPECT_EQ(Display().substr(0, 7), "Zero  B");
  EXPECT_EQ(Display().substr(8), " +2.5000");
}

// While the wheel turns the countdown holds at 159: the step size shows and
// the axis letter stays.
TEST_F(DisplayTest, TurningWheelShowsStepSize) {
  SetJogMode(1);
  host_.dros[828] = 0.01;
  host_.SetJogUnitFactor(0.01);
  for (int i = 0; i < 200; ++i) {
    Turn(1, 5);
    ASSERT_EQ(Display().substr(0, 8), Blanks("X__.0100")) << i;
  }
}

TEST_F(DisplayTest, TextsUnderACommaLocale) {
  K2T_WITH_COMMA_LOCALE(comma);
  const std::vector<TextCase> cases = {
      {"continuous", [&] { Mode(3); Axis(0, 12.5); host_.dros[3] = 50; }, "X__50.0%+12.5000"},
      {"feed override",
       [&] {
         Mode(5);
         host_.dros[821] = 100;
         host_.dros[55] = 1234.5;
       },
       "FRO_100%_1234.50"},
      {"step size", [&] { Mode(12); host_.dros[828] = 0.001; }, "Stepsize__0.0010"},
      {"step jog", [&] { Mode(1); host_.dros[828] = 0.001; win().ActivityCountdown = 100; }, "X__.0010_+0.0000"},
      {"step-jog percent", [&] { Mode(17); host_.SetAxisMaxVelocity(0, 2.0); }, "Step_50%60.0/Min"},
  };
  RunTextCases(cases);
}

}  // namespace
}  // namespace k2t::testing
