#include "platform/linux/hidraw_framing.h"

#include <cstring>

namespace k2t::linux_platform {

namespace {
bool ParseHexField(std::string_view text, std::uint32_t& value) {
  if (text.empty() || text.size() > 8) return false;
  value = 0;
  for (char c : text) {
    int digit;
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    else return false;
    value = value * 16u + static_cast<std::uint32_t>(digit);
  }
  return true;
}
}  // namespace

bool ParseHidId(std::string_view hid_id, std::uint16_t& vendor, std::uint16_t& product) {
  const std::size_t first = hid_id.find(':');
  if (first == std::string_view::npos) return false;
  const std::size_t second = hid_id.find(':', first + 1);
  if (second == std::string_view::npos) return false;
  std::uint32_t bus = 0, v = 0, p = 0;
  if (!ParseHexField(hid_id.substr(0, first), bus) ||
      !ParseHexField(hid_id.substr(first + 1, second - first - 1), v) ||
      !ParseHexField(hid_id.substr(second + 1), p) || v > 0xFFFF || p > 0xFFFF)
    return false;
  vendor = static_cast<std::uint16_t>(v);
  product = static_cast<std::uint16_t>(p);
  return true;
}

void FrameInputReport(const std::uint8_t* data, std::size_t size, std::uint8_t (&report)[8]) {
  std::memset(report, 0, sizeof report);
  const std::size_t n = size < sizeof report - 1 ? size : sizeof report - 1;
  if (n > 0) std::memcpy(report + 1, data, n);
}

}  // namespace k2t::linux_platform
