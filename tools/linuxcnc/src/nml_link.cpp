#include "nml_link.h"

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <thread>

// LinuxCNC's NML headers are not warning-clean under -Wpedantic.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpedantic"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#include <emc.hh>
#include <emc_nml.hh>
#include <emccfg.h>
#include <nml.hh>
#include <nml_oi.hh>
#include <rcs_print.hh>
#pragma GCC diagnostic pop

#include "steady_clock.h"

namespace k2tcnc {

namespace {

void Sleep(double seconds) { std::this_thread::sleep_for(std::chrono::duration<double>(seconds)); }

constexpr const char* kLockFile = "/tmp/linuxcnc.lock";  // the linuxcnc script's, removed at shutdown
constexpr int kIdentityKinematics = 1;  // motion's kinematics type: each joint is one axis

template <std::size_t N>
void CopyText(char (&out)[N], const std::string& text) {
  std::snprintf(out, N, "%s", text.c_str());
}

}  // namespace

struct NmlLink::Nml final : Controller {
  explicit Nml(const Machine& m) : joint_of_axis(m.joint_of_axis) {}
  std::array<int, kAxes> joint_of_axis;
  std::unique_ptr<RCS_CMD_CHANNEL> command;
  std::unique_ptr<RCS_STAT_CHANNEL> status;
  std::unique_ptr<NML> errors;
  unsigned heartbeat = 0;
  double heartbeat_time = 0;

  EMC_STAT* stat() { return static_cast<EMC_STAT*>(status->get_address()); }
  bool Read(Status& st) override;
  bool Write(const Step& step, int& serial) override;
  bool ReadError(std::string& text) override;
  double Now() override { return SteadySeconds(); }
  void Sleep(double seconds) override { k2tcnc::Sleep(seconds); }
};

NmlLink::NmlLink(std::string nml_file, Machine machine, Log log, Worker::Options options)
    : nml_file_(std::move(nml_file)),
      read_errors_(options.read_errors),
      nml_(std::make_unique<Nml>(machine)),
      worker_(*nml_, std::move(machine), std::move(log), options) {
  if (nml_file_.empty()) nml_file_ = DEFAULT_EMC_NMLFILE;
}

NmlLink::~NmlLink() { Stop(0); }

// ---- connecting ----------------------------------------------------------------

bool NmlLink::Connect(double wait_seconds, const std::function<bool()>& cancelled, std::string& error) {
  // NML reports a missing LinuxCNC with pages of its own; the message below says it once.
  set_rcs_print_destination(RCS_PRINT_TO_NULL);
  const double deadline = SteadySeconds() + wait_seconds;
  while (true) {
    nml_->status = std::make_unique<RCS_STAT_CHANNEL>(emcFormat, "emcStatus", "xemc", nml_file_.c_str());
    if (nml_->status->valid() && nml_->status->peek() == EMC_STAT_TYPE) {
      // Shared memory can outlive LinuxCNC: only a beating task counts.
      const unsigned first = nml_->stat()->task.heartbeat;
      const double until = SteadySeconds() + 0.5;
      bool beating = false;
      while (SteadySeconds() < until && !beating) {
        Sleep(0.01);
        nml_->status->peek();
        beating = nml_->stat()->task.heartbeat != first;
      }
      if (beating) break;
    }
    nml_->status.reset();
    if (cancelled && cancelled()) {
      error = "stopped while waiting for LinuxCNC";
      return false;
    }
    if (SteadySeconds() >= deadline) {
      error = "LinuxCNC is not running (no LinuxCNC task answers on " + nml_file_ +
              "). Start LinuxCNC first, or let it start the bridge: [APPLICATIONS]APP = k2t-linuxcnc";
      return false;
    }
    Sleep(0.2);
  }
  nml_->command = std::make_unique<RCS_CMD_CHANNEL>(emcFormat, "emcCommand", "xemc", nml_file_.c_str());
  // The error channel is a queue: what the bridge reads, the GUI never sees.
  // Only the display reads it.
  if (read_errors_) {
    nml_->errors = std::make_unique<NML>(emcFormat, "emcError", "xemc", nml_file_.c_str());
    if (!nml_->errors->valid()) nml_->errors.reset();
  }
  const bool valid = nml_->command->valid();
  if (!valid || !worker_.Begin()) {
    nml_->status.reset();
    nml_->command.reset();
    nml_->errors.reset();
    error = valid ? "LinuxCNC stopped answering while the bridge attached"
                  : "LinuxCNC's status answers but its command channel (" + nml_file_ + ") cannot be opened";
    return false;
  }
  return true;
}

void NmlLink::Start() {
  if (!nml_->command || thread_.joinable()) return;
  thread_ = std::thread([this] { worker_.Run(); });
}

void NmlLink::Stop(double drain_seconds) {
  if (!thread_.joinable()) return;
  worker_.RequestStop(drain_seconds);
  thread_.join();
}

// ---- NML -----------------------------------------------------------------------

bool NmlLink::Nml::Read(Status& st) {
  if (status->peek() == -1) return false;
  const EMC_STAT& s = *stat();
  const double now = SteadySeconds();
  if (s.task.heartbeat != heartbeat || heartbeat_time == 0) {
    heartbeat = s.task.heartbeat;
    heartbeat_time = now;
  } else if (const double stalled = now - heartbeat_time;
             stalled > kDeadSeconds || (stalled > kGoneSeconds && access(kLockFile, F_OK) != 0)) {
    return false;
  }
  st.state = static_cast<TaskState>(s.task.state);
  st.mode = static_cast<TaskMode>(s.task.mode);
  st.interp = static_cast<Interp>(s.task.interpState);
  st.teleop = s.motion.traj.mode == EMC_TRAJ_MODE_TELEOP;
  st.jogging = s.motion.jogging_active;
  st.identity_kins = s.motion.traj.kinematics_type == kIdentityKinematics;
  st.joints = s.motion.traj.joints;
  st.homed = 0;
  for (int j = 0; j < s.motion.traj.joints && j < EMCMOT_MAX_JOINTS && j < 32; ++j)
    if (s.motion.joint[j].homed) st.homed |= 1u << j;
  for (std::size_t a = 0; a < kAxes; ++a) {
    st.axis_min[a] = s.motion.axis[a].minPositionLimit;
    st.axis_max[a] = s.motion.axis[a].maxPositionLimit;
    const int j = joint_of_axis[a];
    if (j >= 0 && j < EMCMOT_MAX_JOINTS) {
      st.joint_min[a] = s.motion.joint[j].minPositionLimit;
      st.joint_max[a] = s.motion.joint[j].maxPositionLimit;
      st.joint_pos[a] = s.motion.joint[j].output;
    }
  }
  st.flood = s.io.coolant.flood != 0;
  st.mist = s.io.coolant.mist != 0;
  st.queued_mdi = s.task.queuedMDIcommands;
  st.motion_queue = s.motion.traj.queue;
  st.inpos = s.motion.traj.inpos;
  st.axis_mask = static_cast<unsigned>(s.motion.traj.axis_mask);
  auto pose = [](const EmcPose& p) {
    return std::array<double, kAxes>{p.tran.x, p.tran.y, p.tran.z, p.a, p.b, p.c};
  };
  st.machine = pose(s.motion.traj.actualPosition);
  st.commanded = pose(s.motion.traj.position);
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
  st.echo_serial = s.echo_serial_number;
  st.echo_error = s.status == RCS_ERROR;
  return true;
}

bool NmlLink::Nml::ReadError(std::string& text) {
  if (!errors) return false;
  const NMLTYPE type = errors->read();
  if (type <= 0) return false;
  const void* msg = errors->get_address();
  auto copy = [&text](const char* chars, std::size_t size) { text.assign(chars, strnlen(chars, size)); };
  switch (type) {
    case EMC_OPERATOR_ERROR_TYPE: copy(static_cast<const EMC_OPERATOR_ERROR*>(msg)->error, LINELEN); break;
    case EMC_OPERATOR_TEXT_TYPE: copy(static_cast<const EMC_OPERATOR_TEXT*>(msg)->text, LINELEN); break;
    case EMC_OPERATOR_DISPLAY_TYPE: copy(static_cast<const EMC_OPERATOR_DISPLAY*>(msg)->display, LINELEN); break;
    case NML_ERROR_TYPE: copy(static_cast<const NML_ERROR*>(msg)->error, NML_ERROR_LEN); break;
    case NML_TEXT_TYPE: copy(static_cast<const NML_TEXT*>(msg)->text, NML_TEXT_LEN); break;
    case NML_DISPLAY_TYPE: copy(static_cast<const NML_DISPLAY*>(msg)->display, NML_DISPLAY_LEN); break;
    default: text = "message of type " + std::to_string(type);
  }
  return true;
}

bool NmlLink::Nml::Write(const Step& step, int& serial) {
  // NML numbers the command as it writes it, in one count for every client.
  auto send = [&](RCS_CMD_MSG&& msg) {
    if (command->write(&msg) != 0) return false;
    serial = msg.serial_number;
    return true;
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
      m.enable = step.on ? 1 : 0;
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
      m.jjogmode = step.joint ? 1 : 0;
      m.joint_or_axis = step.axis;
      m.vel = step.value;
      written = send(std::move(m));
      break;
    }
    case Step::kJogIncr: {
      // LinuxCNC adds a signed increment to where the last one will end.
      EMC_JOG_INCR m;
      m.jjogmode = step.joint ? 1 : 0;
      m.joint_or_axis = step.axis;
      m.vel = step.speed;
      m.incr = step.value;
      written = send(std::move(m));
      break;
    }
    case Step::kJogStop: {
      EMC_JOG_STOP m;
      m.jjogmode = step.joint ? 1 : 0;
      m.joint_or_axis = step.axis;
      written = send(std::move(m));
      break;
    }
    case Step::kHome: {
      EMC_JOINT_HOME m;
      m.joint = step.axis;
      written = send(std::move(m));
      break;
    }
    case Step::kFlood:
      written = step.on ? send(EMC_COOLANT_FLOOD_ON()) : send(EMC_COOLANT_FLOOD_OFF());
      break;
    case Step::kMist:
      written = step.on ? send(EMC_COOLANT_MIST_ON()) : send(EMC_COOLANT_MIST_OFF());
      break;
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
    case Step::kAbort: written = send(EMC_TASK_ABORT()); break;
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
  return written;
}

}  // namespace k2tcnc
