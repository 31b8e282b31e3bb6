// The hidraw bus' pure parts, and its enumeration on this machine.
#include <gtest/gtest.h>

#include "platform/linux/hid_bus.h"
#include "platform/linux/hidraw_framing.h"

#include <cstring>

namespace k2t::linux_platform {
namespace {

TEST(HidId, Parsing) {
  const struct {
    const char* text;
    bool ok;
    std::uint16_t vendor, product;
  } cases[] = {
      {"0003:000004D8:0000FCE8", true, 0x04D8, 0xFCE8},
      {"0003:000004d8:0000fce8", true, 0x04D8, 0xFCE8},
      {"0005:0000046D:0000C52B", true, 0x046D, 0xC52B},
      {"0003:000104D8:0000FCE8", false, 0, 0},  // vendor beyond 16 bits
      {"0003:04D8", false, 0, 0},
      {"0003:0000G4D8:0000FCE8", false, 0, 0},
      {"", false, 0, 0},
      {"0003::0000FCE8", false, 0, 0},
  };
  for (const auto& c : cases) {
    std::uint16_t v = 0, p = 0;
    EXPECT_EQ(ParseHidId(c.text, v, p), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(v, c.vendor) << c.text;
      EXPECT_EQ(p, c.product) << c.text;
    }
  }
}

TEST(HidrawFraming, ReportIdByteIsPrepended) {
  const std::uint8_t data[] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99};
  const struct {
    std::size_t size;
    std::uint8_t expected[8];
  } cases[] = {
      {7, {0, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77}},
      {9, {0, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77}},  // longer: cut
      {3, {0, 0x11, 0x22, 0x33, 0, 0, 0, 0}},              // shorter: zero-filled
      {0, {0, 0, 0, 0, 0, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    std::uint8_t report[8];
    std::memset(report, 0xEE, sizeof report);
    FrameInputReport(data, c.size, report);
    EXPECT_EQ(0, std::memcmp(report, c.expected, 8)) << c.size;
  }
}

TEST(HidrawBus, EnumerationRunsAndFindsNoPendantHere) {
  HidrawBus bus;
  const auto interfaces = bus.Enumerate();
  for (const auto& i : interfaces) {
    EXPECT_EQ(i.path.rfind("/dev/hidraw", 0), 0u) << i.path;
    EXPECT_FALSE(i.vendor_id == 0x04D8 && i.product_id == 0xFCE8) << "a pendant is attached";
  }
  EXPECT_EQ(bus.Open("/dev/hidraw-none", HidAccess::kAttributes), nullptr);
  EXPECT_EQ(bus.Open("/dev/hidraw-none", HidAccess::kRead), nullptr);
}

}  // namespace
}  // namespace k2t::linux_platform
