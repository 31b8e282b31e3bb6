// The host's simulated bus as the module reads it: whatever count the
// host's enumerate claims, only entries it wrote are taken.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <vector>

#include "link/sim_hid_bus.h"

namespace k2t {
namespace {

struct Claim {
  int present;  // devices really there
  int claimed;  // what enumerate returns
};

int Enumerate(void* context, K2tSimHidDevice* out, int max) {
  const auto* claim = static_cast<const Claim*>(context);
  for (int i = 0; i < claim->present && i < max; ++i) {
    std::snprintf(out[i].path, sizeof out[i].path, "/sim/%d", i);
    out[i].vendor_id = 0x04D8;
    out[i].product_id = 0xFCE8;
  }
  return claim->claimed;
}

TEST(SimHidBusTest, TakesOnlyTheEntriesTheHostWrote) {
  const struct {
    Claim claim;
    std::size_t expected;
  } cases[] = {
      {{3, 3}, 3},                 // as meant
      {{40, 40}, 40},              // more than the first call had room for
      {{3, -1}, 0},                // an error
      {{20, INT_MAX}, 16},         // a count no bus has: the first call's room only
      {{5000, 5000}, 16},          // beyond any real bus
  };
  for (const auto& c : cases) {
    Claim claim = c.claim;
    K2tSimHidBus host{};
    host.version = 1;
    host.context = &claim;
    host.enumerate = &Enumerate;
    SimHidBus bus(host);
    const auto found = bus.Enumerate();
    EXPECT_EQ(found.size(), c.expected) << "claimed " << c.claim.claimed;
    if (!found.empty()) {
      EXPECT_EQ(found.back().path, "/sim/" + std::to_string(found.size() - 1));
    }
  }
}

// The host's GUI thread is never held for the pendant: every read asks for
// what is waiting now (timeout 0), whatever the device has queued.
TEST(SimHidBusTest, ReadsNeverAskToWait) {
  struct Queue {
    int waiting = 2;
    std::vector<int> timeouts;
  } queue;
  K2tSimHidBus host{};
  host.version = 1;
  host.context = &queue;
  host.open = [](void*, const char*, int) { return 1; };
  host.close = [](void*, int) {};
  host.read = [](void* context, int, unsigned char* buf, int, int timeout_ms) {
    auto* q = static_cast<Queue*>(context);
    q->timeouts.push_back(timeout_ms);
    if (q->waiting == 0) return 0;
    --q->waiting;
    buf[0] = 0;
    return 8;
  };
  SimHidBus bus(host);
  auto device = bus.Open("/sim/0", HidAccess::kRead);
  ASSERT_NE(device, nullptr);
  InputReport report;
  for (int tick = 0; tick < 3; ++tick) {
    while (device->StartRead() == ReadStart::kCompleted) device->TakeReport(report);
  }
  EXPECT_EQ(queue.timeouts, std::vector<int>(5, 0));
}

}  // namespace
}  // namespace k2t
