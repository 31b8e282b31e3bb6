#include "worker.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace k2tcnc {

namespace {

constexpr double kPollPeriod = 0.005;
// An error LinuxCNC reports this soon after a command is taken as its reason.
constexpr double kErrorWait = 0.1;
constexpr double kErrorClaim = 0.2;

const char* StepName(const Step& step) {
  switch (step.kind) {
    case Step::kSetMode: return "mode change";
    case Step::kTeleop: return "teleop change";
    case Step::kSetState: return "state change";
    case Step::kJog: return "jog";
    case Step::kJogIncr: return "increment";
    case Step::kJogStop: return "jog stop";
    case Step::kMdi: return "MDI";
    case Step::kOpen: return "program open";
    case Step::kRun: return "program run";
    case Step::kResume: return "resume";
    case Step::kPause: return "pause";
    case Step::kAbort: return "abort";
    case Step::kSpindleOn: return "spindle on";
    case Step::kSpindleOff: return "spindle off";
    case Step::kFeedScale: return "feed override";
    case Step::kSpindleScale: return "spindle override";
    case Step::kDisplay: return "operator message";
    case Step::kFlood: return "flood";
    case Step::kMist: return "mist";
    case Step::kHome: return "homing";
  }
  return "command";
}

bool ValidAxis(int axis) { return axis >= 0 && axis < kAxes; }

// NML's serial numbers count up for every client's commands (and wrap):
// LinuxCNC has taken ours once its echo has reached it.
bool Reached(int echo, int serial) {
  return static_cast<int>(static_cast<unsigned>(echo) - static_cast<unsigned>(serial)) >= 0;
}

}  // namespace

Worker::Worker(Controller& lcnc, Machine machine, Log log, Options options)
    : lcnc_(lcnc), machine_(std::move(machine)), log_(std::move(log)), options_(options) {}

// ---- the queue -----------------------------------------------------------------

unsigned Worker::CancelsOf(const Intent& intent) const {
  if ((intent.kind == Intent::kJog || intent.kind == Intent::kJogIncr) && ValidAxis(intent.axis))
    return jog_stops_[static_cast<std::size_t>(intent.axis)];
  if (intent.kind == Intent::kSpindleOn) return spindle_offs_;
  return 0;
}

void Worker::Push(Intent intent) {
  const double now = lcnc_.Now();
  {
    std::lock_guard lock(mu_);
    // What stops something also cancels what would start it and has not gone out yet.
    switch (intent.kind) {
      case Intent::kEStop:
      case Intent::kAbort:
        ++clears_;
        queue_.clear();
        break;
      case Intent::kJogStop:
        if (ValidAxis(intent.axis)) ++jog_stops_[static_cast<std::size_t>(intent.axis)];
        break;
      case Intent::kSpindleOff: ++spindle_offs_; break;
      default: break;
    }
    Entry entry{std::move(intent), now, clears_, 0};
    entry.cancels = CancelsOf(entry.intent);
    const Intent::Kind kind = entry.intent.kind;
    auto pending = [&](std::deque<Entry>& lane) -> Entry* {
      return !lane.empty() && lane.back().intent.kind == kind && lane.back().intent.axis == entry.intent.axis
                 ? &lane.back()
                 : nullptr;
    };
    if (kind == Intent::kEStop) {
      immediate_.push_front(std::move(entry));
    } else if (Immediate(kind)) {
      Entry* last = pending(immediate_);
      if (kind == Intent::kJogStop) {
        // Every mode change of the pendant sends every axis' stop: one waiting is enough.
        if (std::none_of(immediate_.begin(), immediate_.end(), [&](const Entry& e) {
              return e.intent.kind == Intent::kJogStop && e.intent.axis == entry.intent.axis;
            }))
          immediate_.push_back(std::move(entry));
      } else if (last && (kind == Intent::kFeedScale || kind == Intent::kSpindleScale)) {
        *last = std::move(entry);  // a wheel that turns an override sends a value every tick: the newest counts
      } else {
        immediate_.push_back(std::move(entry));
      }
    } else if (Entry* last = kind == Intent::kJog ? pending(queue_) : nullptr) {
      // A jog not yet sent takes the newest speed; it keeps its place and its age.
      const double since = last->since;
      *last = std::move(entry);
      last->since = since;
    } else {
      queue_.push_back(std::move(entry));  // every increment counts: each is a detent
    }
  }
  cv_.notify_all();
}

Status Worker::Snapshot() const {
  std::lock_guard lock(mu_);
  return snapshot_;
}

bool Worker::StaleNow(const Entry& entry) const {
  std::lock_guard lock(mu_);
  return Stale(entry);
}

bool Worker::Interrupted() const {
  std::lock_guard lock(mu_);
  for (const Entry& e : immediate_)
    if (e.intent.kind == Intent::kEStop || e.intent.kind == Intent::kAbort) return true;
  return false;
}

// ---- the rounds ----------------------------------------------------------------

bool Worker::Begin() { return Poll(); }

void Worker::Run() {
  while (true) {
    {
      std::unique_lock lock(mu_);
      cv_.wait_for(lock, std::chrono::duration<double>(kPollPeriod), [this] {
        return stopping_ || !immediate_.empty() || (!queue_.empty() && !front_deferred_);
      });
      if (stopping_) break;
    }
    if (!Cycle()) break;
  }
  Finish();
}

void Worker::RequestStop(double drain_seconds) {
  {
    std::lock_guard lock(mu_);
    stopping_ = true;
    drain_deadline_ = lcnc_.Now() + drain_seconds;
  }
  cv_.notify_all();
}

void Worker::Finish() {
  double deadline = 0;
  {
    std::lock_guard lock(mu_);
    deadline = drain_deadline_;
    // No jog starts on the way out.
    std::erase_if(queue_, [](const Entry& e) {
      return e.intent.kind == Intent::kJog || e.intent.kind == Intent::kJogIncr;
    });
  }
  if (!gone_) {
    auto more = [this] {
      std::lock_guard lock(mu_);
      return !immediate_.empty() || !queue_.empty();
    };
    while (more() && lcnc_.Now() < deadline) {
      if (!Cycle()) break;
      lcnc_.Sleep(kPollPeriod);  // what waits is asked again, as in the rounds
    }
  }
  StopOwnJogs();
  while (!gone_ && user_mode_ && lcnc_.Now() < deadline && Poll() && !RestoreMode(false)) lcnc_.Sleep(kPollPeriod);
  LogOldErrors();
}

bool Worker::Cycle() {
  if (!Poll()) return false;
  LogOldErrors();
  Entry entry{Intent{Intent::kDisplay}};
  bool immediate = false;
  {
    std::unique_lock lock(mu_);
    if (!immediate_.empty()) {
      entry = std::move(immediate_.front());
      immediate_.pop_front();
      immediate = true;
    } else if (!queue_.empty()) {
      entry = std::move(queue_.front());
      queue_.pop_front();
      front_deferred_ = false;
      if (Stale(entry)) return true;
    } else {
      lock.unlock();
      RestoreMode(true);
      return !gone_;
    }
  }
  last_activity_ = lcnc_.Now();
  const Intent& intent = entry.intent;
  const Plan plan = PlanIntent(intent, status_, machine_, own_);
  if (plan.outcome == Plan::kWait && !immediate) {
    if (lcnc_.Now() - entry.since < kDeferLimit) {
      std::lock_guard lock(mu_);
      if (!Stale(entry)) {
        queue_.push_front(std::move(entry));
        front_deferred_ = true;
      }
      return true;
    }
    Refused(intent, "LinuxCNC stayed busy for half a second (" + plan.reason + ")");
    return true;
  }
  if (plan.outcome != Plan::kSend) {
    Refused(intent, plan.reason);
    return true;
  }
  last_refusal_.clear();
  for (const Step& step : plan.steps) {
    // An E-stop or a stop overtakes the rest; so does a stop of this jog.
    if (!immediate && (Interrupted() || StaleNow(entry))) break;
    if (step.kind == Step::kJogIncr) CheckSoftLimit(intent, step);
    if (!SendStep(step)) break;
  }
  return !gone_;
}

void Worker::Refused(const Intent& intent, const std::string& reason) {
  // Said once per reason: the wheel asks again on every tick.
  const std::string key = std::string(IntentName(intent.kind)) + reason;
  if (key == last_refusal_) return;
  last_refusal_ = key;
  if (log_) log_(Describe(intent) + " not sent: " + reason);
}

// LinuxCNC drops an increment that would end beyond a soft limit, and says
// nothing: the bridge says it. Increments add up on LinuxCNC's side (each
// goes from where the last one will end), and so they do here.
void Worker::CheckSoftLimit(const Intent& intent, const Step& step) {
  if (!ValidAxis(intent.axis)) return;
  const auto a = static_cast<std::size_t>(intent.axis);
  // Joints have soft limits once homed; axes always.
  if (step.joint && !(status_.homed & (1u << step.axis))) return;
  const double low = step.joint ? status_.joint_min[a] : status_.axis_min[a];
  const double high = step.joint ? status_.joint_max[a] : status_.axis_max[a];
  const double position = step.joint ? status_.joint_pos[a] : status_.commanded[a];
  const double now = lcnc_.Now();
  const double target = (now < goal_until_[a] ? goal_[a] : position) + step.value;
  constexpr double kSlack = 1e-9;
  if (target > high + kSlack || target < low - kSlack) {
    if (!beyond_said_[a] && log_)
      log_(Describe(step) + " would end at " + GcodeNumber(target) + ", beyond the soft limit " +
           GcodeNumber(target > high ? high : low) + ": LinuxCNC drops it");
    beyond_said_[a] = true;
    return;
  }
  beyond_said_[a] = false;
  goal_[a] = target;
  goal_until_[a] = now + std::abs(step.value) / std::max(step.speed, 1e-6) + 0.3;
}

// Puts the task back in the mode the user had before the pendant's action,
// once that action has finished. True when nothing is left to put back.
bool Worker::RestoreMode(bool quiet_needed) {
  if (!user_mode_) return true;
  // Someone else changed the mode since, or the machine went off: theirs stands.
  if (status_.mode != bridge_mode_ || status_.state != TaskState::kOn || *user_mode_ == status_.mode) {
    user_mode_.reset();
    return true;
  }
  if (quiet_needed && lcnc_.Now() - last_activity_ < kRestoreQuiet) return false;
  const bool done = status_.interp == Interp::kIdle && status_.queued_mdi == 0 && status_.motion_queue == 0 &&
                    !status_.jogging && own_.sent == 0;
  if (!done) return false;
  Step step{Step::kSetMode, *user_mode_};
  user_mode_.reset();
  SendStep(step, true);
  return true;
}

// ---- LinuxCNC ------------------------------------------------------------------

bool Worker::Poll() {
  if (!lcnc_.Read(status_)) {
    gone_ = true;
    return false;
  }
  if (options_.read_errors) {
    for (std::string text; lcnc_.ReadError(text);) errors_.push_back({text, lcnc_.Now()});
  }
  if (status_.state == TaskState::kOn && last_state_ != TaskState::kOn) ++on_epoch_;
  last_state_ = status_.state;
  status_.on_epoch = on_epoch_;
  if (status_.state != TaskState::kOn) own_ = {};  // leaving ON ends every jog
  std::lock_guard lock(mu_);
  snapshot_ = status_;
  return true;
}

// The errors LinuxCNC reported, waiting up to `wait` for one to come.
std::string Worker::TakeErrors(double wait) {
  if (!options_.read_errors) return {};
  const double deadline = lcnc_.Now() + wait;
  while (errors_.empty() && lcnc_.Now() < deadline && Poll()) lcnc_.Sleep(0.002);
  std::string text;
  for (const Error& e : errors_) text += (text.empty() ? "" : "; ") + e.text;
  errors_.clear();
  return text;
}

// What no refusal of the bridge's claimed is LinuxCNC's own news: as the
// display, the bridge is the only one who can show it.
void Worker::LogOldErrors() {
  const double now = lcnc_.Now();
  while (!errors_.empty() && now - errors_.front().since >= kErrorClaim) {
    if (log_) log_("LinuxCNC: " + errors_.front().text);
    errors_.pop_front();
  }
}

// The axes a jog or jog stop is for, a bit each: its axis, or every axis on
// its joint (a joint jog's stop is asked for by axis).
unsigned Worker::AxesOf(const Step& step) const {
  unsigned axes = 0;
  for (int a = 0; a < kAxes; ++a) {
    const bool same = step.joint ? machine_.joint_of_axis[static_cast<std::size_t>(a)] == step.axis : a == step.axis;
    if (same) axes |= 1u << a;
  }
  return axes;
}

bool Worker::SendStep(const Step& step, bool restore) {
  const TaskMode mode_before = status_.mode;
  int serial = 0;
  if (!lcnc_.Write(step, serial)) {
    if (log_) log_(std::string("LinuxCNC's command channel did not take the ") + StepName(step));
    return false;
  }
  if (options_.verbose && log_) log_("NML " + Describe(step) + " (serial " + std::to_string(serial) + ")");
  // What went out, whatever LinuxCNC answers: a jog written may run.
  if (ValidAxis(step.axis) && step.kind == Step::kJog) {
    const unsigned axes = AxesOf(step);
    own_.sent |= axes;
    own_.joint = step.joint ? own_.joint | axes : own_.joint & ~axes;
  }
  if (step.kind == Step::kJogStop) own_.sent &= ~AxesOf(step);
  if (step.kind == Step::kAbort || (step.kind == Step::kSetState && step.state == TaskState::kEStop)) own_ = {};
  if (step.kind == Step::kSetMode && !restore) {
    if (!user_mode_) user_mode_ = mode_before;
    bridge_mode_ = step.mode;
  }

  // LinuxCNC echoes the serial number once task has taken the command. The
  // command stays sent when an E-stop or a stop cuts the wait short.
  const double deadline = lcnc_.Now() + kEchoTimeout;
  while (true) {
    if (!Poll()) return false;
    if (Reached(status_.echo_serial, serial)) {
      // The echo's status belongs to the last command taken: ours only when
      // no other client's came after it.
      if (status_.echo_serial == serial && status_.echo_error) {
        const std::string why = TakeErrors(kErrorWait);
        if (log_)
          log_(std::string("LinuxCNC refused the ") + StepName(step) + (step.text.empty() ? "" : " \"" + step.text + "\"") +
               (why.empty() ? "" : ": " + why));
        return false;
      }
      break;
    }
    if (Interrupted()) return false;
    if (lcnc_.Now() >= deadline) {
      if (log_) log_(std::string("LinuxCNC did not answer the ") + StepName(step) + " within 2 s");
      return false;
    }
    lcnc_.Sleep(0.001);
  }
  // The next command relies on the new mode or state being in force.
  auto settled = [&] {
    switch (step.kind) {
      case Step::kSetMode: return status_.mode == step.mode;
      case Step::kTeleop: return status_.teleop == step.on;
      case Step::kSetState: return status_.state == step.state;
      default: return true;
    }
  };
  const double settle_deadline = lcnc_.Now() + kSettleTimeout;
  while (!settled()) {
    if (Interrupted()) return false;
    if (lcnc_.Now() >= settle_deadline) {
      const std::string why = TakeErrors(0);
      if (log_)
        log_(std::string("LinuxCNC took the ") + StepName(step) + " but its status did not follow" +
             (why.empty() ? "" : ": " + why));
      return false;
    }
    lcnc_.Sleep(0.002);
    if (!Poll()) return false;
  }
  return true;
}

void Worker::StopOwnJogs() {
  for (int axis = 0; axis < kAxes; ++axis) {
    const unsigned bit = 1u << axis;
    if (!(own_.sent & bit)) continue;
    Step stop{Step::kJogStop};
    stop.joint = (own_.joint & bit) != 0;
    stop.axis = stop.joint ? machine_.joint_of_axis[static_cast<std::size_t>(axis)] : axis;
    // LinuxCNC gone: write the stop anyway, in case motion still reads it.
    int serial = 0;
    if (gone_) lcnc_.Write(stop, serial);
    else SendStep(stop);
  }
  own_ = {};
}

}  // namespace k2tcnc
