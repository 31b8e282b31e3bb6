#include "worker.h"

#include <algorithm>
#include <chrono>

namespace k2tcnc {

namespace {

constexpr double kPollPeriod = 0.005;

const char* StepName(const Step& step) {
  switch (step.kind) {
    case Step::kSetMode: return "mode change";
    case Step::kTeleop: return "teleop";
    case Step::kSetState: return "state change";
    case Step::kJog: return "jog";
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
  }
  return "command";
}

bool ValidAxis(int axis) { return axis >= 0 && axis < kAxes; }

}  // namespace

Worker::Worker(Controller& lcnc, std::string program, Log log)
    : lcnc_(lcnc), program_(std::move(program)), log_(std::move(log)) {}

// ---- the queue -----------------------------------------------------------------

unsigned Worker::CancelsOf(const Intent& intent) const {
  if (intent.kind == Intent::kJog && ValidAxis(intent.axis)) return jog_stops_[static_cast<std::size_t>(intent.axis)];
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
      queue_.push_back(std::move(entry));
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

bool Worker::Begin() {
  if (!Poll()) return false;
  serial_ = status_.echo_serial;
  return true;
}

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
  if (!gone_) {
    double deadline = 0;
    {
      std::lock_guard lock(mu_);
      deadline = drain_deadline_;
      std::erase_if(queue_, [](const Entry& e) { return e.intent.kind == Intent::kJog; });  // no jog starts on the way out
    }
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
}

bool Worker::Cycle() {
  if (!Poll()) return false;
  Entry entry{Intent{Intent::kDisplay}};
  bool immediate = false;
  {
    std::lock_guard lock(mu_);
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
      return true;
    }
  }
  const Intent& intent = entry.intent;
  const Plan plan = PlanIntent(intent, status_, program_, jogs_sent_);
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

// ---- LinuxCNC ------------------------------------------------------------------

bool Worker::Poll() {
  if (!lcnc_.Read(status_)) {
    gone_ = true;
    return false;
  }
  if (status_.state == TaskState::kOn && last_state_ != TaskState::kOn) ++on_epoch_;
  last_state_ = status_.state;
  status_.on_epoch = on_epoch_;
  if (status_.state != TaskState::kOn) jogs_sent_ = 0;  // leaving ON ends every jog
  std::lock_guard lock(mu_);
  snapshot_ = status_;
  return true;
}

bool Worker::SendStep(const Step& step) {
  const int serial = ++serial_;
  if (!lcnc_.Write(step, serial)) {
    if (log_) log_(std::string("LinuxCNC's command channel did not take the ") + StepName(step));
    return false;
  }
  // What went out, whatever LinuxCNC answers: a jog written may run.
  if (step.kind == Step::kJog && ValidAxis(step.axis)) jogs_sent_ |= 1u << step.axis;
  if (step.kind == Step::kJogStop && ValidAxis(step.axis)) jogs_sent_ &= ~(1u << step.axis);
  if (step.kind == Step::kAbort || (step.kind == Step::kSetState && step.state == TaskState::kEStop)) jogs_sent_ = 0;

  // LinuxCNC echoes the serial number once task has taken the command. The
  // command stays sent when an E-stop or a stop cuts the wait short.
  const double deadline = lcnc_.Now() + kEchoTimeout;
  while (true) {
    if (!Poll()) return false;
    if (status_.echo_serial == serial) {
      if (status_.echo_error) {
        if (log_) log_(std::string("LinuxCNC refused the ") + StepName(step) + (step.text.empty() ? "" : " \"" + step.text + "\""));
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
      case Step::kTeleop: return status_.teleop;
      case Step::kSetState: return status_.state == step.state;
      default: return true;
    }
  };
  const double settle_deadline = lcnc_.Now() + kSettleTimeout;
  while (!settled()) {
    if (Interrupted()) return false;
    if (lcnc_.Now() >= settle_deadline) {
      if (log_) log_(std::string("LinuxCNC took the ") + StepName(step) + " but its status did not follow");
      return false;
    }
    lcnc_.Sleep(0.002);
    if (!Poll()) return false;
  }
  return true;
}

void Worker::StopOwnJogs() {
  for (int axis = 0; axis < kAxes; ++axis) {
    if (!(jogs_sent_ & (1u << axis))) continue;
    Step stop{Step::kJogStop};
    stop.axis = axis;
    // LinuxCNC gone: write the stop anyway, in case motion still reads it.
    if (gone_) lcnc_.Write(stop, ++serial_);
    else SendStep(stop);
  }
  jogs_sent_ = 0;
}

}  // namespace k2tcnc
