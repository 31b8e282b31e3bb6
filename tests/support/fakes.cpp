#include "support/fakes.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

#include "common/text.h"

namespace k2t::testing {

std::string MakeTempDir(const std::string& prefix) {
  namespace fs = std::filesystem;
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path dir = fs::temp_directory_path() / (prefix + "-" + std::to_string(random()));
    std::error_code error;
    if (fs::create_directory(dir, error)) return dir.string();
  }
  ADD_FAILURE() << "no temporary folder";
  return {};
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

namespace {
std::string Number(double v) {
  char buf[64];
  const std::size_t n = FormatFixed(buf, sizeof buf, v, 0, 6, false);
  std::string s(buf, n);
  // Trailing zeros add nothing to a call log.
  if (s.find('.') != std::string::npos) {
    while (!s.empty() && s.back() == '0') s.pop_back();
    if (!s.empty() && s.back() == '.') s.pop_back();
  }
  return s;
}
}  // namespace

FakeHost::FakeHost()
    : motion_(K2T_MOTION_RECORD_SIZE), setup_(K2T_SETUP_RECORD_SIZE), planner_(K2T_PLANNER_RECORD_SIZE) {
  MakeCurrent();
  leds[83] = true;  // jog enabled
}

void FakeHost::Install(Host& host) {
  MakeCurrent();
  host.SetRecords(motion(), setup(), planner());
  const host_kit::CallbackThunks& thunks = host_kit::Thunks();
  host.callbacks() = {thunks.do_button, thunks.set_dro, thunks.get_dro, thunks.get_led, thunks.set_led, thunks.code};
}

std::vector<std::string> FakeHost::TakeCalls() {
  std::vector<std::string> out;
  out.swap(calls);
  reads.clear();
  return out;
}

void FakeHost::DoButton(short code) {
  calls.push_back("DoButton " + std::to_string(code));
  if (on_call) on_call(calls.back());
}
void FakeHost::SetDRO(int code, double value) {
  calls.push_back("SetDRO " + std::to_string(code) + " " + Number(value));
  dros[code] = value;
}
void FakeHost::SetLED(int code, bool on) {
  calls.push_back("SetLED " + std::to_string(code) + (on ? " on" : " off"));
}
void FakeHost::Code(std::string_view text) {
  calls.push_back("Code " + std::string(text));
  if (on_call) on_call(calls.back());
}
double FakeHost::GetDRO(int code) {
  reads.push_back("GetDRO " + std::to_string(code));
  auto it = dros.find(code);
  return it == dros.end() ? 0.0 : it->second;
}
bool FakeHost::GetLED(int code) {
  reads.push_back("GetLED " + std::to_string(code));
  auto it = leds.find(code);
  return it != leds.end() && it->second;
}

void FakeHost::SetMotionQueued(bool queued) {
  Put<std::int32_t>(motion_, K2T_MOTION_QUEUE_HEAD, queued ? 5 : 0);
  Put<std::int32_t>(motion_, K2T_MOTION_QUEUE_TAIL, 0);
}
void FakeHost::SetPlannerBusy(bool busy) { Put<std::int32_t>(planner_, K2T_PLANNER_BUSY, busy ? 1 : 0); }
void FakeHost::SetIncrementalMode(bool incremental) {
  Put<std::int32_t>(setup_, K2T_SETUP_INCREMENTAL_MODE, incremental ? 1 : 0);
}
void FakeHost::SetRotationAngle(double degrees) { Put(setup_, K2T_SETUP_ROTATION_ANGLE, degrees); }
void FakeHost::SetJogInhibit(bool inhibit) {
  Put<std::uint8_t>(motion_, K2T_MOTION_JOG_INHIBIT, inhibit ? 1 : 0);
}
void FakeHost::SetJogUnitFactor(double factor) { Put(planner_, K2T_PLANNER_JOG_UNIT_FACTOR, factor); }
void FakeHost::SetAxisMaxVelocity(int axis, double v) {
  Put(planner_, K2T_PLANNER_AXIS_MAX_VELOCITY + 8 * static_cast<std::size_t>(axis), v);
}
void FakeHost::SetAxisMaxVelocitySteps(int axis, std::int32_t steps) {
  Put(planner_, K2T_PLANNER_AXIS_MAX_VELOCITY_STEPS + 4 * static_cast<std::size_t>(axis), steps);
}
void FakeHost::SetAxisAccelerationSteps(int axis, std::int32_t steps) {
  Put(planner_, K2T_PLANNER_AXIS_ACCELERATION_STEPS + 4 * static_cast<std::size_t>(axis), steps);
}

AxisJogBlock FakeHost::JogBlock(int axis) const {
  const std::size_t base = K2T_MOTION_AXIS_JOG + K2T_MOTION_AXIS_JOG_STRIDE * static_cast<std::size_t>(axis);
  AxisJogBlock b;
  b.velocity = Get<std::int32_t>(motion_, base + K2T_AXIS_JOG_VELOCITY);
  b.max_velocity = Get<std::int32_t>(motion_, base + K2T_AXIS_JOG_MAX_VELOCITY);
  b.acceleration = Get<std::int32_t>(motion_, base + K2T_AXIS_JOG_ACCELERATION);
  b.stop = Get<std::uint8_t>(motion_, base + K2T_AXIS_JOG_STOP);
  b.active = Get<std::uint8_t>(motion_, base + K2T_AXIS_JOG_ACTIVE);
  b.direction = Get<std::int32_t>(motion_, base + K2T_AXIS_JOG_DIRECTION);
  return b;
}

std::string FakeHost::MessageText() const {
  const char* text = reinterpret_cast<const char*>(planner_.data() + K2T_PLANNER_MESSAGE_TEXT);
  return std::string(text, strnlen(text, 256));
}

namespace {

class FakeHandle final : public HidDevice {
 public:
  FakeHandle(std::shared_ptr<FakeDevice> device, HidAccess access)
      : device_(std::move(device)), access_(access) {
    ++device_->open_handles;
  }
  ~FakeHandle() override {
    --device_->open_handles;
    if (access_ == HidAccess::kRead) device_->reports.clear();
  }

  ReadStart StartRead() override {
    if (device_->fail_after_reads == 0) device_->gone = true;
    if (access_ != HidAccess::kRead || device_->gone) return ReadStart::kFailed;
    if (!have_) {
      ++device_->reads_started;
      if (!device_->reports.empty()) {
        report_ = device_->reports.front();
        device_->reports.pop_front();
        have_ = true;
        if (device_->fail_after_reads > 0) --device_->fail_after_reads;
      }
    }
    return have_ ? ReadStart::kCompleted : ReadStart::kPending;
  }
  void TakeReport(InputReport& report) override {
    std::memset(report, 0, sizeof report);
    std::memcpy(report, report_.data(), std::min(report_.size(), sizeof report));
    have_ = false;
  }
  void Write(const std::uint8_t* data, std::size_t size) override {
    if (access_ == HidAccess::kWrite) device_->written.emplace_back(data, data + size);
  }

 private:
  std::shared_ptr<FakeDevice> device_;
  HidAccess access_;
  std::vector<std::uint8_t> report_;
  bool have_ = false;
};

}  // namespace

std::vector<HidInterface> FakeHidBus::Enumerate() {
  std::vector<HidInterface> out;
  ++enumerations;
  for (const auto& d : *devices_) out.push_back({d->path, d->vendor_id, d->product_id});
  return out;
}

std::unique_ptr<HidDevice> FakeHidBus::Open(const std::string& path, HidAccess access) {
  static const char* kNames[] = {"attributes", "read", "write"};
  opens.push_back(std::string(kNames[static_cast<int>(access)]) + " " + path);
  for (const auto& d : *devices_) {
    if (d->path != path) continue;
    if (access == HidAccess::kAttributes && !d->attributes_readable) return nullptr;
    if (access == HidAccess::kRead && d->fail_read_open) return nullptr;
    if (access == HidAccess::kWrite && d->fail_write_open) return nullptr;
    return std::make_unique<FakeHandle>(d, access);
  }
  return nullptr;
}

void FakeWindowServices::StartTimer(unsigned timer_id, unsigned period_ms) {
  id = timer_id;
  period = period_ms;
  if (!started_) ++*timers_;
  started_ = true;
}

WindowPorts FakePlatform::CreateWindowPorts(DrovikWin&, void*) {
  auto b = std::make_unique<FakeHidBus>(&devices, &ports_forgotten);
  auto s = std::make_unique<FakeWindowServices>(&timers_running, &notices_registered, &ports_forgotten);
  bus = b.get();
  services = s.get();
  return {std::move(b), std::move(s)};
}

std::unique_ptr<XmlDocument> FakePlatform::CreateXmlDocument() { return NewTestDocument(); }

ReportBuilder& ReportBuilder::Bit0(std::uint32_t bit, bool on) {
  for (int i = 0; i < 4; ++i) {
    const auto mask = static_cast<std::uint8_t>(bit >> (8 * i));
    bytes[i] = static_cast<std::uint8_t>(on ? (bytes[i] | mask) : (bytes[i] & ~mask));
  }
  return *this;
}

ReportBuilder& ReportBuilder::Bit1(std::uint32_t bit, bool on) {
  for (int i = 0; i < 4; ++i) {
    const auto mask = static_cast<std::uint8_t>(bit >> (8 * i));
    bytes[4 + i] = static_cast<std::uint8_t>(on ? (bytes[4 + i] | mask) : (bytes[4 + i] & ~mask));
  }
  return *this;
}

PendantTest::PendantTest() { host_.Install(module_.host); }
PendantTest::~PendantTest() = default;

void PendantTest::Start(bool pendant_present) {
  if (pendant_present) {
    auto d = std::make_shared<FakeDevice>();
    d->path = "/dev/hidraw3";
    platform_.devices.push_back(d);
  }
  module_.InitControl(host_.motion(), host_.setup(), host_.planner(), nullptr);
  host_.Install(module_.host);
  module_.SetProName("");
  module_.PostInitControl();
  host_.TakeCalls();
}

void PendantTest::Tick(int n) {
  for (int i = 0; i < n; ++i) {
    if (!platform_.devices.empty()) pendant().reports.push_back(report_.Bytes());
    win().OnPollTick();
  }
}

void PendantTest::TickSilent(int n) {
  for (int i = 0; i < n; ++i) win().OnPollTick();
}

void PendantTest::Updates(int n) {
  for (int i = 0; i < n; ++i) module_.Update();
}

void PendantTest::Settle() {
  Tick(14);
  Updates(5);
  host_.TakeCalls();
}

const std::vector<std::uint8_t>& PendantTest::LastOutput() const {
  static const std::vector<std::uint8_t> kNone;
  const auto& d = *platform_.devices.front();
  return d.written.empty() ? kNone : d.written.back();
}

std::string PendantTest::Display() const {
  const auto& out = LastOutput();
  if (out.size() < 18) return {};
  return std::string(out.begin() + 2, out.begin() + 18);
}

}  // namespace k2t::testing
