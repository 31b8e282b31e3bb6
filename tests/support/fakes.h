// Fakes for driving the core as the pendant and the host would: a host with
// records, LEDs, DROs and one call log; a HID bus with scripted devices; and
// a fixture that reads like the pendant ("press EN, tick, look").
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host_callbacks.h"
#include "plugin/module.h"

namespace k2t::testing {

// The host's side: records as zeroed buffers of the full size, the six
// callbacks recorded in order. One host is current at a time (callbacks are
// plain C function pointers): the last made or installed.
class FakeHost final : public host_kit::HostCallbacks {
 public:
  FakeHost();

  void Install(Host& host);  // hands the callbacks over
  void* motion() { return motion_.data(); }
  void* setup() { return setup_.data(); }
  void* planner() { return planner_.data(); }

  // Effects in order: "DoButton 334", "SetDRO 821 100", "Code G90".
  std::vector<std::string> calls;
  // Reads in order: "GetLED 804", "GetDRO 22".
  std::vector<std::string> reads;
  std::map<int, bool> leds;
  std::map<int, double> dros;
  // Runs after each effect is logged: a host that does something of its own
  // inside a callback (runs its message loop, say).
  std::function<void(const std::string&)> on_call;

  std::vector<std::string> TakeCalls();

  // Record fields.
  template <class T>
  void Put(std::vector<unsigned char>& record, std::size_t offset, T value) {
    std::memcpy(record.data() + offset, &value, sizeof value);
  }
  template <class T>
  T Get(const std::vector<unsigned char>& record, std::size_t offset) const {
    T value{};
    std::memcpy(&value, record.data() + offset, sizeof value);
    return value;
  }
  void SetMotionQueued(bool queued);
  void SetPlannerBusy(bool busy);
  void SetIncrementalMode(bool incremental);
  void SetRotationAngle(double degrees);
  void SetJogInhibit(bool inhibit);
  void SetJogUnitFactor(double factor);
  void SetAxisMaxVelocity(int axis, double units_per_second);
  void SetAxisMaxVelocitySteps(int axis, std::int32_t steps);
  void SetAxisAccelerationSteps(int axis, std::int32_t steps);
  AxisJogBlock JogBlock(int axis) const;
  std::string MessageText() const;

  std::vector<unsigned char> motion_, setup_, planner_;

 private:
  // Effects, logged into `calls`.
  void DoButton(short code) override;
  void SetDRO(int code, double value) override;
  void SetLED(int code, bool on) override;
  void Code(std::string_view text) override;
  // Reads, logged into `reads` and answered from `dros` and `leds`.
  double GetDRO(int code) override;
  bool GetLED(int code) override;
};

struct FakeDevice {
  std::string path;
  std::uint16_t vendor_id = kPendantVendorId;
  std::uint16_t product_id = kPendantProductId;
  bool attributes_readable = true;
  bool fail_read_open = false;
  bool fail_write_open = false;
  bool gone = false;  // reads fail: unplugged before the removal notice
  int fail_after_reads = -1;  // >= 0: gone after this many more reports
  // Reports queued on the open read handle, oldest first; closing that
  // handle throws them away, as closing a device file does.
  std::deque<std::vector<std::uint8_t>> reports;
  // The device's queue bound; a report that finds it full is dropped, as
  // hidraw drops the newest (0: unbounded).
  std::size_t capacity = 0;
  void Send(const std::vector<std::uint8_t>& report) {
    if (capacity == 0 || reports.size() < capacity) reports.push_back(report);
  }
  std::vector<std::vector<std::uint8_t>> written;
  int open_handles = 0;
  int reads_started = 0;
};

class FakeHidBus final : public HidBus {
 public:
  FakeHidBus(std::vector<std::shared_ptr<FakeDevice>>* devices, int* forgotten)
      : devices_(devices), forgotten_(forgotten) {}
  std::vector<HidInterface> Enumerate() override;
  std::unique_ptr<HidDevice> Open(const std::string& path, HidAccess access) override;
  void ForgetHost() override { ++*forgotten_; }
  std::vector<std::string> opens;  // "read /dev/x", "write /dev/x", "attributes /dev/x"
  int enumerations = 0;

 private:
  std::vector<std::shared_ptr<FakeDevice>>* devices_;
  int* forgotten_;
};

class FakeWindowServices final : public WindowServices {
 public:
  FakeWindowServices(int* timers_running, bool* notices, int* forgotten)
      : timers_(timers_running), notices_(notices), forgotten_(forgotten) {}
  // Removing the timer is a call into the host's loop: not once it is gone.
  ~FakeWindowServices() override {
    if (started_ && !host_gone_) --*timers_;
  }
  void StartTimer(unsigned id, unsigned period_ms) override;
  void RegisterDeviceNotices() override { *notices_ = true; }
  void ForgetHost() override {
    host_gone_ = true;
    ++*forgotten_;
  }
  unsigned id = 0, period = 0;

 private:
  int* timers_;
  bool* notices_;
  int* forgotten_;
  bool started_ = false;
  bool host_gone_ = false;
};

// A new, empty folder under the system's temporary folder.
std::string MakeTempDir(const std::string& prefix);
// A file's bytes; empty when it cannot be read.
std::string ReadFileBytes(const std::string& path);

// The platform's own profile document, which the unit tests run over: expat
// splicing the file's bytes on Linux, MSXML on Windows.
std::unique_ptr<XmlDocument> NewTestDocument();

class FakePlatform final : public Platform {
 public:
  WindowPorts CreateWindowPorts(DrovikWin& window, void* host_window) override;
  std::unique_ptr<XmlDocument> CreateXmlDocument() override;
  std::string ModuleFileName() override { return module_file; }
  void RunConfigDialog(PendantSettings& settings) override {
    if (dialog) dialog(settings);
  }
  void ShowMessage(std::string_view message) override { messages.emplace_back(message); }

  std::vector<std::shared_ptr<FakeDevice>> devices;
  FakeHidBus* bus = nullptr;  // the last window's
  FakeWindowServices* services = nullptr;
  int timers_running = 0;
  bool notices_registered = false;
  int ports_forgotten = 0;  // ForgetHost calls on the bus and the services
  std::string module_file = "K2TPendant.so";
  std::function<void(PendantSettings&)> dialog;
  std::vector<std::string> messages;  // shown with ShowMessage
};

// One input report, built bit by bit.
struct ReportBuilder {
  std::uint8_t bytes[8] = {};
  ReportBuilder& Counter(int count) { bytes[1] = static_cast<std::uint8_t>(count); return *this; }
  ReportBuilder& Rate(int rate) { bytes[2] = static_cast<std::uint8_t>(rate); return *this; }
  ReportBuilder& Bit0(std::uint32_t bit, bool on);
  ReportBuilder& Bit1(std::uint32_t bit, bool on);
  ReportBuilder& EStop(bool on = true) { return Bit0(1u << 24, on); }
  ReportBuilder& Spindle(bool on = true) { return Bit0(1u << 25, on); }
  ReportBuilder& StartHold(bool on = true) { return Bit0(1u << 26, on); }
  ReportBuilder& StopRewind(bool on = true) { return Bit0(1u << 27, on); }
  ReportBuilder& En(bool on = true) { return Bit0(1u << 28, on); }
  ReportBuilder& X(bool on = true) { return Bit0(1u << 29, on); }
  ReportBuilder& Y(bool on = true) { return Bit0(1u << 30, on); }
  ReportBuilder& Z(bool on = true) { return Bit0(1u << 31, on); }
  ReportBuilder& Mode(int code) { bytes[4] = static_cast<std::uint8_t>((bytes[4] & ~0x7) | (code & 0x7)); return *this; }
  ReportBuilder& F1(bool on = true) { return Bit1(1u << 4, on); }
  ReportBuilder& F2(bool on = true) { return Bit1(1u << 5, on); }
  ReportBuilder& F3(bool on = true) { return Bit1(1u << 7, on); }
  std::vector<std::uint8_t> Bytes() const { return {bytes, bytes + 8}; }
};

// A module with a connected pendant on a fake bus and a fake host.
class PendantTest : public ::testing::Test {
 protected:
  PendantTest();
  ~PendantTest() override;

  // Starts the module as a host does; the pendant is present unless told.
  void Start(bool pendant_present = true);
  // The report the pendant sends from now on (each tick reads it again
  // while it stays unchanged: a held key).
  ReportBuilder& report() { return report_; }
  // One poll tick with the current report delivered fresh.
  void Tick(int n = 1);
  // Poll ticks with no report from the pendant.
  void TickSilent(int n = 1);
  void Updates(int n = 1);
  // Skips the start-up cycles: the first-cycle axis change and the early
  // double-press window, so a scenario starts from a settled pendant.
  void Settle();

  std::vector<std::string> Calls() { return host_.TakeCalls(); }
  std::string Display() const;
  const std::vector<std::uint8_t>& LastOutput() const;
  DrovikWin& win() { return *module_.window(); }
  FakeDevice& pendant() { return *platform_.devices.front(); }

  FakeHost host_;
  FakePlatform platform_;
  Module module_{platform_};
  ReportBuilder report_;
};

}  // namespace k2t::testing
