// The plug-in boundary: update-tick counters, the title, record offsets.
#include <gtest/gtest.h>

#ifdef __linux__
#endif
#include "support/fakes.h"

namespace k2t::testing {
namespace {

struct CounterCase {
  const char* name;
  int calls;
  std::int32_t UpdateCounters::*field;
  std::int32_t start;
  std::int32_t expected;
};

TEST(UpdateCounters, StepRules) {
  const CounterCase cases[] = {
      {"phase after one", 1, &UpdateCounters::UpdatePhase, 100, 99},
      {"phase reaches zero", 100, &UpdateCounters::UpdatePhase, 100, 0},
      {"phase reloads", 101, &UpdateCounters::UpdatePhase, 100, 24},
      {"phase cycles", 126, &UpdateCounters::UpdatePhase, 100, 24},
      {"wrapping at 1001", 901, &UpdateCounters::UpdateTicksA, 100, 1001},
      {"wrapping after 1001", 902, &UpdateCounters::UpdateTicksA, 100, 101},
      {"wrapping from zero", 3, &UpdateCounters::UpdateTicksB, 0, 3},
      {"down to zero stops", 5, &UpdateCounters::UpdateHoldoffA, 3, 0},
      {"down to zero steps", 2, &UpdateCounters::UpdateHoldoffB, 3, 1},
  };
  for (const auto& c : cases) {
    UpdateCounters counters;
    counters.*c.field = c.start;
    for (int i = 0; i < c.calls; ++i) counters.Step();
    EXPECT_EQ(counters.*c.field, c.expected) << c.name;
  }
}

TEST(UpdateCounters, SequenceCyclesTwoTo255) {
  UpdateCounters counters;
  EXPECT_EQ(counters.UpdateSequence, 1);
  counters.Step();
  EXPECT_EQ(counters.UpdateSequence, 2);
  for (int i = 1; i < 254; ++i) counters.Step();
  EXPECT_EQ(counters.UpdateSequence, 255);
  counters.Step();
  EXPECT_EQ(counters.UpdateSequence, 2);
}

TEST(UpdateCounters, UpdateBeforeInitControlOnlyStepsCounters) {
  FakePlatform platform;
  FakeHost host;
  Module module(platform);
  host.Install(module.host);
  module.Update();
  module.Update();
  EXPECT_EQ(module.counters.UpdateSequence, 3);
  EXPECT_EQ(module.counters.UpdatePhase, 98);
  EXPECT_TRUE(host.calls.empty());
  EXPECT_EQ(module.window(), nullptr);
  module.StopPlug();  // harmless without InitControl, and twice
  module.StopPlug();
}

TEST(Title, FileNameWithoutExtension) {
  const struct {
    const char* file;
    const char* title;
  } cases[] = {
      {"K2TPendant.so", "K2TPendant Pendant --Brennlow Ver 4.0.0"},
      {"my.pendant.v2.dll", "my.pendant.v2 Pendant --Brennlow Ver 4.0.0"},
      {"noext", "noext Pendant --Brennlow Ver 4.0.0"},
      {"", " Pendant --Brennlow Ver 4.0.0"},
  };
  for (const auto& c : cases) {
    FakePlatform platform;
    Module module(platform);
    platform.module_file = c.file;
    EXPECT_STREQ(module.SetProName(""), c.title) << c.file;
  }
}


TEST(Title, SecondCallRewritesTheSameStorage) {
  FakePlatform platform;
  Module module(platform);
  platform.module_file = "first.so";
  char* first = module.SetProName("");
  platform.module_file = "second.so";
  char* second = module.SetProName("");
  EXPECT_EQ(first, second);
  EXPECT_STREQ(first, "second Pendant --Brennlow Ver 4.0.0");
}

TEST(Title, VeryLongFileNameIsCutNotOverrun) {
  FakePlatform platform;
  Module module(platform);
  platform.module_file = std::string(10000, 'n') + ".so";
  const std::string title = module.SetProName("");
  EXPECT_LT(title.size(), 4200u);
  EXPECT_EQ(title.substr(title.size() - 29), kFixedTitle);
}

TEST(HostRecords, FieldsAtTheirOffsets) {
  FakeHost fake;
  Host host;
  fake.Install(host);
  fake.Put<std::int32_t>(fake.setup_, 0x4A8, 7);
  fake.Put<double>(fake.setup_, 0x20A28, 30.0);
  fake.Put<std::int32_t>(fake.motion_, 0x28000, 4);
  fake.Put<std::int32_t>(fake.motion_, 0x28004, 9);
  fake.Put<std::uint8_t>(fake.motion_, 0x289DF, 1);
  fake.Put<double>(fake.planner_, 0x8F4C8 + 8 * 5, 2.5);
  fake.Put<std::int32_t>(fake.planner_, 0xC355C, 1);
  fake.Put<std::int32_t>(fake.planner_, 0xC3560, 1);
  fake.Put<std::int32_t>(fake.planner_, 0xC3B48 + 4 * 2, 1234);
  fake.Put<std::int32_t>(fake.planner_, 0xC3B60 + 4 * 3, 567);
  fake.Put<double>(fake.planner_, 0xC3C50, 0.01);
  fake.Put<std::int32_t>(fake.planner_, 0xC3CB0, 0);
  EXPECT_EQ(host.IncrementalMode(), 7);
  EXPECT_EQ(host.RotationAngle(), 30.0);
  EXPECT_EQ(host.MotionQueueHead(), 4);
  EXPECT_EQ(host.MotionQueueTail(), 9);
  EXPECT_EQ(host.JogInhibit(), 1);
  EXPECT_EQ(host.AxisMaxVelocity(5), 2.5);
  EXPECT_EQ(host.AxisMaxVelocitySteps(2), 1234);
  EXPECT_EQ(host.AxisAccelerationSteps(3), 567);
  EXPECT_EQ(host.JogUnitFactor(), 0.01);
  EXPECT_FALSE(host.HostIdle());  // motion queued
  fake.Put<std::int32_t>(fake.motion_, 0x28004, 4);
  EXPECT_TRUE(host.HostIdle());
  fake.Put<std::int32_t>(fake.planner_, 0xC3CB0, 1);
  EXPECT_FALSE(host.HostIdle());
}

TEST(HostRecords, AxisJogBlockBytes) {
  FakeHost fake;
  Host host;
  fake.Install(host);
  AxisJogBlock block{-1000, 5000, 300, 0, 1, 1};
  host.WriteAxisJog(4, block);
  const std::size_t base = 0x28064 + 96 * 4;
  EXPECT_EQ(fake.Get<std::int32_t>(fake.motion_, base + 0), -1000);
  EXPECT_EQ(fake.Get<std::int32_t>(fake.motion_, base + 4), 5000);
  EXPECT_EQ(fake.Get<std::int32_t>(fake.motion_, base + 8), 300);
  EXPECT_EQ(fake.motion_[base + 14], 0);
  EXPECT_EQ(fake.motion_[base + 16], 1);
  EXPECT_EQ(fake.Get<std::int32_t>(fake.motion_, base + 20), 1);
  // Neighbouring blocks are untouched.
  EXPECT_EQ(fake.Get<std::int32_t>(fake.motion_, base - 96), 0);
  EXPECT_EQ(fake.Get<std::int32_t>(fake.motion_, base + 96), 0);
  host.SetAxisJogStop(4, 1);
  EXPECT_EQ(fake.motion_[base + 14], 1);
  host.SetAxisJogStop(6, 1);   // outside the six axes: nothing
  host.SetAxisJogStop(-1, 1);
  EXPECT_EQ(fake.motion_[base + 96 + 14], 0);
}

TEST(HostRecords, MessageLineIsTerminatedAndCut) {
  FakeHost fake;
  Host host;
  fake.Install(host);
  host.ShowHostMessage(" Jog OFF. ");
  EXPECT_EQ(fake.MessageText(), " Jog OFF. ");
  const std::string long_text(400, 'm');
  host.ShowHostMessage(long_text.c_str());
  EXPECT_EQ(fake.MessageText(), std::string(255, 'm'));
  EXPECT_EQ(fake.planner_[0x11BB0C + 255], 0);
}

TEST(HostRecords, MissingRecordsAndCallbacksAreHarmless) {
  Host host;  // nothing handed over
  EXPECT_EQ(host.GetDRO(3), 0.0);
  EXPECT_FALSE(host.GetLED(83));
  host.DoButton(1000);
  host.Code("G90");
  host.ShowHostMessage("x");
  host.WriteAxisJog(0, AxisJogBlock{});
  EXPECT_TRUE(host.HostIdle());
}

}  // namespace
}  // namespace k2t::testing

namespace k2t::testing {
namespace {

// StopPlug ends a jog the wheel started; a module destroyed without it
// (unloaded by a host that skipped StopPlug) calls nothing of the host's any
// more: no callbacks, and its loop is not asked to remove the timer.
TEST(ModuleLifetime, StopPlugEndsAJogButDestructionSendsNothing) {
  for (const bool stop_plug : {true, false}) {
    FakePlatform platform;
    FakeHost host;
    auto module = std::make_unique<Module>(platform);
    module->InitControl(host.motion(), host.setup(), host.planner(), nullptr);
    host.Install(module->host);
    module->SetProName("");
    module->PostInitControl();
    host.TakeCalls();
    module->window()->wheel.HostJogActive = true;
    module->window()->wheel.JogModeSwitched = true;
    if (stop_plug) module->StopPlug();
    module.reset();
    const std::vector<std::string> expected =
        stop_plug ? std::vector<std::string>{"Code ENDJOG", "DoButton 205"} : std::vector<std::string>{};
    EXPECT_EQ(host.calls, expected) << stop_plug;
    EXPECT_EQ(host.JogBlock(0).stop, stop_plug ? 1 : 0);
    EXPECT_EQ(platform.timers_running, stop_plug ? 0 : 1);
    EXPECT_EQ(platform.ports_forgotten, stop_plug ? 0 : 2);
  }
}

}  // namespace
}  // namespace k2t::testing
