// Host values the module does not control (NaN, infinities, out-of-range
// jog rates) never reach a G-code text or a jog block.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>

#include "support/scenarios.h"

namespace k2t::testing {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

struct HostValueCase {
  const char* name;
  int jog_mode;
  bool en_held;  // JogMode 3 with EN held: the step jog at the jog rate
  std::function<void(FakeHost&)> set;
  const char* expected;  // the one text or jog code sent; null: none
};

class HostValuesTest : public ScenarioTest {};

TEST_F(HostValuesTest, NonFiniteValuesSendNoMoveAndStartNoJog) {
  const HostValueCase cases[] = {
      {"step jog, finite", 1, false, [](FakeHost&) {}, "Code G91G1 F60.0000 X 0.0300"},
      {"step jog, max velocity NaN", 1, false, [](FakeHost& h) { h.SetAxisMaxVelocity(0, kNaN); }, nullptr},
      {"step jog, max velocity infinite", 1, false, [](FakeHost& h) { h.SetAxisMaxVelocity(0, kInf); }, nullptr},
      {"step jog, jog unit NaN", 1, false, [](FakeHost& h) { h.SetJogUnitFactor(kNaN); }, nullptr},
      {"step jog, jog unit -infinite", 1, false, [](FakeHost& h) { h.SetJogUnitFactor(-kInf); }, nullptr},
      {"rotated step, finite", 1, false, [](FakeHost& h) { h.SetRotationAngle(30); }, "Code G91G1 X0.0260 Y-0.0150 "},
      {"rotated step, angle NaN", 1, false, [](FakeHost& h) { h.SetRotationAngle(kNaN); }, nullptr},
      {"rotated step, angle infinite", 1, false, [](FakeHost& h) { h.SetRotationAngle(kInf); }, nullptr},
      {"jog-rate step, finite", 3, true, [](FakeHost&) {}, "Code G91G1 F60.000000 X 0.0300"},
      {"jog-rate step, DRO 3 NaN", 3, true, [](FakeHost& h) { h.dros[3] = kNaN; }, nullptr},
      {"jog-rate step, max velocity huge", 3, true, [](FakeHost& h) { h.SetAxisMaxVelocity(0, 1e300); }, nullptr},
      {"continuous jog, finite", 3, false, [](FakeHost&) {}, "Code DOJOG"},
      {"continuous jog, DRO 3 NaN", 3, false, [](FakeHost& h) { h.dros[3] = kNaN; }, nullptr},
      {"continuous jog, DRO 3 infinite", 3, false, [](FakeHost& h) { h.dros[3] = kInf; }, nullptr},
  };
  for (const HostValueCase& c : cases) {
    SCOPED_TRACE(c.name);
    Restart();
    for (auto* record : {&host_.motion_, &host_.setup_, &host_.planner_}) std::fill(record->begin(), record->end(), 0);
    host_.dros.clear();
    StartSettled();
    SetJogMode(c.jog_mode);
    settings().delaySteps = 0;
    host_.SetJogUnitFactor(0.01);
    host_.SetAxisMaxVelocity(0, 2.0);
    host_.SetAxisMaxVelocitySteps(0, 4000);
    host_.dros[3] = 50.0;
    report().En(c.en_held);
    Tick(3);
    Updates(5);
    Tick();
    c.set(host_);
    Calls();
    ASSERT_EQ(win().ActionMode, c.en_held ? 13 : c.jog_mode);
    Turn(3, 40);
    Log sent;
    for (const auto& call : Calls())
      if (call.rfind("Code G91", 0) == 0 || call == "Code DOJOG") sent.push_back(call);
    EXPECT_EQ(sent, c.expected ? Log{c.expected} : Log{});
    if (!c.expected) {
      EXPECT_EQ(host_.JogBlock(0).active, 0);
    }
  }
}

// A jog rate above 100 % asks for more than the axis can do: the block
// never carries more than the axis' limit.
TEST_F(HostValuesTest, JogBlockVelocityStaysWithinTheAxisLimit) {
  for (const double rate : {50.0, 100.0, 250.0, 1e12, -1e12}) {
    SCOPED_TRACE(rate);
    Restart();
    StartSettled();
    SetJogMode(3);
    settings().delaySteps = 0;
    host_.SetAxisMaxVelocitySteps(0, 4000);
    host_.dros[3] = rate;
    Tick();
    Turn(3, 40);
    const AxisJogBlock block = host_.JogBlock(0);
    EXPECT_EQ(block.active, 1);
    EXPECT_EQ(block.velocity, static_cast<std::int32_t>(std::clamp(rate, -100.0, 100.0) * 40));
  }
}

}  // namespace
}  // namespace k2t::testing
