// The real SetupAPI bus under Wine, which shows HID devices of its own
// (vendor 0x845E) and no pendant.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/windows/hid_bus.h"
#include "platform/windows/poll_window.h"
#include "support/fakes.h"

namespace k2t::windows_platform {
namespace {

struct OpenCall {
  std::string path;
  HidAccess access;
  bool opened;
};

// The real bus, with every open it is asked for written down.
class LoggingBus final : public HidBus {
 public:
  explicit LoggingBus(std::vector<OpenCall>* opens) : opens_(opens) {}
  std::vector<HidInterface> Enumerate() override { return bus_.Enumerate(); }
  std::unique_ptr<HidDevice> Open(const std::string& path, HidAccess access) override {
    std::unique_ptr<HidDevice> device = bus_.Open(path, access);
    opens_->push_back({path, access, device != nullptr});
    return device;
  }
  void ForgetHost() override {}

 private:
  SetupApiBus bus_;
  std::vector<OpenCall>* opens_;
};

class RealBusPlatform final : public Platform {
 public:
  WindowPorts CreateWindowPorts(DrovikWin& window, void*) override {
    return {std::make_unique<LoggingBus>(&opens), std::make_unique<HiddenWindow>(window, nullptr)};
  }
  std::unique_ptr<XmlDocument> CreateXmlDocument() override { return nullptr; }
  std::string ModuleFileName() override { return {}; }
  void RunConfigDialog(PendantSettings&) override {}
  std::vector<OpenCall> opens;
};

TEST(SetupApiBus, FindsWinesDevicesWithTheirIds) {
  const std::vector<HidInterface> devices = SetupApiBus().Enumerate();
  ASSERT_FALSE(devices.empty());
  for (const HidInterface& d : devices) {
    EXPECT_EQ(d.vendor_id, 0x845E) << d.path;
    EXPECT_EQ(d.path.rfind("\\\\?\\", 0), 0u) << d.path;
  }
  SetupApiBus bus;
  // Wine's mouse and keyboard have no output report: neither can be taken
  // for the pendant, whatever its ids.
  for (const HidInterface& d : devices) EXPECT_EQ(bus.Open(d.path, HidAccess::kAttributes), nullptr) << d.path;
  EXPECT_EQ(bus.Open("\\\\?\\hid#vid_04d8&pid_fce8#none", HidAccess::kAttributes), nullptr);
  // Letter case does not count; another path is another device.
  std::string upper = devices.front().path;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_TRUE(bus.SamePath(upper, devices.front().path));
  EXPECT_FALSE(bus.SamePath(devices.front().path + "x", devices.front().path));
}

TEST(SetupApiBus, TheModuleOpensNoneOfThemAndKeepsRunning) {
  testing::FakeHost host;
  RealBusPlatform platform;
  Module module(platform);
  host.Install(module.host);
  module.InitControl(host.motion(), host.setup(), host.planner(), nullptr);
  module.SetProName("");
  module.PostInitControl();
  DrovikWin& win = *module.window();
  EXPECT_FALSE(win.Connected);
  for (int i = 0; i < 5; ++i) win.OnPollTick();
  const std::string wine_device = SetupApiBus().Enumerate().front().path;
  win.HandleDeviceChange(kDeviceArrival, wine_device);
  win.HandleDeviceChange(kDeviceRemoval, wine_device);
  for (int i = 0; i < 5; ++i) win.OnPollTick();
  ASSERT_FALSE(platform.opens.empty());  // the probes
  for (const OpenCall& open : platform.opens) EXPECT_EQ(open.access, HidAccess::kAttributes) << open.path;
  module.StopPlug();
}

TEST(SetupApiBus, PendingReadIsCollectedLaterAndCancelledOnClose) {
  // Wine's mouse never reports here: a read of it stays pending.
  SetupApiBus bus;
  std::unique_ptr<HidDevice> reader = bus.Open(bus.Enumerate().front().path, HidAccess::kRead);
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(reader->StartRead(), ReadStart::kPending);
  EXPECT_EQ(reader->StartRead(), ReadStart::kPending);  // the same read, still outstanding
  reader.reset();  // cancels the read; its buffer stays with it until it ends
}

DWORD WINAPI CloseDevice(void* device) {
  static_cast<std::unique_ptr<HidDevice>*>(device)->reset();
  return 0;
}

// The library may be freed from a thread that did not start the read, under
// the loader lock: CancelIo cannot reach that read, and closing must not
// wait for it (the pendant may send nothing for hours).
TEST(SetupApiBus, ClosingOnAnotherThreadDoesNotWaitForTheRead) {
  SetupApiBus bus;
  std::unique_ptr<HidDevice> reader = bus.Open(bus.Enumerate().front().path, HidAccess::kRead);
  ASSERT_NE(reader, nullptr);
  ASSERT_EQ(reader->StartRead(), ReadStart::kPending);
  HANDLE closer = ::CreateThread(nullptr, 0, &CloseDevice, &reader, 0, nullptr);
  ASSERT_NE(closer, nullptr);
  EXPECT_EQ(::WaitForSingleObject(closer, 5000), WAIT_OBJECT_0) << "closing waits for the read";
  ::CloseHandle(closer);
}

TEST(SetupApiBus, OnlyReportsThatHoldThePendantsAreThePendants) {
  struct Case {
    ReportLengths lengths;
    bool fits;
  };
  for (const Case& c : {Case{{8, 21}, true}, Case{{65, 65}, true}, Case{{7, 21}, false}, Case{{8, 20}, false},
                        Case{{14, 0}, false}, Case{{0, 0}, false}})
    EXPECT_EQ(FitsPendant(c.lengths), c.fits) << c.lengths.input << " in, " << c.lengths.output << " out";
}

// HID writes must be exactly the device's output report long: the 21 bytes
// go out padded with zeros, and a report the device cannot hold is dropped.
TEST(SetupApiBus, ReportsAreWrittenAtTheDevicesOutputLength) {
  struct Case {
    std::size_t output_length;
    DWORD written;
  };
  for (const Case& c : {Case{32, 32}, Case{21, 21}, Case{16, 0}}) {
    const wchar_t* kPipe = L"\\\\.\\pipe\\k2t-output-length";
    HANDLE server = ::CreateNamedPipeW(kPipe, PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr);
    ASSERT_NE(server, INVALID_HANDLE_VALUE);
    HANDLE file = ::CreateFileW(kPipe, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    std::unique_ptr<HidDevice> writer = OpenReportWriter(file, c.output_length);
    ASSERT_NE(writer, nullptr);
    std::uint8_t report[kOutputReportSize];
    std::memset(report, 0xAB, sizeof report);
    writer->Write(report, sizeof report);
    DWORD available = 0;
    ASSERT_TRUE(::PeekNamedPipe(server, nullptr, 0, nullptr, &available, nullptr));
    EXPECT_EQ(available, c.written) << "output report of " << c.output_length;
    std::vector<std::uint8_t> received(available);
    DWORD n = 0;
    if (available) {
      ASSERT_TRUE(::ReadFile(server, received.data(), available, &n, nullptr));
    }
    for (std::size_t i = 0; i < n; ++i) EXPECT_EQ(received[i], i < sizeof report ? 0xAB : 0) << i;
    writer.reset();
    ::CloseHandle(server);
  }
}

// A device that stops taking output reports must not hold the tick: with a
// reader that takes nothing until the writes are done, a waiting write would
// never return. Reports that find the last one still outstanding are dropped;
// those that go out arrive whole.
TEST(SetupApiBus, WritesNeverWaitForTheDevice) {
  const wchar_t* kPipe = L"\\\\.\\pipe\\k2t-stalled-pendant";
  HANDLE server = ::CreateNamedPipeW(kPipe, PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED,
                                     PIPE_TYPE_BYTE | PIPE_WAIT, 1, 0, 0, 0, nullptr);
  ASSERT_NE(server, INVALID_HANDLE_VALUE);
  SetupApiBus bus;
  std::unique_ptr<HidDevice> writer = bus.Open("\\\\.\\pipe\\k2t-stalled-pendant", HidAccess::kWrite);
  ASSERT_NE(writer, nullptr);
  std::uint8_t report[kOutputReportSize] = {};
  constexpr int kWrites = 20000;  // far more than any pipe buffer holds
  for (int i = 0; i < kWrites; ++i) {
    report[1] = static_cast<std::uint8_t>(i);
    writer->Write(report, sizeof report);
  }
  std::vector<std::uint8_t> received;
  std::uint8_t chunk[4096];
  writer.reset();  // cancels what is outstanding
  DWORD n = 0;
  OVERLAPPED o{};
  o.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  while (::ReadFile(server, chunk, sizeof chunk, nullptr, &o) || ::GetLastError() == ERROR_IO_PENDING) {
    if (!::GetOverlappedResult(server, &o, &n, TRUE) || n == 0) break;
    received.insert(received.end(), chunk, chunk + n);
  }
  ::CloseHandle(o.hEvent);
  ::CloseHandle(server);
  EXPECT_LT(received.size(), kWrites * sizeof report);
  EXPECT_EQ(received.size() % sizeof report, 0u);
}

}  // namespace
}  // namespace k2t::windows_platform
