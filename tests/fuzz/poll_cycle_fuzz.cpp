// The fuzzer's bytes are a run of the poll cycle: input reports (several
// waiting at once), poll ticks, Update calls, arrival and removal notices,
// failing reads and opens, the host's answers (DROs, LEDs and every record
// field the module reads, NaN, infinities and huge values included) and any
// settings a profile could hold, and a host that runs its message loop inside
// a callback (a tick inside the tick, the pendant perhaps reporting just
// before). Checked after every step: no G-code text holds a non-finite
// number; no DOJOG after a removal until a fresh report; a jog block never
// asks for more than the axis' limit; a removal during a wheel jog ends it;
// after an E-stop taken inside a tick, the rest of that tick starts nothing.
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "support/fakes.h"

namespace {

using k2t::fuzz::Check;
using k2t::fuzz::FuzzInput;
using k2t::testing::FakeDevice;
using k2t::testing::FakeHost;
using k2t::testing::FakePlatform;

constexpr const char* kPendantPath = "/dev/hidraw3";
constexpr const char* kOtherPath = "/dev/hidraw5";
constexpr int kDros[] = {3, 22, 39, 46, 55, 74, 202, 800, 801, 802, 803, 804, 805, 816, 817, 818, 821, 828};
constexpr int kLeds[] = {11, 14, 15, 16, 57, 83, 163, 800, 804, 805, 806};

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool StartsMotion(const std::string& call) {
  if (call.rfind("Code ", 0) == 0) return call != "Code ENDJOG";
  if (call.rfind("DoButton ", 0) != 0) return false;
  const int code = std::atoi(call.c_str() + 9);
  return code != 1021 && code != 1001 && code != 1003 && code != 205 && !(code >= 334 && code <= 339);
}

bool Has(const std::vector<std::string>& calls, const char* call) {
  for (const auto& c : calls)
    if (c == call) return true;
  return false;
}

// One record field the module reads, set to the fuzzer's bytes.
void SetRecordField(FakeHost& host, FuzzInput& in) {
  const std::size_t axis = in.Below(6);
  switch (in.Below(11)) {
    case 0: host.Put(host.setup_, K2T_SETUP_INCREMENTAL_MODE, in.Raw<std::int32_t>()); break;
    case 1: host.Put(host.setup_, K2T_SETUP_ROTATION_ANGLE, in.Raw<double>()); break;
    case 2: host.Put(host.motion_, K2T_MOTION_QUEUE_HEAD, in.Raw<std::int32_t>()); break;
    case 3: host.Put(host.motion_, K2T_MOTION_QUEUE_TAIL, in.Raw<std::int32_t>()); break;
    case 4: host.Put(host.motion_, K2T_MOTION_JOG_INHIBIT, in.Raw<std::uint8_t>()); break;
    case 5: host.Put(host.planner_, K2T_PLANNER_AXIS_MAX_VELOCITY + 8 * axis, in.Raw<double>()); break;
    case 6: host.Put(host.planner_, K2T_PLANNER_QUEUE_HEAD + 4 * in.Below(2), in.Raw<std::int32_t>()); break;
    case 7: host.Put(host.planner_, K2T_PLANNER_AXIS_MAX_VELOCITY_STEPS + 4 * axis, in.Raw<std::int32_t>()); break;
    case 8: host.Put(host.planner_, K2T_PLANNER_AXIS_ACCELERATION_STEPS + 4 * axis, in.Raw<std::int32_t>()); break;
    case 9: host.Put(host.planner_, K2T_PLANNER_JOG_UNIT_FACTOR, in.Raw<double>()); break;
    default: host.Put(host.planner_, K2T_PLANNER_BUSY, in.Raw<std::int32_t>()); break;
  }
}

// One setting, as any profile could hold it.
void SetSetting(k2t::PendantSettings& settings, FuzzInput& in) {
  auto keys = k2t::BindSettingKeys(settings, 2);
  const k2t::SettingKey& key = keys[in.Below(static_cast<unsigned>(keys.size()))];
  switch (key.kind) {
    case k2t::KeyKind::kInt32: *static_cast<std::int32_t*>(key.field) = in.Raw<std::int32_t>(); break;
    case k2t::KeyKind::kInt16: *static_cast<std::int16_t*>(key.field) = in.Raw<std::int16_t>(); break;
    case k2t::KeyKind::kFlag: *static_cast<bool*>(key.field) = in.Flag(); break;
    case k2t::KeyKind::kText: *static_cast<std::string*>(key.field) = in.Text(); break;
  }
}

// Every jog block the module wrote stays within the axis' limit it read at
// the same time (which it copies into the block).
void CheckJogBlocks(const FakeHost& host) {
  for (int axis = 0; axis < 6; ++axis) {
    const k2t::AxisJogBlock block = host.JogBlock(axis);
    const long long magnitude = block.velocity < 0 ? -static_cast<long long>(block.velocity) : block.velocity;
    const long long bound = block.max_velocity < 0 ? -static_cast<long long>(block.max_velocity) : block.max_velocity;
    Check(magnitude <= bound, "jog block velocity " + std::to_string(block.velocity) + " beyond the limit " +
                                  std::to_string(block.max_velocity) + " of axis " + std::to_string(axis));
  }
}

// The host lives across runs (its records are 1.4 MB); each run starts it
// with every field the module reads or writes back at zero.
FakeHost& FreshHost() {
  static FakeHost host;
  const auto zero = [](std::vector<unsigned char>& record, std::size_t offset, std::size_t n) {
    std::memset(record.data() + offset, 0, n);
  };
  zero(host.setup_, K2T_SETUP_INCREMENTAL_MODE, 4);
  zero(host.setup_, K2T_SETUP_ROTATION_ANGLE, 8);
  zero(host.motion_, K2T_MOTION_QUEUE_HEAD, 8);
  zero(host.motion_, K2T_MOTION_AXIS_JOG, 6 * K2T_MOTION_AXIS_JOG_STRIDE);
  zero(host.motion_, K2T_MOTION_JOG_INHIBIT, 1);
  zero(host.planner_, K2T_PLANNER_AXIS_MAX_VELOCITY, 6 * 8);
  zero(host.planner_, K2T_PLANNER_QUEUE_HEAD, 8);
  zero(host.planner_, K2T_PLANNER_AXIS_MAX_VELOCITY_STEPS, 6 * 4);
  zero(host.planner_, K2T_PLANNER_AXIS_ACCELERATION_STEPS, 6 * 4);
  zero(host.planner_, K2T_PLANNER_JOG_UNIT_FACTOR, 8);
  zero(host.planner_, K2T_PLANNER_BUSY, 4);
  zero(host.planner_, K2T_PLANNER_MESSAGE_TEXT, 256);
  host.dros.clear();
  host.leds = {{83, true}};
  host.on_call = nullptr;
  host.TakeCalls();
  return host;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  FakeHost& host = FreshHost();
  FakePlatform platform;
  auto pendant = std::make_shared<FakeDevice>();
  pendant->path = kPendantPath;
  pendant->capacity = 64;
  auto other = std::make_shared<FakeDevice>();
  other->path = kOtherPath;
  other->vendor_id = 0x046D;
  platform.devices = {other, pendant};

  k2t::Module module(platform);
  module.InitControl(host.motion(), host.setup(), host.planner(), nullptr);
  host.Install(module.host);
  module.SetProName("");
  module.PostInitControl();
  k2t::DrovikWin& win = *module.window();

  bool awaiting_fresh = false;  // a removal happened and no report came since
  // The host runs its message loop inside its next callback: 0 no, 1 a tick
  // there, 2 the pendant reports first.
  unsigned pump = 0;
  std::vector<std::uint8_t> pump_report(8);
  long nested_estop_at = -1;  // index in the step's calls of a 1021 sent by a nested tick
  bool ticking = false;        // the step is a poll tick, so a tick the host runs is nested
  host.on_call = [&](const std::string&) {
    if (pump == 0) return;
    const unsigned what = pump;
    pump = 0;
    if (what == 2) pendant->Send(pump_report);
    const std::size_t before = host.calls.size();
    win.OnPollTick();
    for (std::size_t i = before; i < host.calls.size(); ++i)
      if (ticking && host.calls[i] == "DoButton 1021" && module.input.EStopSwitch && nested_estop_at < 0)
        nested_estop_at = static_cast<long>(i);
  };
  for (int step = 0; step < 4000 && !in.empty(); ++step) {
    host.TakeCalls();
    nested_estop_at = -1;
    bool wheel_jog_before = win.wheel.HostJogActive;
    bool fresh = false;
    bool removed = false;
    switch (in.Below(11)) {
      case 0: {  // the pendant sends reports
        const unsigned count = 1 + in.Below(4);
        for (unsigned i = 0; i < count; ++i) {
          std::vector<std::uint8_t> report(8);
          for (auto& b : report) b = in.Byte();
          pendant->Send(report);
        }
        break;
      }
      case 1:
      case 2: {  // a poll tick
        const std::size_t waiting = pendant->reports.size();
        ticking = true;
        win.OnPollTick();
        ticking = false;
        fresh = win.Connected && win.read_handle_valid() && pendant->reports.size() < waiting;
        break;
      }
      case 3: module.Update(); break;
      case 4: {  // a device comes or goes
        const bool is_pendant = in.Flag();
        auto& list = platform.devices;
        const auto device = is_pendant ? pendant : other;
        const bool arrival = in.Flag();
        if (arrival) {
          bool listed = false;
          for (const auto& d : list) listed = listed || d == device;
          if (!listed) list.push_back(device);
          device->gone = false;
        } else {
          std::erase(list, device);
          device->gone = true;
        }
        const bool was_connected = win.Connected;
        win.HandleDeviceChange(arrival ? k2t::kDeviceArrival : k2t::kDeviceRemoval, device->path);
        removed = was_connected && !win.Connected;
        break;
      }
      case 5: {  // failures of the pendant's handles
        const unsigned which = in.Below(4);
        if (which == 0) pendant->gone = in.Flag();
        if (which == 1) pendant->fail_read_open = in.Flag();
        if (which == 2) pendant->fail_write_open = in.Flag();
        if (which == 3) pendant->attributes_readable = in.Flag();
        break;
      }
      case 6: host.dros[kDros[in.Below(std::size(kDros))]] = in.Raw<double>(); break;
      case 7: host.leds[kLeds[in.Below(std::size(kLeds))]] = in.Flag(); break;
      case 8: SetRecordField(host, in); break;
      case 9:
        pump = in.Below(3);
        for (auto& b : pump_report) b = in.Byte();
        break;
      default: SetSetting(module.settings, in); break;
    }
    if (removed) awaiting_fresh = true;
    if (fresh && !win.StaleReport) awaiting_fresh = false;

    for (const auto& call : host.calls) {
      if (call.rfind("Code ", 0) != 0) continue;
      const std::string lower = Lower(call);
      Check(lower.find("nan") == std::string::npos && lower.find("inf") == std::string::npos,
            "non-finite number in " + call);
      Check(!(call == "Code DOJOG" && awaiting_fresh), "DOJOG after a removal before a fresh report");
    }
    if (nested_estop_at >= 0) {
      // Only stops may follow within the tick that the E-stop interrupted.
      for (std::size_t i = static_cast<std::size_t>(nested_estop_at) + 1; i < host.calls.size(); ++i)
        Check(!StartsMotion(host.calls[i]), host.calls[i] + " after an E-stop taken inside the tick");
    }
    if (removed && wheel_jog_before) {
      Check(Has(host.calls, "Code ENDJOG") && !win.wheel.HostJogActive, "a removal left the wheel jog running");
    }
    CheckJogBlocks(host);
  }
  module.StopPlug();
  return 0;
}
