#include "test_host.h"

#include <algorithm>
#include <cstring>

namespace k2t::test_host {
namespace {

SimBus& Bus(void* context) {
  SimBus& bus = *static_cast<SimBus*>(context);
  ++bus.calls;
  return bus;
}

int Enumerate(void* context, K2tSimHidDevice* out, int max) {
  SimBus& bus = Bus(context);
  if (!bus.present) return 0;
  if (max > 0) {
    std::memset(&out[0], 0, sizeof out[0]);
    bus.path.copy(out[0].path, sizeof out[0].path - 1);
    out[0].vendor_id = 0x04D8;
    out[0].product_id = 0xFCE8;
  }
  return 1;
}

int Open(void* context, const char* path, int access) {
  SimBus& bus = Bus(context);
  if (!bus.present || path == nullptr || bus.path != path) return -1;
  bus.handles[bus.next_handle] = access;
  return bus.next_handle++;
}

void Close(void* context, int handle) { Bus(context).handles.erase(handle); }

int Read(void* context, int, unsigned char* buf, int size, int) {
  SimBus& bus = Bus(context);
  if (!bus.present) return -1;
  if (bus.reports.empty()) return 0;
  const std::vector<unsigned char> report = std::move(bus.reports.front());
  bus.reports.pop_front();
  const int n = std::min(size, static_cast<int>(report.size()));
  std::memcpy(buf, report.data(), static_cast<std::size_t>(n));
  return n;
}

int Write(void* context, int, const unsigned char* buf, int size) {
  Bus(context).written.emplace_back(buf, buf + size);
  return size;
}

void Subscribe(void* context, void (*notify)(void*, int, const char*), void* arg) {
  SimBus& bus = Bus(context);
  bus.notify = notify;
  bus.notify_arg = arg;
}

}  // namespace

K2tSimHidBus SimBus::Functions() { return {1, this, Enumerate, Open, Close, Read, Write, Subscribe}; }

void RecordingHost::DoButton(short code) { calls.push_back("DoButton " + std::to_string(code)); }

void RecordingHost::SetDRO(int code, double value) {
  dros[code] = value;
  calls.push_back("SetDRO " + std::to_string(code));
}

double RecordingHost::GetDRO(int code) {
  const auto it = dros.find(code);
  return it == dros.end() ? 0.0 : it->second;
}

bool RecordingHost::GetLED(int code) {
  const auto it = leds.find(code);
  return it != leds.end() && it->second;
}

void RecordingHost::SetLED(int, bool) { calls.push_back("SetLED"); }

void RecordingHost::Code(std::string_view text) { calls.push_back("Code " + std::string(text)); }

}  // namespace k2t::test_host
