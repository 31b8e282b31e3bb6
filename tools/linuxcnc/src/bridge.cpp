#include "bridge.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "k2t/plugin.h"

namespace k2tcnc {

namespace {

template <class T>
void Write(unsigned char* record, std::size_t offset, T value) {
  if (record) std::memcpy(record + offset, &value, sizeof value);
}

template <class T>
T Read(const unsigned char* record, std::size_t offset) {
  T value{};
  if (record) std::memcpy(&value, record + offset, sizeof value);
  return value;
}

std::size_t JogBlock(int axis) { return K2T_MOTION_AXIS_JOG + static_cast<std::size_t>(axis) * K2T_MOTION_AXIS_JOG_STRIDE; }

// The configuration refuses products beyond 32 bits; the clamp keeps any
// other from wrapping.
std::int32_t Steps(double value) {
  return static_cast<std::int32_t>(
      std::lround(std::clamp(value, 0.0, static_cast<double>(std::numeric_limits<std::int32_t>::max()))));
}

}  // namespace

std::string GcodeNumber(double value) {
  char buf[64];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 4);
  return ec == std::errc() ? std::string(buf, end) : std::string("0");
}

const char* IntentName(Intent::Kind kind) {
  switch (kind) {
    case Intent::kEStop: return "E-stop";
    case Intent::kEStopReset: return "E-stop reset";
    case Intent::kMachineOn: return "machine on";
    case Intent::kCycleStart: return "cycle start";
    case Intent::kPause: return "pause";
    case Intent::kAbort: return "stop";
    case Intent::kSpindleOn: return "spindle on";
    case Intent::kSpindleOff: return "spindle off";
    case Intent::kJog: return "jog";
    case Intent::kJogStop: return "jog stop";
    case Intent::kMdi: return "MDI";
    case Intent::kFeedScale: return "feed override";
    case Intent::kSpindleScale: return "spindle override";
    case Intent::kDisplay: return "message";
    case Intent::kJogIncr: return "increment";
    case Intent::kFlood: return "flood";
    case Intent::kMist: return "mist";
    case Intent::kHome: return "home";
  }
  return "?";
}

std::string Describe(const Intent& intent) {
  std::string text = IntentName(intent.kind);
  switch (intent.kind) {
    case Intent::kJog: return text + " " + kAxisLetters[intent.axis] + " at " + GcodeNumber(intent.value) + "/s";
    case Intent::kJogStop:
    case Intent::kHome: return text + " " + kAxisLetters[intent.axis];
    case Intent::kJogIncr:
      return text + " " + kAxisLetters[intent.axis] + " " + (intent.value < 0 ? "" : "+") + GcodeNumber(intent.value) +
             " at " + GcodeNumber(intent.speed) + "/s";
    case Intent::kFlood:
    case Intent::kMist: return text + (intent.value != 0 ? " on" : " off");
    case Intent::kMdi:
    case Intent::kDisplay: return text + " \"" + intent.text + "\"";
    case Intent::kFeedScale:
    case Intent::kSpindleScale: return text + " " + GcodeNumber(intent.value * 100) + " %";
    case Intent::kSpindleOn: return text + " at " + GcodeNumber(intent.value);
    default: return text;
  }
}

Bridge::Bridge(const BridgeConfig& config, CommandSink& sink, Records records, Clock clock, Log log)
    : config_(config),
      sink_(sink),
      records_(records),
      clock_(std::move(clock)),
      log_(std::move(log)),
      jog_rate_(config.jog_rate) {}

void Bridge::Push(Intent::Kind kind, int axis, double value, std::string text) {
  sink_.Push(Intent{kind, axis, value, std::move(text), Premise()});
}

void Bridge::Once(std::set<std::string>& seen, const std::string& key, const std::string& text) {
  if (seen.insert(key).second && log_) log_(text);
}

double Bridge::HeldOr(const Held& held, double live) const { return clock_() < held.until ? held.value : live; }

// ---- buttons -------------------------------------------------------------------

void Bridge::DoButton(int code) {
  if (code >= 334 && code <= 339) {  // jog stop, also sent on every mode change of the pendant
    JogStop(code - 334);
    return;
  }
  if (code >= 307 && code <= 311) {  // X+ X- Y+ Y- Z+
    const int axis = (code - 307) / 2;
    const double sign = (code - 307) % 2 == 0 ? 1.0 : -1.0;
    Jog(axis, sign * config_.max_velocity[Index(axis)] * jog_rate_ / 100.0);
    return;
  }
  if (code >= 1008 && code <= 1011) {
    Mdi(std::string("G10 L20 P0 ") + kAxisLetters[code - 1008] + "0");
    return;
  }
  if (code >= 1022 && code <= 1025) {  // Ref X, Y, Z, A
    Push(Intent::kHome, code - 1022);
    return;
  }
  switch (code) {
    case 1021: EStopPressed(); return;
    case 1000: Push(Intent::kCycleStart); return;
    case 1001: Push(Intent::kPause); return;
    case 1003:
      Push(Intent::kAbort);
      jogs_.fill(std::nullopt);  // an abort ends jogs too
      return;
    case 110: {
      const bool on = GetLED(11);
      Hold(spindle_on_, on ? 0.0 : 1.0);
      if (on) Push(Intent::kSpindleOff);
      else Push(Intent::kSpindleOn, 0, status_.speed > 0 ? status_.speed : config_.spindle_speed);
      return;
    }
    case 1017:
      // X and Y only: a Z that dives to the work zero could hit the part.
      AbsoluteMdi("G0 X0 Y0");
      return;
    case 1007: {
      std::string text = "G10 L20 P0";
      for (int axis = 0; axis < kAxes; ++axis)
        if (status_.axis_mask & (1u << axis)) text += std::string(" ") + kAxisLetters[axis] + "0";
      Mdi(text);
      return;
    }
    case 113: Toggle(Intent::kFlood, flood_, status_.flood); return;
    case 114: Toggle(Intent::kMist, mist_, status_.mist); return;
    case 138: GoHome(); return;
    case 104:
      if (!config_.safe_z) {
        if (log_) log_("Goto Safe Z (104) not sent: [K2T]SAFE_Z names no height");
        return;
      }
      AbsoluteMdi("G53 G0 Z" + GcodeNumber(*config_.safe_z));
      return;
    case 204:
    case 205:
    case 327: jog_mode_led_ = code == 204 ? 14 : code == 205 ? 15 : 57; return;
    case 256: machine_coords_ = !machine_coords_; return;
    case 333: dist_to_go_ = !dist_to_go_; return;
    case 1002:
      Once(logged_, "button 1002", "rewind (1002) has no LinuxCNC meaning: a program always runs from its start");
      return;
    case 1: case 2: case 3: case 4: case 5: case 6: case 7: case 323:
      Once(logged_, "button " + std::to_string(code),
           "screen button " + std::to_string(code) + " has no LinuxCNC meaning; ignored");
      return;
    default:
      Once(logged_, "button " + std::to_string(code), "unknown button code " + std::to_string(code) + " ignored");
  }
}

void Bridge::Toggle(Intent::Kind kind, Held& held, bool live) {
  const bool on = HeldOr(held, live ? 1.0 : 0.0) != 0.0;
  Hold(held, on ? 0.0 : 1.0);
  Push(kind, 0, on ? 0.0 : 1.0);
}

// A move in absolute distance mode, then the user's G91 again if it was in effect.
void Bridge::AbsoluteMdi(const std::string& text) {
  Mdi("G90 " + text);
  if (status_.incremental) Mdi("G91");
}

// Z up to its home first, then the other axes: a tool low over the part
// must not sweep across it.
void Bridge::GoHome() {
  std::string z, rest;
  for (int axis = 0; axis < kAxes; ++axis) {
    if (!(status_.axis_mask & (1u << axis))) continue;
    const auto& home = config_.home[Index(axis)];
    if (!home) {
      if (log_)
        log_(std::string("Go Home (138) not sent: axis ") + kAxisLetters[axis] +
             " is not on a joint of its own, so it has no [JOINT_n]HOME");
      return;
    }
    (axis == 2 ? z : rest) += std::string(" ") + kAxisLetters[axis] + GcodeNumber(*home);
  }
  if (!z.empty()) AbsoluteMdi("G53 G0" + z);
  if (!rest.empty()) AbsoluteMdi("G53 G0" + rest);
}

void Bridge::EStopPressed() {
  // 1021 toggles: the module sends it at activation until LED 800 lights and
  // once at release. LED 800 is the latch, so the repeats find it lit.
  const bool in_estop = GetLED(800);
  const double now = clock_();
  last_estop_ = now;
  estop_poll_ = polls_;
  pendant_estop_ = !in_estop;
  if (in_estop) {
    estop_latch_ = false;
    Push(Intent::kEStopReset);
    // Pressing the switch while in E-stop resets and re-asserts one tick
    // later: power comes on only when no 1021 follows.
    machine_on_due_ = now + kMachineOnQuiet;
  } else {
    estop_latch_ = true;
    machine_on_due_.reset();
    Push(Intent::kEStop);
    jogs_.fill(std::nullopt);
  }
}

// ---- jogs ----------------------------------------------------------------------

void Bridge::Jog(int axis, double velocity) {
  if (axis < 0 || axis >= kAxes) return;
  if (!(status_.axis_mask & (1u << axis))) {
    Once(logged_, std::string("axis ") + kAxisLetters[axis],
         std::string("axis ") + kAxisLetters[axis] + " is not on this machine; its jogs are ignored");
    return;
  }
  if (velocity == 0.0) {
    JogStop(axis);
    return;
  }
  std::optional<OwnJog>& current = jogs_[Index(axis)];
  if (current && current->velocity == velocity && current->premise == Premise()) return;
  current = OwnJog{velocity, Premise()};
  Push(Intent::kJog, axis, velocity);
}

void Bridge::JogStop(int axis) {
  if (axis < 0 || axis >= kAxes) return;
  // The host has taken the stop: a later DOJOG for another axis must not
  // find this block still active and start it again.
  Write<std::uint8_t>(records_.motion, JogBlock(axis) + K2T_AXIS_JOG_STOP, 1);
  // Always: what the bridge remembers may be older than a jog still queued,
  // and the worker knows what it really sent.
  jogs_[Index(axis)].reset();
  Push(Intent::kJogStop, axis);
}

void Bridge::DoJog() {
  for (int axis = 0; axis < kAxes; ++axis) {
    const std::size_t block = JogBlock(axis);
    if (Read<std::uint8_t>(records_.motion, block + K2T_AXIS_JOG_ACTIVE) == 0 ||
        Read<std::uint8_t>(records_.motion, block + K2T_AXIS_JOG_STOP) != 0)
      continue;
    const auto steps = Read<std::int32_t>(records_.motion, block + K2T_AXIS_JOG_VELOCITY);
    const auto direction = Read<std::int32_t>(records_.motion, block + K2T_AXIS_JOG_DIRECTION);
    double velocity = std::abs(static_cast<double>(steps)) / config_.steps_per_unit;
    const double limit = config_.max_velocity[Index(axis)];
    if (limit > 0 && velocity > limit) velocity = limit;
    Jog(axis, direction == 1 ? -velocity : velocity);
  }
}

void Bridge::EndJog() {
  for (int axis = 0; axis < kAxes; ++axis)
    if (Read<std::uint8_t>(records_.motion, JogBlock(axis) + K2T_AXIS_JOG_STOP) != 0) JogStop(axis);
}

void Bridge::StopJogs() {
  for (int axis = 0; axis < kAxes; ++axis) JogStop(axis);
}

void Bridge::Code(std::string_view text) {
  if (text == "DOJOG") DoJog();
  else if (text == "ENDJOG") EndJog();
  else if (text == "G90") step_jog_in_call_ = true;  // the module's return from its step jog's G91: none was sent
  else if (text.starts_with("G91G1")) {
    step_jog_in_call_ = true;
    if (!StepJog(text.substr(5)))
      Once(logged_, "step " + std::string(text), "step jog \"" + std::string(text) + "\" not understood; ignored");
  } else if (!text.empty()) {
    Mdi(std::string(text));
  }
}

namespace {

bool Number(std::string_view word, double& out) {
  const auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), out);
  return ec == std::errc() && end == word.data() + word.size() && std::isfinite(out);
}

int AxisOf(std::string_view letter) {
  if (letter.size() != 1) return -1;
  const char* at = std::strchr(kAxisLetters, letter[0]);
  return at && *at ? static_cast<int>(at - kAxisLetters) : -1;
}

}  // namespace

// The module's step jogs, "G91G1 F<feed> <axis> <distance>" and the rotated
// "G91G1 X<x> Y<y> ", become LinuxCNC increments in MANUAL mode: no G-code,
// so the task's mode, distance mode and F stay the user's.
bool Bridge::StepJog(std::string_view rest) {
  std::vector<std::string_view> words;
  for (std::size_t at = 0; at < rest.size();) {
    const std::size_t end = std::min(rest.find(' ', at), rest.size());
    if (end > at) words.push_back(rest.substr(at, end - at));
    at = end + 1;
  }
  double feed = 0, distance = 0, x = 0, y = 0;
  if (words.size() == 3 && words[0].starts_with('F') && Number(words[0].substr(1), feed) && feed > 0 &&
      AxisOf(words[1]) >= 0 && Number(words[2], distance)) {
    const int axis = AxisOf(words[1]);
    const double limit = config_.max_velocity[Index(axis)];
    Increment(axis, distance, limit > 0 ? std::min(feed / 60.0, limit) : feed / 60.0);
    return true;
  }
  if (words.size() == 2 && words[0].starts_with('X') && words[1].starts_with('Y') &&
      Number(words[0].substr(1), x) && Number(words[1].substr(1), y)) {
    // No feed word: the F in effect, else the jog rate. Both axes get their
    // share of it, so the tool moves along the rotated line.
    const double length = std::hypot(x, y);
    if (length == 0) return true;
    double speed = status_.feed > 0 ? status_.feed / 60.0
                                    : std::min(config_.max_velocity[0], config_.max_velocity[1]) * jog_rate_ / 100.0;
    for (const auto& [part, axis] : {std::pair{x, 0}, std::pair{y, 1}}) {
      const double share = speed * std::abs(part) / length, limit = config_.max_velocity[Index(axis)];
      if (limit > 0 && share > limit) speed *= limit / share;
    }
    if (x != 0) Increment(0, x, speed * std::abs(x) / length);
    if (y != 0) Increment(1, y, speed * std::abs(y) / length);
    return true;
  }
  return false;
}

void Bridge::Increment(int axis, double distance, double speed) {
  if (distance == 0 || !(speed > 0)) return;
  Intent intent{Intent::kJogIncr, axis, distance, {}, Premise()};
  intent.speed = speed;
  sink_.Push(std::move(intent));
}

void Bridge::EndModuleCall() {
  if (deferred_override_) {
    if (step_jog_in_call_) {
      step_cycle_ = true;
    } else {
      Hold(feed_scale_, *deferred_override_);
      Push(Intent::kFeedScale, 0, *deferred_override_ / 100.0);
    }
    deferred_override_.reset();
  }
  if (deferred_feed_) {
    SetFeedOrSpeed(818, *deferred_feed_);
    deferred_feed_.reset();
  }
  step_jog_in_call_ = false;
}

// ---- DROs ----------------------------------------------------------------------

void Bridge::SetDRO(int code, double value) {
  switch (code) {
    case 3: jog_rate_ = value; return;
    case 828: step_size_ = value; return;
    case 46: coord_display_ = value; return;
    case 821:
      if (step_cycle_ && deferred_feed_) {
        // The module puts back the feed and override it saved before its
        // step jogs; LinuxCNC never saw them change.
        deferred_feed_.reset();
        step_cycle_ = false;
        return;
      }
      if (value == 100.0 && !step_cycle_) {
        deferred_override_ = value;
        return;
      }
      Hold(feed_scale_, value);
      Push(Intent::kFeedScale, 0, value / 100.0);
      return;
    case 74:
      Hold(spindle_scale_, value);
      Push(Intent::kSpindleScale, 0, value / 100.0);
      return;
    case 818:
      if (step_cycle_) {
        deferred_feed_ = value;  // the start of the module's restore, if an override follows
        return;
      }
      SetFeedOrSpeed(code, value);
      return;
    case 817: SetFeedOrSpeed(code, value); return;
    case 22:
    case 816: return;  // host counters without a LinuxCNC meaning
    default: Once(logged_, "set dro " + std::to_string(code), "DRO " + std::to_string(code) + " unknown; set ignored");
  }
}

void Bridge::SetFeedOrSpeed(int code, double value) {
  const bool feed = code == 818;
  Held& held = feed ? feed_ : speed_;
  // The same value again would change nothing but the task's mode.
  if (value == HeldOr(held, feed ? status_.feed : status_.speed)) return;
  // F and S can only be set through MDI, which a running program refuses.
  if (status_.ProgramRunning()) {
    Once(logged_, "running " + std::to_string(code),
         std::string(feed ? "the feed (DRO 818)" : "the spindle speed (DRO 817)") + " is set only while no program runs");
    return;
  }
  Hold(held, value);
  Mdi((feed ? "F" : "S") + GcodeNumber(value));
}

double Bridge::GetDRO(int code) {
  if (code >= 800 && code < 800 + kAxes) {
    const std::size_t a = Index(code - 800);
    return dist_to_go_ ? status_.to_go[a] : machine_coords_ ? status_.machine[a] : status_.work[a];
  }
  switch (code) {
    case 3: return jog_rate_;
    case 828: return step_size_;
    case 46: return coord_display_;
    case 22:
    case 816: return 0.0;
    case 821: return HeldOr(feed_scale_, status_.feed_scale * 100.0);
    case 74: return HeldOr(spindle_scale_, status_.spindle_scale * 100.0);
    case 818: return HeldOr(feed_, status_.feed);
    case 817:
    case 202: return HeldOr(speed_, status_.speed);
    case 55: return HeldOr(feed_, status_.feed) * HeldOr(feed_scale_, status_.feed_scale * 100.0) / 100.0;
    case 39: return status_.spindle_on ? std::abs(status_.spindle_rpm) * status_.spindle_scale : 0.0;
    case 56: return 1.0;  // one pulley
    default:
      Once(logged_, "get dro " + std::to_string(code), "DRO " + std::to_string(code) + " unknown; reads 0");
      return 0.0;
  }
}

// ---- LEDs ----------------------------------------------------------------------

bool Bridge::GetLED(int code) {
  switch (code) {
    case 800:
      // The commanded latch; LinuxCNC's state only once no 1021 came for a while.
      if (clock_() - last_estop_ >= kEStopHold && Quiet()) estop_latch_ = status_.state == TaskState::kEStop;
      return estop_latch_;
    case 804: return status_.mode == TaskMode::kAuto &&
                     (status_.interp == Interp::kReading || status_.interp == Interp::kWaiting);
    case 805: return status_.interp == Interp::kPaused;
    case 806: return false;
    // Jogging needs the machine on and no program running; an MDI move that
    // is still going does not count (step jogs queue behind it).
    case 83: return status_.state == TaskState::kOn && !status_.ProgramRunning();
    case 11: return HeldOr(spindle_on_, status_.spindle_on ? 1.0 : 0.0) != 0.0;
    case 14:
    case 15:
    case 57: return jog_mode_led_ == code;
    case 16: return machine_coords_;
    case 163: return dist_to_go_;
    default:
      Once(logged_, "led " + std::to_string(code), "LED " + std::to_string(code) + " unknown; reads off");
      return false;
  }
}

void Bridge::SetLED(int code, bool /*on*/) {
  Once(logged_, "set led " + std::to_string(code), "LED " + std::to_string(code) + " set by the module; ignored");
}

// ---- timed work and records ----------------------------------------------------

bool Bridge::Quiet() const { return !estop_poll_ || polls_ > *estop_poll_ + kQuietPolls; }

void Bridge::Tick() {
  if (machine_on_due_ && clock_() >= *machine_on_due_ && Quiet()) {
    machine_on_due_.reset();
    Push(Intent::kMachineOn);
  }
}

void Bridge::FillRecords() {
  const Status& s = status_;
  // Coordinated motion (MDI, a program) only: jogs in MANUAL are LinuxCNC
  // increments, which add up, so a wheel reversal during one must not make
  // the module hold its step jogs back.
  const bool motion_busy = s.motion_queue > 0 || (!s.inpos && s.mode != TaskMode::kManual);
  Write<std::int32_t>(records_.motion, K2T_MOTION_QUEUE_TAIL, 0);
  Write<std::int32_t>(records_.motion, K2T_MOTION_QUEUE_HEAD, motion_busy ? 1 : 0);
  Write<std::uint8_t>(records_.motion, K2T_MOTION_JOG_INHIBIT, s.state == TaskState::kOn ? 0 : 1);
  const bool planner_busy = s.interp != Interp::kIdle;
  Write<std::int32_t>(records_.planner, K2T_PLANNER_QUEUE_TAIL, 0);
  Write<std::int32_t>(records_.planner, K2T_PLANNER_QUEUE_HEAD, planner_busy || s.queued_mdi > 0 ? 1 : 0);
  Write<std::int32_t>(records_.planner, K2T_PLANNER_BUSY, planner_busy ? 1 : 0);
  Write<double>(records_.planner, K2T_PLANNER_JOG_UNIT_FACTOR, step_size_);
  for (int axis = 0; axis < kAxes; ++axis) {
    const std::size_t a = Index(axis);
    const bool present = (s.axis_mask & (1u << axis)) != 0;
    const double velocity = present ? config_.max_velocity[a] : 0.0;
    const double acceleration = present ? config_.max_acceleration[a] : 0.0;
    Write<double>(records_.planner, K2T_PLANNER_AXIS_MAX_VELOCITY + 8 * a, velocity);
    Write<std::int32_t>(records_.planner, K2T_PLANNER_AXIS_MAX_VELOCITY_STEPS + 4 * a,
                        Steps(velocity * config_.steps_per_unit));
    Write<std::int32_t>(records_.planner, K2T_PLANNER_AXIS_ACCELERATION_STEPS + 4 * a,
                        Steps(acceleration * config_.steps_per_unit));
  }
  Write<std::int32_t>(records_.setup, K2T_SETUP_INCREMENTAL_MODE, s.incremental ? 1 : 0);
  Write<double>(records_.setup, K2T_SETUP_ROTATION_ANGLE, s.rotation);
}

void Bridge::Message(const std::string& text) {
  if (text == message_) return;
  message_ = text;
  if (text.empty()) return;
  if (log_) log_("pendant message: \"" + text + "\"");
  // As LinuxCNC's display the bridge would only read its own message back.
  if (!config_.display) Push(Intent::kDisplay, 0, 0, text);
}

}  // namespace k2tcnc
