// The worker against a fake LinuxCNC on a fake clock: what it sends, and
// when, while LinuxCNC is busy, slow or silent.
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "worker.h"

namespace k2tcnc {
namespace {

// LinuxCNC as the worker sees it. Commands of every client share one serial
// count; LinuxCNC takes them `echo_delay` after they are written, and the
// echo then shows the newest taken. A mode or state change shows in the
// status 50 ms later. The interpreter reads MDI lines until `mdi_until`; an
// increment jogs for 50 ms.
struct FakeLinuxCnc final : Controller {
  Status status;
  double now = 0;
  bool answers = true, mode_follows = true;
  double mdi_until = 0, echo_delay = 0, jog_until = 0;
  int counter = 100;
  Step::Kind refuses = Step::kDisplay;  // echoed with an error, and LinuxCNC's reason on the error channel
  std::deque<std::string> error_channel;
  std::vector<std::pair<double, std::function<void()>>> events;  // when, what happens
  std::vector<std::pair<std::string, double>> written;            // the wheel's overrides left out

  void Fire() {
    if (now >= mdi_until && status.interp == Interp::kReading) status.interp = Interp::kIdle;
    status.jogging = now < jog_until;
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
  // Another client (a GUI, halui, a script) writes a command.
  void Foreign() {
    ++counter;
    events.emplace_back(now + echo_delay, [this] { status.echo_serial = counter; });
  }
  bool Write(const Step& step, int& serial) override {
    serial = ++counter;
    if (step.kind != Step::kFeedScale) written.emplace_back(Describe(step), now);
    if (!answers) return true;
    const bool refused = step.kind == refuses;
    events.emplace_back(now + echo_delay, [this, refused] {
      status.echo_serial = counter;
      status.echo_error = refused;
      if (refused) error_channel.push_back("Unknown G code used");
    });
    auto later = [this](std::function<void()> f) { events.emplace_back(now + 0.05, std::move(f)); };
    if (step.kind == Step::kSetMode && mode_follows && !refused) later([this, m = step.mode] { status.mode = m; });
    if (step.kind == Step::kTeleop) later([this, on = step.on] { status.teleop = on; });
    if (step.kind == Step::kSetState) later([this, st = step.state] { status.state = st; });
    if (step.kind == Step::kJogIncr) jog_until = now + 0.05;
    if (step.kind == Step::kMdi && now < mdi_until) status.interp = Interp::kReading;
    return true;
  }
  bool ReadError(std::string& text) override {
    if (error_channel.empty()) return false;
    text = error_channel.front();
    error_channel.pop_front();
    return true;
  }
  double Now() override { return now; }
  void Sleep(double seconds) override {
    now += seconds;
    Fire();
  }
};

Intent I(Intent::Kind kind, int axis = 0, std::string text = {}, unsigned premise = 1) {
  return {kind, axis, 5, std::move(text), premise, 1};
}

Status On(TaskMode mode, bool teleop = false) {
  Status s;
  s.state = TaskState::kOn;
  s.mode = mode;
  s.teleop = teleop;
  s.homed = 0b111;
  s.file = "/cfg/part.ngc";
  return s;
}

struct Sent {
  std::string step;
  double by;         // written no later than this
  double after = 0;  // nor earlier than this
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
  std::vector<std::pair<double, std::function<void(FakeLinuxCnc&)>>> meanwhile{};  // other clients
};

// Runs a row's worker in rounds 5 ms apart, as its thread does, then ends it.
std::vector<std::pair<std::string, double>> RunRow(const Row& row, FakeLinuxCnc& lcnc, Worker& worker) {
  for (const auto& [t, intent] : row.pushes) lcnc.events.emplace_back(t, [&worker, i = intent] { worker.Push(i); });
  for (const auto& [t, what] : row.meanwhile) lcnc.events.emplace_back(t, [&lcnc, w = what] { w(lcnc); });
  EXPECT_TRUE(worker.Begin());
  while (lcnc.now < row.run) {
    worker.Cycle();
    lcnc.Sleep(0.005);
  }
  for (const Intent& i : row.at_finish) worker.Push(i);
  worker.RequestStop(1.0);
  worker.Finish();
  return lcnc.written;
}

void ExpectSent(const Row& row, const std::vector<std::pair<std::string, double>>& written) {
  std::vector<std::string> steps, expected;
  for (const auto& [step, t] : written) steps.push_back(step);
  for (const Sent& s : row.expected) expected.push_back(s.step);
  EXPECT_EQ(steps, expected);
  if (steps != expected) return;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_LE(written[i].second, row.expected[i].by) << expected[i];
    EXPECT_GE(written[i].second, row.expected[i].after) << expected[i];
  }
}

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
       1, {}, {{"mode AUTO", 0.31}, {"run", 0.4}, {"mode MDI", 1.1}}},
      {"spindle off does not wait behind a waiting cycle start",
       mdi_busy, 5, true, true, {{0, I(Intent::kCycleStart)}, {0.1, I(Intent::kSpindleOff)}},
       1, {}, {{"spindle off", 0.11}}},
      {"nor a jog stop behind an MDI line that waits for that jog to stop",
       On(TaskMode::kManual, true), 0, true, true,
       {{0, I(Intent::kJog)}, {0.1, I(Intent::kMdi, 0, "G0 X1")}, {0.2, I(Intent::kJogStop)}},
       1, {}, {{"jog X at 5.0000/s", 0.01}, {"jog stop X", 0.21}, {"mode MDI", 0.22}, {"MDI \"G0 X1\"", 0.3}, {"mode MANUAL", 1.3}}},
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
       0.2, {I(Intent::kJog, 1)}, {{"jog X at 5.0000/s", 0.01}, {"jog stop X", 0.3}}},
      // Serial numbers are NML's, shared by every client: an echo past the
      // bridge's own number has taken its command too.
      {"another client's command while the bridge waits for its echo holds nothing up",
       On(TaskMode::kMdi, true), 0, true, true, {{0, I(Intent::kJogIncr)}, {0.02, I(Intent::kJogIncr)}},
       1.5, {}, {{"mode MANUAL", 0.07}, {"increment X +5.0000 at 1.0000/s", 0.1}, {"increment X +5.0000 at 1.0000/s", 0.15},
                 {"mode MDI", 1.3, 1.0}},
       {{0, [](FakeLinuxCnc& f) { f.echo_delay = 0.01; }}, {0.003, [](FakeLinuxCnc& f) { f.Foreign(); }},
        {0.07, [](FakeLinuxCnc& f) { f.Foreign(); }}}},
      {"the user's mode comes back only once the MDI move is done",
       On(TaskMode::kManual), 2, true, true, {{0, I(Intent::kMdi, 0, "G0 X1")}},
       3, {}, {{"mode MDI", 0.01}, {"MDI \"G0 X1\"", 0.1}, {"mode MANUAL", 2.1, 2.0}}},
      {"a mode someone else chose stands",
       On(TaskMode::kMdi, true), 0, true, true, {{0, I(Intent::kJogIncr)}},
       2, {}, {{"mode MANUAL", 0.01}, {"increment X +5.0000 at 1.0000/s", 0.1}},
       {{0.5, [](FakeLinuxCnc& f) { f.status.mode = TaskMode::kAuto; }}}},
      // Unhomed: a jog of the axis' joint, in free mode, as a GUI sends it.
      {"unhomed, a jog goes to the axis' joint",
       [] {
         Status s = On(TaskMode::kManual, true);
         s.homed = 0b001;
         return s;
       }(),
       0, true, true, {{0, I(Intent::kJog, 1)}, {0.1, I(Intent::kJogStop, 1)}},
       0.5, {}, {{"teleop off", 0.01}, {"jog joint 1 at 5.0000/s", 0.1}, {"jog stop joint 1", 0.11}}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    FakeLinuxCnc lcnc;
    lcnc.status = row.start;
    lcnc.mdi_until = row.mdi_until;
    lcnc.answers = row.answers;
    lcnc.mode_follows = row.mode_follows;
    Worker worker(lcnc, Machine{}, nullptr);
    ExpectSent(row, RunRow(row, lcnc, worker));
  }
}

// What the worker says besides sending: LinuxCNC's reasons (only as the
// display, which alone may read the error channel), LinuxCNC's news, the
// increments LinuxCNC drops at a soft limit without a word, and with
// --verbose every command.
TEST(Worker, SaysWhatLinuxCncLeavesUnsaid) {
  struct Case {
    const char* name;
    Worker::Options options;
    Status start;
    std::vector<std::pair<double, Intent>> pushes;
    std::vector<std::pair<double, std::function<void(FakeLinuxCnc&)>>> meanwhile;
    std::vector<std::string> expected;  // the log, line by line
  };
  Status at_limit = On(TaskMode::kManual, true);
  at_limit.axis_min[0] = -10;
  at_limit.axis_max[0] = 10;
  at_limit.commanded[0] = 9.999;
  auto incr = [](double distance) {
    Intent i{Intent::kJogIncr, 0, distance, {}, 1};
    i.speed = 1;
    return i;
  };
  auto refuse_mdi = [](FakeLinuxCnc& f) { f.refuses = Step::kMdi; };
  const std::vector<Case> cases = {
      {"a refusal with LinuxCNC's reason",
       {false, true}, On(TaskMode::kMdi), {{0, I(Intent::kMdi, 0, "G5 X1")}}, {{0, refuse_mdi}},
       {"LinuxCNC refused the MDI \"G5 X1\": Unknown G code used"}},
      {"beside a GUI, the GUI reads the reason",
       {false, false}, On(TaskMode::kMdi), {{0, I(Intent::kMdi, 0, "G5 X1")}}, {{0, refuse_mdi}},
       {"LinuxCNC refused the MDI \"G5 X1\""}},
      {"LinuxCNC's own news",
       {false, true}, On(TaskMode::kMdi), {}, {{0.1, [](FakeLinuxCnc& f) { f.error_channel.push_back("Probe tripped"); }}},
       {"LinuxCNC: Probe tripped"}},
      {"an increment beyond a soft limit, once",
       {false, false}, at_limit, {{0, incr(0.0005)}, {0.01, incr(0.0005)}, {0.02, incr(0.0005)}, {0.03, incr(0.0005)}}, {},
       {"increment X +0.0005 at 1.0000/s would end at 10.0005, beyond the soft limit 10.0000: LinuxCNC drops it"}},
      {"every command with --verbose",
       {true, false}, On(TaskMode::kManual), {{0, I(Intent::kSpindleOff)}}, {},
       {"NML spindle off (serial 101)"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeLinuxCnc lcnc;
    lcnc.status = c.start;
    std::vector<std::string> log;
    Worker worker(lcnc, Machine{}, [&log](const std::string& s) { log.push_back(s); }, c.options);
    RunRow(Row{c.name, c.start, 0, true, true, c.pushes, 1, {}, {}, c.meanwhile}, lcnc, worker);
    EXPECT_EQ(log, c.expected);
  }
}

}  // namespace
}  // namespace k2tcnc
