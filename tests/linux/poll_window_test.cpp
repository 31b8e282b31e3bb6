// The hidden window's timer on the host's loop, and the ticks it gets while
// a modal loop of the module's own keeps the host's loop waiting.
#include <gtest/gtest.h>

#include "platform/linux/poll_window.h"
#include "support/fakes.h"

namespace k2t::testing {
namespace {

struct RecordingLoop {
  void (*fn)(void*) = nullptr;
  void* arg = nullptr;
  unsigned period = 0;
  int removed = 0;
  K2tHostLoop loop{this,
                   [](void* ctx, unsigned period, void (*fn)(void*), void* arg) -> unsigned {
                     auto* self = static_cast<RecordingLoop*>(ctx);
                     self->fn = fn;
                     self->arg = arg;
                     self->period = period;
                     return 7;
                   },
                   [](void* ctx, unsigned id) {
                     if (id == 7) ++static_cast<RecordingLoop*>(ctx)->removed;
                   },
                   nullptr, nullptr};
};

TEST(HostLoopWindow, TimerTicksAndModalTicksNeverDouble) {
  FakePlatform platform;
  Module module(platform);
  module.InitControl(nullptr, nullptr, nullptr, nullptr);
  DrovikWin& win = *module.window();
  RecordingLoop loop;
  {
    linux_platform::HostLoopWindow window(win, &loop.loop, nullptr);
    // Before the timer starts nothing polls.
    linux_platform::HostLoopWindow::PollWhileHostWaits();
    EXPECT_EQ(win.ActivityCountdown, 0);
    window.StartTimer(1, 25);
    ASSERT_NE(loop.fn, nullptr);
    EXPECT_EQ(loop.period, 25u);
    loop.fn(loop.arg);  // the host's tick
    EXPECT_EQ(win.ActivityCountdown, 159);
    // The host's loop is waiting: the modal loop's ticks poll.
    linux_platform::HostLoopWindow::PollWhileHostWaits();
    linux_platform::HostLoopWindow::PollWhileHostWaits();
    EXPECT_EQ(win.ActivityCountdown, 158);  // the first was covered by the host's tick
    linux_platform::HostLoopWindow::PollWhileHostWaits();
    EXPECT_EQ(win.ActivityCountdown, 157);
    // A host whose timer fires inside that loop keeps the ticks to itself.
    loop.fn(loop.arg);
    linux_platform::HostLoopWindow::PollWhileHostWaits();
    EXPECT_EQ(win.ActivityCountdown, 156);
  }
  EXPECT_EQ(loop.removed, 1);
  // With the window gone, nothing is polled.
  linux_platform::HostLoopWindow::PollWhileHostWaits();
  EXPECT_EQ(win.ActivityCountdown, 156);
}

}  // namespace
}  // namespace k2t::testing
