// Helpers for scenario tests of the pendant's behaviour and display: a
// settled pendant, gestures (turns, double presses, long holds), filtered
// call logs, direct composition of the display, and a comma locale.
#pragma once

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <locale>
#include <string>
#include <vector>

#include "support/fakes.h"

namespace k2t::testing {

using Log = std::vector<std::string>;

// German number formatting, as the C library names it on Linux and on Windows.
inline constexpr const char* kCommaLocaleNames[] = {"de_DE.UTF-8", "de_DE.utf8", "German_Germany.1252"};

// Switches the whole process (C and C++ locales) to German number
// formatting for its lifetime, so a decimal comma would show wherever the
// module formats or parses through the locale.
class ScopedCommaLocale {
 public:
  ScopedCommaLocale() {
    const char* previous = std::setlocale(LC_ALL, nullptr);
    previous_c_ = previous ? previous : "C";
    previous_cpp_ = std::locale();
    for (const char* name : kCommaLocaleNames) {
      if (std::setlocale(LC_ALL, name) != nullptr) {
#ifdef _WIN32
        // The C++ library of mingw knows no named locales; the C one is
        // what printf and strtod follow.
        active_ = true;
        break;
#endif
        try {
          std::locale::global(std::locale(name));
        } catch (const std::runtime_error&) {
          std::setlocale(LC_ALL, previous_c_.c_str());
          continue;
        }
        active_ = true;
        break;
      }
    }
  }
  ~ScopedCommaLocale() {
    std::locale::global(previous_cpp_);
    std::setlocale(LC_ALL, previous_c_.c_str());
  }
  ScopedCommaLocale(const ScopedCommaLocale&) = delete;
  ScopedCommaLocale& operator=(const ScopedCommaLocale&) = delete;

  bool active() const { return active_; }

 private:
  std::string previous_c_;
  std::locale previous_cpp_;
  bool active_ = false;
};

// Inside a test body: switch to the comma locale, or skip the test when the
// machine lacks it (fail instead when K2T_REQUIRE_COMMA_LOCALE is set).
#define K2T_WITH_COMMA_LOCALE(guard)                                                   \
  ::k2t::testing::ScopedCommaLocale guard;                                             \
  if (!guard.active()) {                                                               \
    if (std::getenv("K2T_REQUIRE_COMMA_LOCALE") != nullptr) {                          \
      FAIL() << "locale de_DE.UTF-8 is not installed";                                 \
    }                                                                                  \
    GTEST_SKIP() << "locale de_DE.UTF-8 is not installed";                             \
  }                                                                                    \
  ASSERT_STREQ(std::localeconv()->decimal_point, ",")

class ScenarioTest : public PendantTest {
 protected:
  // A started pendant past its start-up cycles, with an empty call log.
  void StartSettled() {
    Start();
    Settle();
  }

  // Back to a module as loaded, without a window, so a table case can start
  // afresh; host LEDs and DROs stay as the case left them.
  void Restart() {
    module_.StopPlug();
    platform_.devices.clear();
    report_ = ReportBuilder{};
    module_.behaviour = BehaviourState{};
    module_.counters = UpdateCounters{};
    module_.input = InputState{};
    host_.TakeCalls();
  }

  void SetJogMode(int mode) { module_.behaviour.JogMode = mode; }
  PendantSettings& settings() { return module_.settings; }

  int counter() const { return report_.bytes[1]; }
  // One report with the wheel moved by delta counts (wrapping) at the given
  // rate byte.
  void Turn(int delta, int rate = 10) {
    report().Counter((counter() + delta) & 0xFF).Rate(rate);
    Tick();
  }
  // The wheel at rest: an unchanged counter and a zero rate.
  void Rest(int ticks = 1) {
    report().Rate(0);
    Tick(ticks);
  }

  // A short press and release of F1..F3, then the second press held: the
  // key's double-press state is active after this.
  void DoublePressF(int key) {
    SetF(key, true);
    Tick();
    SetF(key, false);
    Tick();
    SetF(key, true);
    Tick();
  }
  // Holds F1..F3 until its long-hold state is active (14 pressed ticks).
  void LongHoldF(int key) {
    SetF(key, true);
    Tick(14);
  }
  void ReleaseF(int key) {
    SetF(key, false);
    Tick();
  }
  void SetF(int key, bool on) {
    if (key == 1) report().F1(on);
    if (key == 2) report().F2(on);
    if (key == 3) report().F3(on);
  }
  // EN pressed for one tick and released for one.
  void TapEn() {
    report().En(true);
    Tick();
    report().En(false);
    Tick();
  }
  // Released ticks enough for any double-press window of EN or the F keys to
  // close.
  void Quiet() { Tick(14); }

  // The entries of the call log that start with the prefix.
  Log CallsStarting(const std::string& prefix) {
    Log out;
    for (std::string& c : Calls())
      if (c.rfind(prefix, 0) == 0) out.push_back(std::move(c));
    return out;
  }

  // Clears the Stop flag of all six jog blocks, to see which a cycle raises.
  void ClearJogStops() {
    for (std::size_t axis = 0; axis < 6; ++axis)
      host_.Put<std::uint8_t>(host_.motion_,
                              K2T_MOTION_AXIS_JOG + K2T_MOTION_AXIS_JOG_STRIDE * axis + K2T_AXIS_JOG_STOP, 0);
  }
  int StoppedAxes() const {
    int n = 0;
    for (int axis = 0; axis < 6; ++axis) n += host_.JogBlock(axis).stop == 1 ? 1 : 0;
    return n;
  }

  // The display as the composer leaves it after one run on the current state.
  std::string Compose() {
    win().ComposeOutputReport();
    return Text();
  }
  // The 16 display characters of the output buffer.
  std::string Text() {
    const auto& out = win().OutputReport;
    return std::string(out.begin() + 2, out.begin() + 18);
  }
  // Fills the display text with a marker, to see which positions a rule writes.
  void FillText(char c) {
    for (std::size_t i = 2; i < 18; ++i) win().OutputReport[i] = static_cast<std::uint8_t>(c);
  }
};

// A display text written with '_' for each space.
inline std::string Blanks(std::string text) {
  for (char& c : text)
    if (c == '_') c = ' ';
  return text;
}

}  // namespace k2t::testing
