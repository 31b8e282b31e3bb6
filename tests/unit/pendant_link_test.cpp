// Finding the pendant, opening it, and following arrival and removal.
#include <gtest/gtest.h>

#include <algorithm>

#include "support/fakes.h"

namespace k2t::testing {
namespace {

class PendantLinkTest : public PendantTest {
 protected:
  std::shared_ptr<FakeDevice> AddDevice(const std::string& path, std::uint16_t vid = kPendantVendorId,
                                        std::uint16_t pid = kPendantProductId) {
    auto d = std::make_shared<FakeDevice>();
    d->path = path;
    d->vendor_id = vid;
    d->product_id = pid;
    platform_.devices.push_back(d);
    return d;
  }
  void Open() {
    module_.InitControl(host_.motion(), host_.setup(), host_.planner(), nullptr);
    host_.Install(module_.host);
    found_ = win().OpenPendant();
  }
  bool found_ = false;
};

TEST_F(PendantLinkTest, FirstMatchInEnumerationOrderWins) {
  auto other = AddDevice("/dev/hidraw0", 0x046D, 0xC52B);
  auto first = AddDevice("/dev/hidraw1");
  auto second = AddDevice("/dev/hidraw2");
  Open();
  EXPECT_TRUE(found_);
  EXPECT_TRUE(win().Connected);
  EXPECT_EQ(win().DevicePath, "/dev/hidraw1");
  EXPECT_EQ(first->open_handles, 3);  // probe, read, write
  EXPECT_EQ(other->open_handles, 0);  // its probe was closed
  EXPECT_EQ(second->open_handles, 0);
  EXPECT_TRUE(platform_.notices_registered);
  EXPECT_EQ(platform_.timers_running, 1);
  EXPECT_EQ(platform_.services->id, 1u);
  EXPECT_EQ(platform_.services->period, 25u);
  const std::vector<std::string> expected = {"attributes /dev/hidraw0", "attributes /dev/hidraw1",
                                             "read /dev/hidraw1", "write /dev/hidraw1"};
  EXPECT_EQ(platform_.bus->opens, expected);
}

TEST_F(PendantLinkTest, UnreadableAttributesDoNotMatch) {
  auto unreadable = AddDevice("/dev/hidraw0");
  unreadable->attributes_readable = false;
  AddDevice("/dev/hidraw1");
  Open();
  EXPECT_EQ(win().DevicePath, "/dev/hidraw1");
}

TEST_F(PendantLinkTest, NoPendantStillStartsTheTimer) {
  AddDevice("/dev/hidraw0", 0x1234, 0x5678);
  Open();
  EXPECT_FALSE(found_);
  EXPECT_FALSE(win().Connected);
  EXPECT_TRUE(platform_.notices_registered);  // so a pendant plugged in later is found
  EXPECT_EQ(platform_.timers_running, 1);
  // Ticks do only the counter work and call no host callback.
  win().OnPollTick();
  win().OnPollTick();
  EXPECT_EQ(module_.input.press[kInputEn].PressTicks, 2);
  EXPECT_EQ(module_.input.press[kInputF1].GapTicks, 2);
  EXPECT_EQ(win().ActivityCountdown, 158);
  EXPECT_TRUE(host_.calls.empty());
  EXPECT_TRUE(host_.reads.empty());
}

TEST_F(PendantLinkTest, FailedOpensLeaveHandlesInvalidWhileConnected) {
  const struct {
    bool fail_read, fail_write;
  } cases[] = {{true, false}, {false, true}, {true, true}};
  for (const auto& c : cases) {
    platform_.devices.clear();
    auto d = AddDevice("/dev/hidraw5");
    d->fail_read_open = c.fail_read;
    d->fail_write_open = c.fail_write;
    Open();
    EXPECT_TRUE(win().Connected);
    EXPECT_EQ(win().read_handle_valid(), !c.fail_read);
    EXPECT_EQ(win().write_handle_valid(), !c.fail_write);
    win().OnPollTick();  // skips what it cannot do, no crash
    EXPECT_EQ(d->written.size(), c.fail_write ? 0u : 1u);
  }
}

TEST_F(PendantLinkTest, NoticesReopenAndClose) {
  auto pendant = AddDevice("/dev/hidraw1");
  Open();
  // Another device's arrival keeps the handles of a pendant that still
  // answers at its path.
  const std::size_t opens = platform_.bus->opens.size();
  win().HandleDeviceChange(kDeviceArrival, "/dev/hidraw9");
  EXPECT_TRUE(win().Connected);
  EXPECT_EQ(pendant->open_handles, 3);
  EXPECT_EQ(platform_.bus->opens.size(), opens + 1);
  EXPECT_EQ(platform_.bus->opens.back(), "attributes /dev/hidraw1");
  // Another device's removal is ignored.
  EXPECT_TRUE(win().HandleDeviceChange(kDeviceRemoval, "/dev/hidraw9"));
  EXPECT_TRUE(win().Connected);
  EXPECT_EQ(pendant->open_handles, 3);
  // A removal naming the pendant in other letter case closes both handles.
  EXPECT_TRUE(win().HandleDeviceChange(kDeviceRemoval, "/DEV/HIDRAW1"));
  EXPECT_FALSE(win().Connected);
  EXPECT_FALSE(win().read_handle_valid());
  EXPECT_FALSE(win().write_handle_valid());
  EXPECT_EQ(pendant->open_handles, 1);  // the probe stays until the window goes
  // Re-insertion: the arrival re-opens the stored path.
  EXPECT_TRUE(win().HandleDeviceChange(kDeviceArrival, "/dev/hidraw1"));
  EXPECT_TRUE(win().Connected);
  EXPECT_EQ(pendant->open_handles, 3);
  // Any other event does nothing.
  EXPECT_TRUE(win().HandleDeviceChange(0x0007, "/dev/hidraw1"));
  EXPECT_EQ(pendant->open_handles, 3);
}

TEST_F(PendantLinkTest, StopPlugClosesEverythingAndEndsTheTimer) {
  auto pendant = AddDevice("/dev/hidraw1");
  Open();
  module_.StopPlug();
  EXPECT_EQ(pendant->open_handles, 0);
  EXPECT_EQ(platform_.timers_running, 0);
  EXPECT_EQ(module_.window(), nullptr);
  module_.StopPlug();
}

// A pendant interface that cannot be opened for reading (a second collection
// the system keeps for itself) is passed over; when none can be read, the
// first is still taken, connected without a read handle.
TEST_F(PendantLinkTest, UnreadableCollectionIsPassedOver) {
  const struct {
    bool first_readable, second_readable;
    const char* path;
    bool reads;
  } cases[] = {{false, true, "/dev/hidraw1", true},
               {true, true, "/dev/hidraw0", true},
               {false, false, "/dev/hidraw0", false}};
  for (const auto& c : cases) {
    platform_.devices.clear();
    AddDevice("/dev/hidraw0")->fail_read_open = !c.first_readable;
    AddDevice("/dev/hidraw1")->fail_read_open = !c.second_readable;
    Open();
    EXPECT_TRUE(win().Connected);
    EXPECT_EQ(win().DevicePath, c.path);
    EXPECT_EQ(win().read_handle_valid(), c.reads);
    EXPECT_EQ(platform_.devices[0]->open_handles + platform_.devices[1]->open_handles, c.reads ? 3 : 2);
  }
}

// Another device's arrival keeps a working pendant's handles, and with them
// what it queued: an E-stop pressed just before is still heard. A pendant
// whose reads failed, or that answers at a new path, is opened anew.
TEST_F(PendantLinkTest, ArrivalKeepsWhatAWorkingPendantQueued) {
  const struct {
    const char* name;
    bool reads_failed;  // the read handle failed before the arrival
    bool moved;         // the pendant now answers at another path
    bool reopened;
  } cases[] = {{"another device arrives", false, false, false},
               {"the pendant's reads had failed", true, false, true},
               {"the pendant moved to another node", false, true, true}};
  for (const auto& c : cases) {
    platform_.devices.clear();
    auto pendant = AddDevice("/dev/hidraw1");
    Open();
    host_.leds[800] = false;
    if (c.reads_failed) {
      pendant->gone = true;
      win().OnPollTick();
      pendant->gone = false;
      EXPECT_FALSE(win().read_handle_valid()) << c.name;
    }
    if (c.moved) pendant->path = "/dev/hidraw4";
    host_.TakeCalls();
    pendant->Send(ReportBuilder().EStop().Bytes());
    const std::size_t opens = platform_.bus->opens.size();
    win().HandleDeviceChange(kDeviceArrival, "/dev/hidraw9");
    const bool reopened = std::find(platform_.bus->opens.begin() + static_cast<long>(opens),
                                    platform_.bus->opens.end(),
                                    "read " + pendant->path) != platform_.bus->opens.end();
    EXPECT_EQ(reopened, c.reopened) << c.name;
    EXPECT_EQ(win().DevicePath, pendant->path) << c.name;
    EXPECT_TRUE(win().read_handle_valid()) << c.name;
    if (!c.reopened) {
      win().OnPollTick();
      const auto calls = host_.TakeCalls();
      EXPECT_NE(std::find(calls.begin(), calls.end(), "DoButton 1021"), calls.end()) << c.name;
    }
  }
}

// Notices can be lost: without one, the link finds the pendant again by
// searching the bus, every 40 ticks while it has no working read handle and
// every 200 while the pendant is absent; a working link never searches.
TEST_F(PendantLinkTest, SearchesTheBusWithoutNotices) {
  enum Loss { kNone, kReadFails, kReadOpenFails, kRemoved, kAbsentAtStart };
  const struct {
    const char* name;
    Loss loss;
    int found_after;  // ticks after the loss; 0: never searched
  } cases[] = {{"working link", kNone, 0},
               {"reads fail, then it answers", kReadFails, 40},
               {"connected without a read handle", kReadOpenFails, 40},
               {"removed, back without a notice", kRemoved, 200},
               {"absent at start, plugged in without a notice", kAbsentAtStart, 200}};
  for (const auto& c : cases) {
    platform_.devices.clear();
    auto pendant = AddDevice("/dev/hidraw1");
    pendant->fail_read_open = c.loss == kReadOpenFails;
    if (c.loss == kAbsentAtStart) platform_.devices.clear();
    Open();
    if (c.loss == kReadFails) {
      pendant->gone = true;
      win().OnPollTick();
      pendant->gone = false;
    }
    if (c.loss == kRemoved) win().HandleDeviceChange(kDeviceRemoval, "/dev/hidraw1");
    if (c.loss == kAbsentAtStart) platform_.devices.push_back(pendant);
    pendant->fail_read_open = false;
    const int enumerations = platform_.bus->enumerations;
    const int ticks = c.found_after ? c.found_after : 400;
    for (int i = 1; i < ticks; ++i) win().OnPollTick();
    EXPECT_EQ(platform_.bus->enumerations, enumerations) << c.name << ": searched early";
    win().OnPollTick();
    EXPECT_EQ(platform_.bus->enumerations, enumerations + (c.found_after ? 1 : 0)) << c.name;
    EXPECT_TRUE(win().Connected) << c.name;
    EXPECT_TRUE(win().read_handle_valid()) << c.name;
    pendant->Send(ReportBuilder().Counter(77).Bytes());
    win().OnPollTick();
    EXPECT_EQ(win().LastWheelCount, 77) << c.name;
  }
}

}  // namespace
}  // namespace k2t::testing
