// The link acts on what the pendant shows now: a pendant faster than the
// poll rate, a device node taken over by another device, a pendant plugged
// in after start-up.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "support/fakes.h"

namespace k2t::testing {
namespace {

bool Has(const std::vector<std::string>& calls, const std::string& call) {
  return std::find(calls.begin(), calls.end(), call) != calls.end();
}

// Distance of every step-jog text in the log ("G91G1 F60.0000 X 0.0030").
double StepDistance(const std::vector<std::string>& calls, int* moves) {
  double sum = 0.0;
  for (const auto& c : calls) {
    if (c.rfind("Code G91G1 F", 0) != 0) continue;
    sum += std::strtod(c.c_str() + c.rfind(' '), nullptr);
    ++*moves;
  }
  return sum;
}

// Reports per poll tick: 40/s, 125/s (3 or more), 1000/s.
class BacklogTest : public PendantTest, public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    Start();
    pendant().capacity = 64;  // as hidraw: a full queue drops the newest
    host_.SetJogUnitFactor(0.001);
    host_.SetAxisMaxVelocity(0, 2.0);
    host_.SetAxisMaxVelocitySteps(0, 4000);
    Settle();
  }
  // One poll tick after the pendant sent its reports for 25 ms, the wheel
  // `detents` further in each, then an Update every fourth tick.
  void TickAtRate(int detents) {
    for (int i = 0; i < GetParam(); ++i) {
      report().Counter((report().bytes[1] + detents) & 0xFF);
      pendant().Send(report().Bytes());
    }
    win().OnPollTick();
    if (++ticks_ % 4 == 0) Updates();
  }
  int ticks_ = 0;
};

TEST_P(BacklogTest, StepJogKeepsEveryDetentAndStopsWithTheWheel) {
  module_.behaviour.JogMode = 1;
  report().Rate(20);
  for (int i = 0; i < 80; ++i) TickAtRate(1);
  int moves = 0;
  const double distance = StepDistance(Calls(), &moves);
  EXPECT_NEAR(distance, 80 * GetParam() * 0.001, 1e-9);
  EXPECT_GE(moves, 70);
  // The wheel stops: the first tick after it sends nothing more.
  report().Rate(0);
  TickAtRate(0);
  moves = 0;
  StepDistance(Calls(), &moves);
  EXPECT_EQ(moves, 0);
}

TEST_P(BacklogTest, EStopIsActedOnInTheTickItIsSeen) {
  module_.behaviour.JogMode = 1;
  report().Rate(20);
  for (int i = 0; i < 80; ++i) TickAtRate(1);
  Calls();
  report().Rate(0).EStop();
  TickAtRate(0);
  EXPECT_TRUE(Has(Calls(), "DoButton 1021"));
  host_.leds[800] = true;
  TickAtRate(0);
  EXPECT_FALSE(Has(Calls(), "DoButton 1021"));
  // Released: one code at release, in that tick.
  report().EStop(false);
  TickAtRate(0);
  EXPECT_TRUE(Has(Calls(), "DoButton 1021"));
}

TEST_P(BacklogTest, VelocityJogFollowsTheNewestRateByte) {
  module_.behaviour.JogMode = 2;
  int rate = 10;
  for (int i = 0; i < 40; ++i) {
    for (int k = 0; k < GetParam(); ++k) {
      rate = rate % 200 + 7;
      report().Counter((report().bytes[1] + 1) & 0xFF).Rate(rate);
      pendant().Send(report().Bytes());
    }
    win().OnPollTick();
    ASSERT_EQ(static_cast<int>(WheelRateOf(win().ReportWord0)), rate);
  }
  EXPECT_TRUE(win().wheel.HostJogActive);
  // Stopped: the zero rate of the newest report ends the jog at once.
  report().Rate(0);
  TickAtRate(0);
  EXPECT_TRUE(Has(Calls(), "Code ENDJOG"));
}

INSTANTIATE_TEST_SUITE_P(Rates, BacklogTest, ::testing::Values(1, 3, 25));

constexpr std::uint16_t kKeyboardVendor = 0x046D, kKeyboardProduct = 0xC31C;

// The pendant at /dev/hidraw3 is pulled; the bus then shows `after`, and an
// arrival notice comes.
struct NodeCase {
  const char* name;
  std::vector<HidInterface> after;
  const char* connected_path;  // null: the link stays down
};

TEST(NodeReuse, ArrivalOpensOnlyThePendant) {
  const HidInterface keyboard3{"/dev/hidraw3", kKeyboardVendor, kKeyboardProduct};
  const HidInterface pendant3{"/dev/hidraw3", kPendantVendorId, kPendantProductId};
  const HidInterface pendant5{"/dev/hidraw5", kPendantVendorId, kPendantProductId};
  const NodeCase cases[] = {
      {"a keyboard on the pendant's old node", {keyboard3}, nullptr},
      {"the pendant back under a new node", {keyboard3, pendant5}, "/dev/hidraw5"},
      {"no pendant at all", {}, nullptr},
      {"the old node is the pendant again", {pendant3}, "/dev/hidraw3"},
  };
  for (const NodeCase& c : cases) {
    SCOPED_TRACE(c.name);
    FakeHost host;
    FakePlatform platform;
    Module module(platform);
    auto first = std::make_shared<FakeDevice>();
    first->path = "/dev/hidraw3";
    platform.devices.push_back(first);
    module.InitControl(host.motion(), host.setup(), host.planner(), nullptr);
    host.Install(module.host);
    module.SetProName("");
    module.PostInitControl();
    DrovikWin& win = *module.window();
    win.HandleDeviceChange(kDeviceRemoval, "/dev/hidraw3");

    platform.devices.clear();
    for (const HidInterface& i : c.after) {
      auto d = std::make_shared<FakeDevice>();
      d->path = i.path;
      d->vendor_id = i.vendor_id;
      d->product_id = i.product_id;
      // What a keyboard sends reads as E-stop and START/HOLD held.
      d->reports.push_back(ReportBuilder().EStop().StartHold().Bytes());
      platform.devices.push_back(d);
    }
    platform.bus->opens.clear();
    host.TakeCalls();
    win.HandleDeviceChange(kDeviceArrival, c.after.empty() ? "/dev/hidraw3" : c.after[0].path);
    win.OnPollTick();

    EXPECT_EQ(win.Connected, c.connected_path != nullptr);
    for (const auto& open : platform.bus->opens) {
      if (open.rfind("attributes ", 0) == 0) continue;
      ASSERT_NE(c.connected_path, nullptr) << open;
      EXPECT_EQ(open.substr(open.find(' ') + 1), c.connected_path);
    }
    for (const auto& d : platform.devices) {
      const bool is_pendant = d->vendor_id == kPendantVendorId;
      EXPECT_EQ(d->written.empty(), !is_pendant) << d->path;
      if (!is_pendant) {
        EXPECT_EQ(d->open_handles, 0) << d->path;
      }
    }
    if (c.connected_path == nullptr) {
      EXPECT_TRUE(host.calls.empty());
      continue;
    }
    EXPECT_EQ(win.DevicePath, c.connected_path);
    // Removals are matched against the path in use now.
    const bool moved = std::string(c.connected_path) != "/dev/hidraw3";
    win.HandleDeviceChange(kDeviceRemoval, "/dev/hidraw3");
    EXPECT_EQ(win.Connected, moved);
    win.HandleDeviceChange(kDeviceRemoval, c.connected_path);
    EXPECT_FALSE(win.Connected);
  }
}

TEST_F(PendantTest, PendantPluggedInAfterStartUpIsFound) {
  Start(false);
  EXPECT_FALSE(win().Connected);
  EXPECT_TRUE(platform_.notices_registered);
  auto d = std::make_shared<FakeDevice>();
  d->path = "/dev/hidraw4";
  platform_.devices.push_back(d);
  win().HandleDeviceChange(kDeviceArrival, "/dev/hidraw4");
  EXPECT_TRUE(win().Connected);
  EXPECT_EQ(win().DevicePath, "/dev/hidraw4");
  EXPECT_EQ(d->open_handles, 3);
  // Its counter stands wherever it stands: that is not a turn.
  module_.behaviour.JogMode = 1;
  Updates(5);
  report().Counter(77);
  Tick(2);
  EXPECT_EQ(win().LastWheelCount, 77);
  for (const auto& c : Calls()) EXPECT_EQ(c.rfind("Code G91", 0), std::string::npos) << c;
  EXPECT_EQ(d->written.size(), 2u);
}

}  // namespace
}  // namespace k2t::testing
