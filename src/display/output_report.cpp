// The 21-byte output report: alive byte, axis and mode indicator, and the
// 16 characters of the pendant's display.
#include <cmath>
#include <cstring>
#include <string_view>

#include "common/text.h"
#include "common/utf8.h"
#include "plugin/host_codes.h"
#include "plugin/module.h"

namespace k2t {

namespace {

constexpr std::size_t kTextStart = 2;
constexpr std::size_t kTextLength = 16;

// Indicator mode code of each JogMode 1..6.
constexpr std::uint8_t kIndicatorModeCode[7] = {0, 0, 3, 1, 4, 2, 5};

// The display text inside the report; rules write some positions and leave
// the others as the previous cycle had them.
class DisplayText {
 public:
  explicit DisplayText(std::uint8_t* text) : text_(text) {}

  void Put(std::size_t pos, std::string_view s) {
    for (std::size_t i = 0; i < s.size() && pos + i < kTextLength; ++i)
      text_[pos + i] = static_cast<std::uint8_t>(s[i]);
  }
  void PutChar(std::size_t pos, char c) { Put(pos, std::string_view(&c, 1)); }
  void Spaces(std::size_t from, std::size_t to) {
    for (std::size_t i = from; i <= to && i < kTextLength; ++i) text_[i] = ' ';
  }
  void All(std::string_view s) { Put(0, s); }
  // A UTF-8 text from position 0, one character a cell; a character the
  // display cannot show (anything but printable ASCII, or a malformed byte)
  // takes its cell as '?'.
  void Characters(std::string_view s) {
    for (std::size_t cell = 0; cell < kTextLength && !s.empty(); ++cell) {
      char32_t cp;
      s.remove_prefix(DecodeUtf8(s, cp));
      text_[cell] = cp >= 0x20 && cp <= 0x7E ? static_cast<std::uint8_t>(cp) : '?';
    }
  }
  // The first n characters of a number formatted printf-style ("%+W.Pf").
  void Number(std::size_t pos, std::size_t n, double value, int width, int precision,
              bool plus = false) {
    char scratch[400];
    const std::size_t len = FormatFixed(scratch, sizeof scratch, value, width, precision, plus);
    Spaces(pos, pos + n - 1);
    Put(pos, std::string_view(scratch, len < n ? len : n));
  }

 private:
  std::uint8_t* text_;
};

struct Composer {
  DrovikWin& win;
  Module& m;
  const Host& host;
  DisplayText text;
  int phase40;  // ActivityCountdown mod 40: below 20 is the first half

  bool FirstHalf() const { return phase40 < 20; }
  char Blink(char c) const { return FirstHalf() ? ' ' : c; }

  // Eight characters of an axis position with 2, 3 or 4 decimals. An index
  // outside the digits list shows 4 decimals, the default.
  void AxisValue(double position) {
    static constexpr int kWidths[3] = {10, 9, 8};
    const int index = m.settings.droDigitsIndex;
    const int width = (index >= 0 && index <= 2) ? kWidths[index] : 8;
    text.Number(8, 8, position, width, 4, true);
  }

  void Label(int key) {
    const std::string& label = m.settings.functionKeyLabel[static_cast<std::size_t>(key)];
    text.Spaces(0, 15);
    text.Characters(label);
  }

  void Prompt(const char* all, std::size_t question) {
    text.All(all);
    text.PutChar(question, Blink('?'));
  }

  void HeldButton(int mode);
  void AxisMode(int mode);
  void ValueMode(int mode);
  void StepRate(std::size_t pos);
};

void Composer::HeldButton(int mode) {
  const int axis = win.SelectedAxis;
  const auto& codes = m.behaviour.FunctionKeyCode;
  switch (mode) {
    case 20: {
      const bool running = host.GetLED(led::kRunning);
      const bool paused = host.GetLED(led::kPaused);
      const bool l806 = host.GetLED(led::kLed806);
      if (!running && !paused && !l806) Prompt("PROGRAM START?  ", 13);
      else if (running) Prompt("PROGRAM PAUSE?  ", 13);
      else if (paused) Prompt("PROGRAM RESUME? ", 14);
      break;  // only 806 lit: the previous text stays
    }
    case 21:
      if (host.GetLED(led::kRunning) || host.GetLED(led::kPaused) || host.GetLED(led::kLed806))
        Prompt("PROGRAM STOP?   ", 12);
      else if (host.GetDRO(dro::kStopRewindGate) == 0.0) text.All("STOP    Screen  ");
      else Prompt("PROGRAM REWIND? ", 14);
      break;
    case 22:
      if (!host.GetLED(led::kSpindleOn)) Prompt("SPINDLE START?  ", 13);
      else Prompt("SPINDLE STOP?   ", 12);
      break;
    case 23:
      if (codes[1] == 0) {
        const double position = host.GetDRO(dro::kAxisPositionBase + axis);
        text.All("Zero  ");
        text.PutChar(6, kAxisLetters[axis]);
        // The zero prompt asks in the opposite half to the other prompts.
        text.PutChar(7, std::fabs(position) >= 0.00001 && FirstHalf() ? '?' : ' ');
        AxisValue(position);
      } else {
        Label(1);
      }
      break;
    case 24:
      if (codes[2] == 0) {
        text.All("GoToZero");
        text.Number(8, 8, host.GetDRO(dro::kAxisPositionBase), 8, 4, true);
      } else {
        Label(2);
      }
      break;
    case 25:
      if (codes[3] == 0) text.All("Coord's         ");
      else Label(3);
      break;
    case 26:
      text.All("Z+");
      text.Number(2, 5, host.GetDRO(dro::kJogRatePercent), 5, 1);
      text.PutChar(7, '%');
      AxisValue(host.GetDRO(dro::kAxisPositionBase + 2));
      break;
    case 27:
    case 28:
      if (axis == 0 || axis == 1) {
        text.PutChar(0, axis == 0 ? 'X' : 'Y');
        text.PutChar(1, mode == 27 ? '+' : '-');
        text.Number(2, 5, host.GetDRO(dro::kJogRatePercent), 5, 1);
        text.PutChar(7, '%');
        AxisValue(host.GetDRO(dro::kAxisPositionBase + axis));
      }
      break;  // Z, A, B, C: the previous text stays
  }
}

void Composer::AxisMode(int mode) {
  const int axis = win.SelectedAxis;
  text.Spaces(0, 7);
  text.PutChar(0, Blink(kAxisLetters[axis]));
  AxisValue(host.GetDRO(dro::kAxisPositionBase + axis));
  const bool show_rate = mode == 1 && win.ActivityCountdown <= 80;
  if (show_rate) {
    const double rate = host.AxisMaxVelocity(axis) * 60.0 * m.behaviour.StepJogPercent / 100.0;
    text.Number(1, 5, rate, 5, rate <= 100.0 ? 1 : 0);
    text.Put(6, "/M");
  } else if (mode == 1 || mode == 13) {
    const double step = host.GetDRO(dro::kStepSize);
    text.PutChar(1, ' ');
    text.Number(2, 6, step, 6, 4);
    if (step < 1.0) text.PutChar(2, ' ');
  } else if (mode == 2) {
    if (!win.EnButton) {
      text.Put(1, "    Vel");
    } else {
      text.Put(1, "    V/");
      char divisor[16];
      FormatInt(divisor, sizeof divisor, m.behaviour.SlowDownDivisor);
      text.PutChar(7, divisor[0]);
    }
  } else {  // 3
    text.PutChar(1, ' ');
    text.Number(2, 5, host.GetDRO(dro::kJogRatePercent), 5, 1);
    text.PutChar(7, '%');
  }
  if (host.GetLED(led::kRunning)) {
    const int phase = m.counters.UpdatePhase;
    text.Spaces(2, 3);
    text.Put(4, phase > 20 ? ">   " : phase >= 16 ? ">>  " : phase >= 11 ? ">>> " : phase >= 6 ? ">>>>" : "    ");
  } else if (host.GetLED(led::kPaused)) {
    text.Spaces(2, 5);
    text.Put(6, FirstHalf() ? "  " : "||");
  }
}

void Composer::StepRate(std::size_t pos) {
  const double rate =
      host.AxisMaxVelocity(win.SelectedAxis) * 60.0 * m.behaviour.StepJogPercent / 100.0;
  if (rate < 100.0) {
    text.Number(pos, 4, rate, 4, 1);
    text.Put(pos + 4, "/Min");
  } else if (rate < 10000.0) {
    text.Number(pos, 4, rate, 4, 0);
    text.Put(pos + 4, "/Min");
  } else {
    text.Number(pos, 6, rate, 6, 0);
    text.Put(pos + 6, "/M");
  }
}

void Composer::ValueMode(int mode) {
  switch (mode) {
    case 4:
    case 14:
      text.Spaces(0, 15);
      text.Put(0, "CON'T ");
      text.Number(9, 6, host.GetDRO(dro::kJogRatePercent), 6, 1);
      text.PutChar(15, '%');
      break;
    case 5:
    case 15:
      text.Spaces(0, 15);
      text.Put(0, "FRO ");
      text.Number(4, 3, host.GetDRO(dro::kFeedOverride), 3, 0);
      text.PutChar(7, '%');
      text.Number(8, 8, host.GetDRO(dro::kFeedTimesOverride), 8, 2);
      break;
    case 6:
    case 16:
      text.Put(0, "Sov ");
      text.Number(4, 3, host.GetDRO(dro::kSpindleOverride), 3, 0);
      text.PutChar(7, '%');
      if (!m.settings.displaySpindleRpm) {
        text.Number(8, 5, host.GetDRO(dro::kSpindleSpeedWithPulley), 5, 0);
        text.Put(13, " P");
        text.Number(15, 1, host.GetDRO(dro::kPulley), 1, 0);
      } else {
        text.Number(8, 4, host.GetDRO(dro::kSpindleRpm), 4, 0);
        text.Put(12, " RPM");
      }
      break;
    case 12:
      text.Put(0, "Stepsize  ");
      text.Number(10, 6, host.GetDRO(dro::kStepSize), 0, 4);
      break;
    case 17:
      text.Put(0, "Step");
      text.Number(4, 3, m.behaviour.StepJogPercent, 3, 0);
      text.PutChar(7, '%');
      StepRate(8);
      break;
  }
}

}  // namespace

void DrovikWin::ComposeOutputReport() {
  Module& m = module_;
  OutputReport[0] = 0;
  OutputReport[1] = 0;
  OutputReport[18] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(m.counters.UpdateSequence) & 0xFF);
  const int jog_mode = m.behaviour.JogMode;
  const std::uint8_t mode_code = (jog_mode >= 1 && jog_mode <= 6) ? kIndicatorModeCode[jog_mode] : 0;
  OutputReport[19] = static_cast<std::uint8_t>(SelectedAxis * 16 + mode_code);

  Composer c{*this, m, m.host, DisplayText(OutputReport.data() + kTextStart), ActivityCountdown % 40};
  if (m.input.EStopSwitch) {
    c.text.All(c.FirstHalf() ? " E-STOP  E-STOP " : "                ");
    return;
  }
  if (m.host.GetLED(led::kEStop)) {
    c.text.All(c.FirstHalf() ? "  Reset   Reset " : "                ");
    return;
  }
  switch (ActionMode) {
    case 1:
    case 2:
    case 3:
    case 13: c.AxisMode(ActionMode); break;
    case 4:
    case 5:
    case 6:
    case 12:
    case 14:
    case 15:
    case 16:
    case 17: c.ValueMode(ActionMode); break;
    default:
      if (ActionMode >= 20 && ActionMode <= 28) c.HeldButton(ActionMode);
      break;
  }
}

}  // namespace k2t
