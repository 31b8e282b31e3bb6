#include "nml_link.h"

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstring>

// LinuxCNC's NML headers are not warning-clean under -Wpedantic.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpedantic"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#include <emc.hh>
#include <emc_nml.hh>
#include <emccfg.h>
#include <nml.hh>
#include <rcs_print.hh>
#pragma GCC diagnostic pop

namespace k2tcnc {

namespace {

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void Sleep(double seconds) { std::this_thread::sleep_for(std::chrono::duration<double>(seconds)); }

constexpr double kEchoTimeout = 2.0;   // seconds for LinuxCNC to take a command
constexpr double kSettleTimeout = 1.0; // for a mode or state change to show in the status
constexpr double kIdleWaitLimit = 60;  // an intent waits this long for MDI lines to finish
constexpr double kPollPeriod = 0.005;
constexpr const char* kLockFile = "/tmp/linuxcnc.lock";  // the linuxcnc script's, removed at shutdown

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

template <std::size_t N>
void CopyText(char (&out)[N], const std::string& text) {
  std::snprintf(out, N, "%s", text.c_str());
}

}  // namespace

struct NmlLink::Nml {
  std::unique_ptr<RCS_CMD_CHANNEL> command;
  std::unique_ptr<RCS_STAT_CHANNEL> status;
  EMC_STAT* stat() { return static_cast<EMC_STAT*>(status->get_address()); }
};

NmlLink::NmlLink(std::string nml_file, std::string program, Log log)
    : nml_file_(std::move(nml_file)), program_(std::move(program)), log_(std::move(log)), nml_(new Nml) {
  if (nml_file_.empty()) nml_file_ = DEFAULT_EMC_NMLFILE;
}

NmlLink::~NmlLink() { Stop(0); }

// ---- connecting ----------------------------------------------------------------

bool NmlLink::Connect(double wait_seconds, std::string& error) {
  // NML reports a missing LinuxCNC with pages of its own; the message below says it once.
  set_rcs_print_destination(RCS_PRINT_TO_NULL);
  const double deadline = Now() + wait_seconds;
  while (true) {
    nml_->status = std::make_unique<RCS_STAT_CHANNEL>(emcFormat, "emcStatus", "xemc", nml_file_.c_str());
    if (nml_->status->valid() && nml_->status->peek() == EMC_STAT_TYPE) {
      // Shared memory can outlive LinuxCNC: only a beating task counts.
      const unsigned first = nml_->stat()->task.heartbeat;
      const double until = Now() + 0.5;
      bool beating = false;
      while (Now() < until && !beating) {
        Sleep(0.01);
        nml_->status->peek();
        beating = nml_->stat()->task.heartbeat != first;
      }
      if (beating) break;
    }
    nml_->status.reset();
    if (Now() >= deadline) {
      error = "LinuxCNC is not running (no LinuxCNC task answers on " + nml_file_ +
              "). Start LinuxCNC first, or let it start the bridge: [APPLICATIONS]APP = k2t-linuxcnc";
      return false;
    }
    Sleep(0.2);
  }
  nml_->command = std::make_unique<RCS_CMD_CHANNEL>(emcFormat, "emcCommand", "xemc", nml_file_.c_str());
  if (!nml_->command->valid()) {
    nml_->status.reset();
    nml_->command.reset();
    error = "LinuxCNC's status answers but its command channel (" + nml_file_ + ") cannot be opened";
    return false;
  }
  Poll();
  serial_ = nml_->stat()->echo_serial_number;
  std::lock_guard lock(mu_);
  snapshot_ = status_;
  return true;
}

void NmlLink::Start() {
  if (!nml_->command || worker_.joinable()) return;
  worker_ = std::thread([this] { Run(); });
}

void NmlLink::Stop(double drain_seconds) {
  if (!worker_.joinable()) return;
  {
    std::lock_guard lock(mu_);
    stopping_ = true;
    drain_deadline_ = Now() + drain_seconds;
  }
  cv_.notify_all();
  worker_.join();
}

// ---- the queue -----------------------------------------------------------------

void NmlLink::Push(Intent intent) {
  {
    std::lock_guard lock(mu_);
    if (intent.kind == Intent::kEStop || intent.kind == Intent::kAbort) {
      queue_.clear();  // nothing that was waiting may run after an E-stop or a stop
      ++queue_generation_;
    }
    if (Immediate(intent.kind)) {
      // A wheel that turns an override sends a value every tick: the newest counts.
      if ((intent.kind == Intent::kFeedScale || intent.kind == Intent::kSpindleScale) && !immediate_.empty() &&
          immediate_.back().kind == intent.kind) {
        immediate_.back() = std::move(intent);
      } else {
        immediate_.push_back(std::move(intent));
      }
    } else if (intent.kind == Intent::kJog && queue_.size() > 1 && queue_.back().kind == Intent::kJog &&
               queue_.back().axis == intent.axis) {
      queue_.back().value = intent.value;  // a jog not yet sent takes the newest speed
    } else {
      queue_.push_back(std::move(intent));
    }
  }
  cv_.notify_all();
}

Status NmlLink::Snapshot() const {
  std::lock_guard lock(mu_);
  return snapshot_;
}

bool NmlLink::Interrupted() {
  std::lock_guard lock(mu_);
  for (const Intent& i : immediate_)
    if (i.kind == Intent::kEStop || i.kind == Intent::kAbort) return true;
  return false;
}

void NmlLink::Run() {
  while (true) {
    Intent intent{Intent::kDisplay};
    bool have = false, immediate = false;
    unsigned generation = 0;
    {
      std::unique_lock lock(mu_);
      cv_.wait_for(lock, std::chrono::duration<double>(kPollPeriod), [this] {
        return stopping_ || !immediate_.empty() || (!queue_.empty() && front_waiting_since_ < 0);
      });
      if (stopping_ && ((immediate_.empty() && queue_.empty()) || Now() >= drain_deadline_)) break;
      if (!immediate_.empty()) {
        intent = std::move(immediate_.front());
        immediate_.pop_front();
        have = immediate = true;
      } else if (!queue_.empty()) {
        intent = queue_.front();
        generation = queue_generation_;
        have = true;
      }
    }
    if (!Poll()) break;
    if (!have) continue;
    const bool done = Execute(intent, !immediate);
    if (!immediate && done) {
      std::lock_guard lock(mu_);
      // An E-stop or a stop may have cleared the queue meanwhile.
      if (generation == queue_generation_ && !queue_.empty()) queue_.pop_front();
    }
  }
  if (gone_) {
    StopOwnJogs(false);
    return;
  }
  StopOwnJogs(true);
}

// Returns false when the intent must stay at the front and be planned again.
bool NmlLink::Execute(const Intent& intent, bool may_wait) {
  const Plan plan = PlanIntent(intent, status_, program_);
  if (plan.outcome == Plan::kWait && may_wait) {
    const double now = Now();
    if (front_waiting_since_ < 0) front_waiting_since_ = now;
    if (now - front_waiting_since_ < kIdleWaitLimit) return false;
    Refused(intent, "LinuxCNC stayed busy for a minute");
    front_waiting_since_ = -1;
    return true;
  }
  front_waiting_since_ = -1;
  if (plan.outcome != Plan::kSend) {
    Refused(intent, plan.outcome == Plan::kWait ? "LinuxCNC is busy" : plan.reason);
    return true;
  }
  last_refusal_.clear();
  for (const Step& step : plan.steps) {
    if (may_wait && Interrupted()) break;  // an E-stop or stop overtakes the rest
    if (!SendStep(step)) break;
  }
  return true;
}

void NmlLink::Refused(const Intent& intent, const std::string& reason) {
  // Said once per reason: the wheel asks again on every tick.
  const std::string text = Describe(intent) + " not sent: " + reason;
  const std::string key = std::string(IntentName(intent.kind)) + reason;
  if (key == last_refusal_) return;
  last_refusal_ = key;
  if (log_) log_(text);
}

// ---- NML -----------------------------------------------------------------------

bool NmlLink::Poll() {
  RCS_STAT_CHANNEL& channel = *nml_->status;
  if (channel.peek() == -1) {
    gone_ = true;
    return false;
  }
  const EMC_STAT& s = *nml_->stat();
  const double now = Now();
  if (s.task.heartbeat != heartbeat_ || heartbeat_time_ == 0) {
    heartbeat_ = s.task.heartbeat;
    heartbeat_time_ = now;
  } else if (const double stalled = now - heartbeat_time_;
             stalled > kDeadSeconds || (stalled > kGoneSeconds && access(kLockFile, F_OK) != 0)) {
    gone_ = true;
    return false;
  }

  Status& st = status_;
  st.state = static_cast<TaskState>(s.task.state);
  st.mode = static_cast<TaskMode>(s.task.mode);
  st.interp = static_cast<Interp>(s.task.interpState);
  st.teleop = s.motion.traj.mode == EMC_TRAJ_MODE_TELEOP;
  st.queued_mdi = s.task.queuedMDIcommands;
  st.motion_queue = s.motion.traj.queue;
  st.inpos = s.motion.traj.inpos;
  st.axis_mask = static_cast<unsigned>(s.motion.traj.axis_mask);
  auto pose = [](const EmcPose& p) {
    return std::array<double, kAxes>{p.tran.x, p.tran.y, p.tran.z, p.a, p.b, p.c};
  };
  st.machine = pose(s.motion.traj.actualPosition);
  st.to_go = pose(s.motion.traj.dtg);
  // The work position as LinuxCNC's own displays show it: without the tool
  // and work offsets, rotated back, without the G92 offset.
  const auto tool = pose(s.task.toolOffset), g5x = pose(s.task.g5x_offset), g92 = pose(s.task.g92_offset);
  std::array<double, kAxes> w{};
  for (std::size_t a = 0; a < kAxes; ++a) w[a] = st.machine[a] - tool[a] - g5x[a];
  if (s.task.rotation_xy != 0.0) {
    const double t = -s.task.rotation_xy * M_PI / 180.0;
    const double x = w[0] * std::cos(t) - w[1] * std::sin(t);
    const double y = w[0] * std::sin(t) + w[1] * std::cos(t);
    w[0] = x;
    w[1] = y;
  }
  for (std::size_t a = 0; a < kAxes; ++a) w[a] -= g92[a];
  st.work = w;
  st.feed_scale = s.motion.traj.scale;
  st.spindle_scale = s.motion.spindle[0].spindle_scale;
  st.spindle_on = s.motion.spindle[0].enabled != 0;
  st.spindle_rpm = s.motion.spindle[0].speed;
  st.feed = s.task.activeSettings[1];
  st.speed = s.task.activeSettings[2];
  st.incremental = false;
  for (int g : s.task.activeGCodes)
    if (g == 910) st.incremental = true;
  st.rotation = s.task.rotation_xy;
  st.file.assign(s.task.file, strnlen(s.task.file, sizeof s.task.file));

  std::lock_guard lock(mu_);
  snapshot_ = st;
  return true;
}

bool NmlLink::SendStep(const Step& step) {
  RCS_CMD_CHANNEL& command = *nml_->command;
  const int serial = ++serial_;
  auto send = [&](RCS_CMD_MSG&& msg) {
    msg.serial_number = serial;
    return command.write(&msg) == 0;
  };
  bool written = false;
  switch (step.kind) {
    case Step::kSetMode: {
      EMC_TASK_SET_MODE m;
      m.mode = static_cast<EMC_TASK_MODE_ENUM>(step.mode);
      written = send(std::move(m));
      break;
    }
    case Step::kTeleop: {
      EMC_TRAJ_SET_TELEOP_ENABLE m;
      m.enable = 1;
      written = send(std::move(m));
      break;
    }
    case Step::kSetState: {
      EMC_TASK_SET_STATE m;
      m.state = static_cast<EMC_TASK_STATE_ENUM>(step.state);
      written = send(std::move(m));
      break;
    }
    case Step::kJog: {
      EMC_JOG_CONT m;
      m.jjogmode = 0;  // axis, not joint
      m.joint_or_axis = step.axis;
      m.vel = step.value;
      written = send(std::move(m));
      if (written) jogs_sent_ |= 1u << step.axis;
      break;
    }
    case Step::kJogStop: {
      EMC_JOG_STOP m;
      m.jjogmode = 0;
      m.joint_or_axis = step.axis;
      written = send(std::move(m));
      if (written) jogs_sent_ &= ~(1u << step.axis);
      break;
    }
    case Step::kMdi: {
      EMC_TASK_PLAN_EXECUTE m;
      CopyText(m.command, step.text);
      written = send(std::move(m));
      break;
    }
    case Step::kOpen: {
      EMC_TASK_PLAN_OPEN m;
      CopyText(m.file, step.text);
      written = send(std::move(m));
      break;
    }
    case Step::kRun: {
      EMC_TASK_PLAN_RUN m;
      m.line = 0;
      written = send(std::move(m));
      break;
    }
    case Step::kResume: written = send(EMC_TASK_PLAN_RESUME()); break;
    case Step::kPause: written = send(EMC_TASK_PLAN_PAUSE()); break;
    case Step::kAbort:
      written = send(EMC_TASK_ABORT());
      if (written) jogs_sent_ = 0;
      break;
    case Step::kSpindleOn: {
      EMC_SPINDLE_ON m;
      m.spindle = 0;
      m.speed = step.value;
      m.wait_for_spindle_at_speed = 0;
      written = send(std::move(m));
      break;
    }
    case Step::kSpindleOff: {
      EMC_SPINDLE_OFF m;
      m.spindle = 0;
      written = send(std::move(m));
      break;
    }
    case Step::kFeedScale: {
      EMC_TRAJ_SET_SCALE m;
      m.scale = step.value;
      written = send(std::move(m));
      break;
    }
    case Step::kSpindleScale: {
      EMC_TRAJ_SET_SPINDLE_SCALE m;
      m.spindle = 0;
      m.scale = step.value;
      written = send(std::move(m));
      break;
    }
    case Step::kDisplay: {
      EMC_OPERATOR_DISPLAY m;
      m.id = 0;
      CopyText(m.display, step.text);
      written = send(std::move(m));
      break;
    }
  }
  if (!written) {
    if (log_) log_(std::string("LinuxCNC's command channel did not take the ") + StepName(step));
    return false;
  }
  if (step.kind == Step::kSetState && step.state == TaskState::kEStop) jogs_sent_ = 0;

  // LinuxCNC echoes the serial number once task has taken the command.
  const double deadline = Now() + kEchoTimeout;
  while (true) {
    if (!Poll()) return false;
    const EMC_STAT& s = *nml_->stat();
    if (s.echo_serial_number == serial) {
      if (s.status == RCS_ERROR) {
        if (log_) log_(std::string("LinuxCNC refused the ") + StepName(step) + (step.text.empty() ? "" : " \"" + step.text + "\""));
        return false;
      }
      break;
    }
    if (Now() >= deadline) {
      if (log_) log_(std::string("LinuxCNC did not answer the ") + StepName(step) + " within 2 s");
      return false;
    }
    Sleep(0.001);
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
  const double settle_deadline = Now() + kSettleTimeout;
  while (!settled()) {
    if (Now() >= settle_deadline) {
      if (log_) log_(std::string("LinuxCNC took the ") + StepName(step) + " but its status did not follow");
      return false;
    }
    Sleep(0.002);
    if (!Poll()) return false;
  }
  return true;
}

void NmlLink::StopOwnJogs(bool wait_for_echo) {
  for (int axis = 0; axis < kAxes; ++axis) {
    if (!(jogs_sent_ & (1u << axis))) continue;
    Step stop{Step::kJogStop};
    stop.axis = axis;
    if (wait_for_echo) {
      SendStep(stop);
    } else {
      // LinuxCNC no longer answers: write the stop in case motion still reads it.
      EMC_JOG_STOP m;
      m.jjogmode = 0;
      m.joint_or_axis = axis;
      m.serial_number = ++serial_;
      nml_->command->write(&m);
    }
  }
  jogs_sent_ = 0;
}

}  // namespace k2tcnc
