// The worker against a fake LinuxCNC on a fake clock: what it sends, and
// when, while LinuxCNC is busy, slow or silent.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "worker.h"

namespace k2tcnc {
namespace {

std::string Text(const Step& s) {
  static constexpr const char* kModes[] = {"?", "MANUAL", "AUTO", "MDI"};
  static constexpr const char* kStates[] = {"?", "ESTOP", "ESTOP_RESET", "OFF", "ON"};
  const std::string axis(1, "XYZABC"[s.axis]);
  switch (s.kind) {
    case Step::kSetMode: return std::string("mode ") + kModes[static_cast<int>(s.mode)];
    case Step::kTeleop: return "teleop";
    case Step::kSetState: return std::string("state ") + kStates[static_cast<int>(s.state)];
    case Step::kJog: return "jog " + axis;
    case Step::kJogStop: return "stop " + axis;
    case Step::kMdi: return "MDI " + s.text;
    case Step::kOpen: return "open";
    case Step::kRun: return "run";
    case Step::kAbort: return "abort";
    case Step::kSpindleOff: return "spindle off";
    default: return "other";
  }
}

// LinuxCNC as the worker sees it: it echoes at once (when it answers) and
// its status shows a mode or state change 50 ms later. The interpreter reads
// MDI lines until `mdi_until`.
struct FakeLinuxCnc final : Controller {
  Status status;
  double now = 0;
  bool answers = true, mode_follows = true;
  double mdi_until = 0;
  std::vector<std::pair<double, std::function<void()>>> events;  // when, what happens
  std::vector<std::pair<std::string, double>> written;            // the wheel's overrides left out

  void Fire() {
    if (now >= mdi_until && status.interp == Interp::kReading) status.interp = Interp::kIdle;
    for (std::size_t i = 0; i < events.size();) {
      if (events[i].first > now) {
        ++i;
        continue;
      }
      auto what = std::move(events[i].second);
      events.erase(events.begin() + static_cast<std::ptrdiff_t>(i));
      what();
      i = 0;
    }
  }
  bool Read(Status& s) override {
    Fire();
    s = status;
    return true;
  }
  bool Write(const Step& step, int serial) override {
    if (step.kind != Step::kFeedScale) written.emplace_back(Text(step), now);
    if (!answers) return true;
    status.echo_serial = serial;
    auto later = [this](std::function<void()> f) { events.emplace_back(now + 0.05, std::move(f)); };
    if (step.kind == Step::kSetMode && mode_follows) later([this, m = step.mode] { status.mode = m; });
    if (step.kind == Step::kTeleop) later([this] { status.teleop = true; });
    if (step.kind == Step::kSetState) later([this, st = step.state] { status.state = st; });
    return true;
  }
  double Now() override { return now; }
  void Sleep(double seconds) override {
    now += seconds;
    Fire();
  }
};

Intent I(Intent::Kind kind, int axis = 0, std::string text = {}, unsigned premise = 1) {
  return {kind, axis, 5, std::move(text), premise};
}

Status On(TaskMode mode, bool teleop = false) {
  Status s;
  s.state = TaskState::kOn;
  s.mode = mode;
  s.teleop = teleop;
  s.file = "/cfg/part.ngc";
  return s;
}

struct Sent {
  std::string step;
  double by;  // written no later than this
};

struct Row {
  const char* name;
  Status start;
  double mdi_until;  // the interpreter reads MDI lines until then
  bool answers, mode_follows;
  std::vector<std::pair<double, Intent>> pushes;  // when the bridge pushes what
  double run;                                     // seconds the worker runs
  std::vector<Intent> at_finish;                  // pushed as the bridge ends, then the worker finishes
  std::vector<Sent> expected;
};

std::vector<std::pair<double, Intent>> FeedWheel(std::vector<std::pair<double, Intent>> pushes) {
  for (double t = 0.05; t < 3; t += 0.05) pushes.emplace_back(t, Intent{Intent::kFeedScale, 0, 1.1});
  return pushes;
}

TEST(Worker, SendsWhatStillMakesSenseAtOnce) {
  const Status estop_reset = [] {
    Status s;
    s.state = TaskState::kEStopReset;
    return s;
  }();
  const Status mdi_busy = [] {
    Status s = On(TaskMode::kMdi);
    s.interp = Interp::kReading;
    return s;
  }();
  const std::vector<Row> rows = {
      {"a jog asked for before machine on is dropped; its stop then sends nothing",
       estop_reset, 0, true, true,
       {{0, I(Intent::kMachineOn, 0, {}, 0)}, {0.01, I(Intent::kJog, 0, {}, 0)}, {1, I(Intent::kJogStop)}},
       2, {}, {{"state ON", 0.01}}},
      {"a stop overtakes the jog it stops",
       mdi_busy, 0.3, true, true,
       {{0, I(Intent::kJog)}, {0.1, I(Intent::kJogStop)}},
       1, {}, {}},
      {"a cycle start during a long MDI move is dropped, not run when the move ends",
       mdi_busy, 5, true, true, {{0, I(Intent::kCycleStart)}},
       6, {}, {}},
      {"so while the feed override wheel turns",
       mdi_busy, 2, true, true, FeedWheel({{0, I(Intent::kCycleStart)}}),
       3, {}, {}},
      {"a short wait is kept",
       mdi_busy, 0.3, true, true, {{0, I(Intent::kCycleStart)}},
       1, {}, {{"mode AUTO", 0.31}, {"run", 0.4}}},
      {"spindle off does not wait behind a waiting cycle start",
       mdi_busy, 5, true, true, {{0, I(Intent::kCycleStart)}, {0.1, I(Intent::kSpindleOff)}},
       1, {}, {{"spindle off", 0.11}}},
      {"nor a jog stop behind an MDI line that waits for that jog to stop",
       On(TaskMode::kManual, true), 0, true, true,
       {{0, I(Intent::kJog)}, {0.1, I(Intent::kMdi, 0, "G0 X1")}, {0.2, I(Intent::kJogStop)}},
       1, {}, {{"jog X", 0.01}, {"stop X", 0.21}, {"mode MDI", 0.22}, {"MDI G0 X1", 0.3}}},
      {"an E-stop does not wait for an echo that does not come",
       On(TaskMode::kManual), 0, false, true, {{0, I(Intent::kMdi, 0, "G0 X1")}, {0.1, I(Intent::kEStop)}},
       3, {}, {{"mode MDI", 0.01}, {"state ESTOP", 0.11}}},
      {"nor for a mode change LinuxCNC ignores",
       On(TaskMode::kManual), 0, true, false, {{0, I(Intent::kMdi, 0, "G0 X1")}, {0.1, I(Intent::kEStop)}},
       1, {}, {{"mode MDI", 0.01}, {"state ESTOP", 0.11}}},
      {"nor does a stop",
       On(TaskMode::kManual), 0, false, true, {{0, I(Intent::kMdi, 0, "G0 X1")}, {0.1, I(Intent::kAbort)}},
       3, {}, {{"mode MDI", 0.01}, {"abort", 0.11}}},
      {"on the way out no jog starts, and every jog sent is stopped",
       On(TaskMode::kManual, true), 0, true, true, {{0, I(Intent::kJog)}},
       0.2, {I(Intent::kJog, 1)}, {{"jog X", 0.01}, {"stop X", 0.3}}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    FakeLinuxCnc lcnc;
    lcnc.status = row.start;
    lcnc.mdi_until = row.mdi_until;
    lcnc.answers = row.answers;
    lcnc.mode_follows = row.mode_follows;
    Worker worker(lcnc, "", nullptr);
    for (const auto& [t, intent] : row.pushes) lcnc.events.emplace_back(t, [&worker, i = intent] { worker.Push(i); });
    ASSERT_TRUE(worker.Begin());
    while (lcnc.now < row.run) {  // the worker thread's rounds, 5 ms apart
      worker.Cycle();
      lcnc.Sleep(0.005);
    }
    for (const Intent& i : row.at_finish) worker.Push(i);
    worker.RequestStop(1.0);
    worker.Finish();
    std::vector<std::string> steps, expected;
    for (const auto& [step, t] : lcnc.written) steps.push_back(step);
    for (const Sent& s : row.expected) expected.push_back(s.step);
    EXPECT_EQ(steps, expected);
    if (steps != expected) continue;
    for (std::size_t i = 0; i < expected.size(); ++i)
      EXPECT_LE(lcnc.written[i].second, row.expected[i].by) << expected[i];
  }
}

}  // namespace
}  // namespace k2tcnc
