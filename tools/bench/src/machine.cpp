#include "machine.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <utility>

#include "k2t/plugin.h"
#include "names.h"
#include "text.h"

namespace bench {

namespace {

// What cycle start runs: a square pocket pass around the work zero.
constexpr std::string_view kProgram[] = {
    "G90 G0 Z0.2", "G0 X0 Y0", "G1 Z-0.05 F20", "G1 X1 F40", "G1 Y1", "G1 X0", "G1 Y0", "G0 Z0.2",
};
constexpr std::size_t kProgramLines = sizeof kProgram / sizeof kProgram[0];

struct Word {
  char letter;
  double value;
};

// Letter-number pairs; blanks may stand between a letter and its number
// ("X 0.0300"), parenthesised comments are skipped. False on anything else.
bool ParseWords(std::string_view text, std::vector<Word>& words) {
  std::size_t i = 0;
  auto skip_blanks = [&] {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  };
  while (true) {
    skip_blanks();
    if (i >= text.size()) return true;
    if (text[i] == '(') {
      const std::size_t close = text.find(')', i);
      if (close == std::string_view::npos) return false;
      i = close + 1;
      continue;
    }
    const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(text[i])));
    if (letter < 'A' || letter > 'Z') return false;
    ++i;
    skip_blanks();
    std::size_t end = i;
    if (end < text.size() && (text[end] == '+' || text[end] == '-')) ++end;
    while (end < text.size() && (std::isdigit(static_cast<unsigned char>(text[end])) || text[end] == '.')) ++end;
    const std::optional<double> value = ParseNumber(text.substr(i, end - i));
    if (!value) return false;
    words.push_back({letter, *value});
    i = end;
  }
}

}  // namespace

Machine::Machine(EventSink sink, std::function<double()> now)
    : sink_(std::move(sink)),
      now_(std::move(now)),
      motion_(K2T_MOTION_RECORD_SIZE),
      setup_(K2T_SETUP_RECORD_SIZE),
      planner_(K2T_PLANNER_RECORD_SIZE),
      axes_{{{2.0, 10000, 10}, {2.0, 10000, 10}, {1.0, 10000, 5}, {30, 100, 180}, {30, 100, 180}, {30, 100, 180}}} {
  dros_ = {{3, 50},  {22, 0},   {46, 1},      {56, 1},   {74, 100},
           {816, 0}, {817, 12000}, {818, 30}, {821, 100}, {828, 0.001}};
  leds_ = {{83, true}, {14, true}};
  // Coordinate systems 2 to 4 sit apart from the first, so cycling them shows.
  offsets_[2] = {1, 1, 0, 0, 0, 0};
  offsets_[3] = {-2, 0.5, 0, 0, 0, 0};
  offsets_[4] = {0, -1.5, -0.25, 0, 0, 0};
  for (int axis = 0; axis < kAxes; ++axis) WriteAxisLimits(axis);
  Write<double>(planner_, K2T_PLANNER_JOG_UNIT_FACTOR, dros_[828]);
  SyncRecords();
}

void Machine::Note(std::string text) {
  if (sink_) sink_({EventKind::kMachine, now_(), std::move(text), {}});
}

void Machine::ChangeLed(int code, bool on) {
  if (GetLED(code) == on) return;
  leds_[code] = on;
  const std::string_view name = LedName(code);
  Note("led " + std::to_string(code) + (on ? " on" : " off") + (name.empty() ? "" : " (" + std::string(name) + ")"));
}

void Machine::WriteAxisLimits(int axis) {
  const AxisConfig& c = axes_[static_cast<std::size_t>(axis)];
  const auto a = static_cast<std::size_t>(axis);
  Write<double>(planner_, K2T_PLANNER_AXIS_MAX_VELOCITY + 8 * a, c.max_velocity);
  Write<std::int32_t>(planner_, K2T_PLANNER_AXIS_MAX_VELOCITY_STEPS + 4 * a,
                      static_cast<std::int32_t>(std::lround(c.max_velocity * c.steps_per_unit)));
  Write<std::int32_t>(planner_, K2T_PLANNER_AXIS_ACCELERATION_STEPS + 4 * a,
                      static_cast<std::int32_t>(std::lround(c.acceleration * c.steps_per_unit)));
}

void Machine::SyncRecords() {
  Write<std::int32_t>(motion_, kMotionTail, static_cast<std::int32_t>(completed_));
  Write<std::int32_t>(motion_, kMotionHead, static_cast<std::int32_t>(queued_ + (extra_motion_ ? 1 : 0)));
  Write<std::int32_t>(planner_, K2T_PLANNER_QUEUE_TAIL, static_cast<std::int32_t>(completed_));
  Write<std::int32_t>(planner_, K2T_PLANNER_QUEUE_HEAD,
                      static_cast<std::int32_t>(queued_ + (extra_planner_queue_ ? 1 : 0)));
  const bool busy = extra_planner_ || (!passive_ && GetLED(804));
  Write<std::int32_t>(planner_, kPlannerBusy, busy ? 1 : 0);
}

int Machine::Fixture() const {
  const auto it = dros_.find(46);
  const double v = it == dros_.end() ? 1 : it->second;
  return v >= 1 && v <= 4 ? static_cast<int>(v) : 1;
}

double Machine::GetDRO(int code) const {
  if (code >= 800 && code < 800 + kAxes) {
    const auto a = static_cast<std::size_t>(code - 800);
    if (GetLED(163)) return moves_.empty() ? 0.0 : moves_.front().target[a] - pos_[a];
    if (GetLED(16)) return pos_[a];
    return pos_[a] - Offsets()[a];
  }
  const auto it = dros_.find(code);
  if (it != dros_.end()) return it->second;
  // Read-outs the machine derives, unless a script pinned them.
  auto dro = [this](int c) {
    const auto found = dros_.find(c);
    return found == dros_.end() ? 0.0 : found->second;
  };
  switch (code) {
    case 55: return dro(818) * dro(821) / 100.0;
    case 39: return GetLED(11) ? std::round(dro(817) * dro(74) / 100.0) : 0.0;
    case 202: return dro(817);
    default: return 0.0;
  }
}

bool Machine::GetLED(int code) const {
  const auto it = leds_.find(code);
  return it != leds_.end() && it->second;
}

std::string Machine::MessageText() const {
  const char* text = reinterpret_cast<const char*>(planner_.data() + K2T_PLANNER_MESSAGE_TEXT);
  return std::string(text, strnlen(text, 256));
}

bool Machine::Incremental() const { return Read<std::int32_t>(setup_, K2T_SETUP_INCREMENTAL_MODE) != 0; }
bool Machine::JogInhibit() const { return motion_[K2T_MOTION_JOG_INHIBIT] != 0; }
double Machine::Rotation() const { return Read<double>(setup_, K2T_SETUP_ROTATION_ANGLE); }
double Machine::JogUnitFactor() const { return Read<double>(planner_, K2T_PLANNER_JOG_UNIT_FACTOR); }
double Machine::MaxVelocity(int axis) const { return axes_[static_cast<std::size_t>(axis)].max_velocity; }

bool Machine::AxisMoving(int axis) const {
  const auto a = static_cast<std::size_t>(axis);
  if (jogs_[a].velocity != 0.0 || jogs_[a].target != 0.0) return true;
  if (moves_.empty() || GetLED(805) || InReset()) return false;
  return moves_.front().target[a] != pos_[a];
}

bool Machine::AnyAxisMoving() const {
  for (int axis = 0; axis < kAxes; ++axis)
    if (AxisMoving(axis)) return true;
  return false;
}

// ---- host state set by a script or the user --------------------------------

void Machine::SetLed(int code, bool on) {
  leds_[code] = on;
  SyncRecords();
}

void Machine::SetDro(int code, double value) {
  if (code >= 800 && code < 800 + kAxes) {
    const auto a = static_cast<std::size_t>(code - 800);
    if (GetLED(16) || GetLED(163)) pos_[a] = value;  // the shown value is the machine's own
    else Offsets()[a] = pos_[a] - value;
    return;
  }
  dros_[code] = value;
  if (code == 828) Write<double>(planner_, K2T_PLANNER_JOG_UNIT_FACTOR, value);
}

void Machine::SetMotionBusy(bool busy) {
  extra_motion_ = busy;
  SyncRecords();
}
void Machine::SetPlannerBusy(bool busy) {
  extra_planner_ = busy;
  SyncRecords();
}
void Machine::SetPlannerQueueBusy(bool busy) {
  extra_planner_queue_ = busy;
  SyncRecords();
}
void Machine::SetJogInhibit(bool inhibit) { motion_[K2T_MOTION_JOG_INHIBIT] = inhibit ? 1 : 0; }
void Machine::SetRotation(double degrees) { Write<double>(setup_, K2T_SETUP_ROTATION_ANGLE, degrees); }
void Machine::SetIncremental(bool incremental) {
  Write<std::int32_t>(setup_, K2T_SETUP_INCREMENTAL_MODE, incremental ? 1 : 0);
}
void Machine::SetMaxVelocity(int axis, double units_per_second) {
  axes_[static_cast<std::size_t>(axis)].max_velocity = units_per_second;
  WriteAxisLimits(axis);
}

// ---- the module's calls ------------------------------------------------------

void Machine::SetDRO(int code, double value) {
  if (passive_) return;
  SetDro(code, value);
}

void Machine::DoButton(int code) {
  if (passive_) return;
  if (code >= 334 && code <= 339) {
    StopJog(code - 334);
    return;
  }
  switch (code) {
    case 1021:
      if (!InReset()) {
        StopAll(true);
        ChangeLed(804, false);
        ChangeLed(805, false);
        ChangeLed(11, false);
        ChangeLed(800, true);
        Note("E-stop: everything stopped; the next 1021 resets");
      } else {
        ChangeLed(800, false);
        Note("reset: ready");
      }
      break;
    case 1000:
      if (InReset()) Note("cycle start ignored: E-stop / Reset active");
      else if (GetLED(805)) {
        ChangeLed(805, false);
        ChangeLed(804, true);
        Note("program resumed");
      } else if (!GetLED(804)) {
        ChangeLed(804, true);
        Note("program started at line " + std::to_string(program_next_ + 1));
      }
      break;
    case 1001:
      if (GetLED(804)) {
        ChangeLed(804, false);
        ChangeLed(805, true);
        Note("feed hold: program paused");
      }
      break;
    case 1003:
      StopAll(true);
      if (GetLED(804) || GetLED(805)) Note("program stopped");
      ChangeLed(804, false);
      ChangeLed(805, false);
      break;
    case 1002:
      if (GetLED(804)) break;
      program_next_ = 0;
      dros_[816] = 0;
      Note("program rewound");
      break;
    case 110:
      if (InReset()) break;
      ChangeLed(11, !GetLED(11));
      break;
    case 204:
    case 205:
    case 327:
      ChangeLed(14, code == 204);
      ChangeLed(15, code == 205);
      ChangeLed(57, code == 327);
      break;
    case 256: ChangeLed(16, !GetLED(16)); break;
    case 333: ChangeLed(163, !GetLED(163)); break;
    case 103: ChangeLed(83, !GetLED(83)); break;
    case 307: StartButtonJog(0, +1); break;
    case 308: StartButtonJog(0, -1); break;
    case 309: StartButtonJog(1, +1); break;
    case 310: StartButtonJog(1, -1); break;
    case 311: StartButtonJog(2, +1); break;
    case 1007:
      for (int axis = 0; axis < kAxes; ++axis) ZeroAxis(axis);
      break;
    case 1008:
    case 1009:
    case 1010:
    case 1011: ZeroAxis(code - 1008); break;
    case 1017: {
      if (InReset()) break;
      std::array<double, kAxes> target = PlannedEnd();
      for (std::size_t a = 0; a < 4; ++a) target[a] = Offsets()[a];
      Queue({target, 0, false});
      Note("going to the work zero");
      break;
    }
    case 138: {
      if (InReset()) break;
      Queue({std::array<double, kAxes>{}, 0, false});
      Note("going home");
      break;
    }
    default:
      if (code >= 1 && code <= 7) Note("screen " + std::to_string(code) + " shown");
      else if (code == 323) Note("TAB screen toggled");
      break;
  }
  SyncRecords();
}

void Machine::Code(std::string_view text) {
  if (passive_) return;
  if (text == "DOJOG") DoJog();
  else if (text == "ENDJOG") EndJog();
  else RunGCode(text);
  SyncRecords();
}

// ---- motion -------------------------------------------------------------------

std::array<double, kAxes> Machine::PlannedEnd() const { return moves_.empty() ? pos_ : moves_.back().target; }

void Machine::Queue(const Move& move) {
  if (moves_.empty()) {
    move_from_ = pos_;
    move_done_ = 0;
  }
  moves_.push_back(move);
  ++queued_;
}

void Machine::RunGCode(std::string_view text) {
  std::vector<Word> words;
  if (!ParseWords(text, words)) {
    Note("G-code not understood: " + Quote(text));
    return;
  }
  // Modal words first, as a controller reads a block: distance mode, motion
  // mode, feed; then the axis words make one move.
  std::array<double, kAxes> target = PlannedEnd();
  bool has_axis = false;
  for (const Word& w : words) {
    if (w.letter == 'G') {
      if (w.value == 90 || w.value == 91) SetIncremental(w.value == 91);
      else if (w.value == 0 || w.value == 1) motion_mode_ = static_cast<int>(w.value);
      else Note("G" + FormatNumber(w.value) + " not simulated");
    } else if (w.letter == 'F') {
      dros_[818] = w.value;
    } else if (w.letter == 'M') {
      Note("macro M" + FormatNumber(w.value));
    }
  }
  for (const Word& w : words) {
    const int axis = AxisIndex(std::string_view(&w.letter, 1));
    if (axis < 0) continue;
    const auto a = static_cast<std::size_t>(axis);
    target[a] = Incremental() ? target[a] + w.value : w.value + Offsets()[a];
    has_axis = true;
  }
  if (!has_axis) return;
  if (InReset()) {
    Note("move ignored: E-stop / Reset active");
    return;
  }
  const double feed = motion_mode_ == 0 ? 0.0 : GetDRO(818);
  Queue({target, feed, motion_mode_ == 1});
}

void Machine::DoJog() {
  if (InReset()) {
    Note("jog ignored: E-stop / Reset active");
    return;
  }
  if (!GetLED(83)) {
    Note("jog ignored: jogging is off (LED 83)");
    return;
  }
  for (int axis = 0; axis < kAxes; ++axis) {
    const std::size_t base = K2T_MOTION_AXIS_JOG + static_cast<std::size_t>(axis) * K2T_MOTION_AXIS_JOG_STRIDE;
    if (motion_[base + K2T_AXIS_JOG_ACTIVE] == 0 || motion_[base + K2T_AXIS_JOG_STOP] != 0) continue;
    const auto velocity = Read<std::int32_t>(motion_, base + K2T_AXIS_JOG_VELOCITY);
    const auto max_velocity = Read<std::int32_t>(motion_, base + K2T_AXIS_JOG_MAX_VELOCITY);
    const auto acceleration = Read<std::int32_t>(motion_, base + K2T_AXIS_JOG_ACCELERATION);
    const auto direction = Read<std::int32_t>(motion_, base + K2T_AXIS_JOG_DIRECTION);
    const AxisConfig& c = axes_[static_cast<std::size_t>(axis)];
    const double steps = std::min(std::abs(static_cast<double>(velocity)), std::abs(static_cast<double>(max_velocity)));
    Jog& jog = jogs_[static_cast<std::size_t>(axis)];
    const double target = (direction == 1 ? -1.0 : 1.0) * steps / c.steps_per_unit;
    if (jog.target == 0.0 && target != 0.0)
      Note(std::string("jog ") + AxisLetter(axis) + (target > 0 ? "+" : "-") + " at " +
           FormatFixed(std::abs(target), 4) + " units/s");
    jog.target = target;
    jog.acceleration = acceleration > 0 ? acceleration / c.steps_per_unit : 0.0;
  }
}

void Machine::EndJog() {
  for (int axis = 0; axis < kAxes; ++axis) {
    const std::size_t base = K2T_MOTION_AXIS_JOG + static_cast<std::size_t>(axis) * K2T_MOTION_AXIS_JOG_STRIDE;
    if (motion_[base + K2T_AXIS_JOG_STOP] != 0) StopJog(axis);
  }
}

void Machine::StartButtonJog(int axis, int sign) {
  if (InReset() || !GetLED(83)) return;
  const AxisConfig& c = axes_[static_cast<std::size_t>(axis)];
  Jog& jog = jogs_[static_cast<std::size_t>(axis)];
  jog.target = sign * c.max_velocity * GetDRO(3) / 100.0;
  jog.acceleration = c.acceleration;
  Note(std::string("jog ") + AxisLetter(axis) + (sign > 0 ? "+" : "-") + " at " + FormatNumber(GetDRO(3)) + "%");
}

void Machine::StopJog(int axis) {
  Jog& jog = jogs_[static_cast<std::size_t>(axis)];
  if (jog.target != 0.0) Note(std::string("jog ") + AxisLetter(axis) + " stopping");
  jog.target = 0.0;
}

void Machine::StopAll(bool flush_moves) {
  for (Jog& jog : jogs_) jog = Jog{};
  if (flush_moves) {
    moves_.clear();
    completed_ = queued_;
    move_done_ = 0;
  }
}

void Machine::ZeroAxis(int axis) {
  const auto a = static_cast<std::size_t>(axis);
  Offsets()[a] = pos_[a];
  Note(std::string("zero ") + AxisLetter(axis));
}

void Machine::ProgramStep() {
  if (program_next_ >= kProgramLines) {
    program_next_ = 0;
    ChangeLed(804, false);
    Note("program end");
    return;
  }
  dros_[816] = static_cast<double>(program_next_ + 1);
  const std::string_view line = kProgram[program_next_++];
  Note("line " + std::to_string(program_next_) + ": " + std::string(line));
  RunGCode(line);
}

void Machine::Advance(double dt) {
  if (passive_) return;
  for (int axis = 0; axis < kAxes; ++axis) {
    Jog& jog = jogs_[static_cast<std::size_t>(axis)];
    const double before = jog.velocity;
    if (jog.acceleration <= 0) {
      jog.velocity = jog.target;
    } else {
      const double change = jog.acceleration * dt;
      if (std::abs(jog.target - jog.velocity) <= change) jog.velocity = jog.target;
      else jog.velocity += jog.target > jog.velocity ? change : -change;
    }
    pos_[static_cast<std::size_t>(axis)] += (before + jog.velocity) / 2 * dt;
    if (before != 0.0 && jog.velocity == 0.0 && jog.target == 0.0)
      Note(std::string("jog ") + AxisLetter(axis) + " stopped");
  }

  const bool held = GetLED(805) || InReset();
  double time = dt;
  // A running program feeds its next line whenever the queue runs dry.
  if (GetLED(804) && moves_.empty()) ProgramStep();
  while (!held && time > 0 && !moves_.empty()) {
    const Move& move = moves_.front();
    double distance = 0;
    for (std::size_t a = 0; a < kAxes; ++a) distance += std::pow(move.target[a] - move_from_[a], 2);
    distance = std::sqrt(distance);
    // Path speed: the feed (or the fastest rapid), no axis above its limit.
    double speed = move.feed > 0 ? move.feed / 60.0 * (move.feed_override ? GetDRO(821) / 100.0 : 1.0) : 1e9;
    for (std::size_t a = 0; a < kAxes && distance > 0; ++a) {
      const double share = std::abs(move.target[a] - move_from_[a]) / distance;
      if (share > 0) speed = std::min(speed, axes_[a].max_velocity / share);
    }
    if (distance > 0 && speed <= 0) break;
    const double remaining = distance - move_done_;
    if (distance == 0 || speed * time >= remaining) {
      pos_ = move.target;
      time -= distance == 0 ? 0 : remaining / speed;
      moves_.pop_front();
      ++completed_;
      move_from_ = pos_;
      move_done_ = 0;
      if (GetLED(804) && moves_.empty()) ProgramStep();
    } else {
      move_done_ += speed * time;
      for (std::size_t a = 0; a < kAxes; ++a)
        pos_[a] = move_from_[a] + (move.target[a] - move_from_[a]) * (move_done_ / distance);
      time = 0;
    }
  }
  SyncRecords();
}

}  // namespace bench
