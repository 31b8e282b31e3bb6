#include "script.h"

#include <fnmatch.h>

#include <cmath>
#include <fstream>
#include <sstream>

#include "names.h"
#include "text.h"

namespace bench {

namespace {

struct Token {
  std::string text;
  bool quoted;
  std::size_t begin;  // offset in the line
};

// Splits a line into words and quoted texts; "#" outside quotes starts a
// comment. Quoted texts know \" \\ and \xNN.
bool Tokenize(std::string_view line, std::vector<Token>& tokens, std::string& code, std::string& error) {
  std::size_t i = 0;
  std::size_t end_of_code = line.size();
  while (i < line.size()) {
    const char c = line[i];
    if (c == ' ' || c == '\t' || c == '\r') {
      ++i;
    } else if (c == '#') {
      end_of_code = i;
      break;
    } else if (c == '"') {
      Token t{"", true, i};
      ++i;
      bool closed = false;
      while (i < line.size()) {
        const char q = line[i++];
        if (q == '"') {
          closed = true;
          break;
        }
        if (q != '\\') {
          t.text += q;
          continue;
        }
        if (i >= line.size()) break;
        const char e = line[i++];
        if (e == 'x' && i + 2 <= line.size()) {
          const std::optional<long> byte = ParseInteger("0x" + std::string(line.substr(i, 2)));
          if (!byte) {
            error = "bad \\x escape";
            return false;
          }
          t.text += static_cast<char>(*byte);
          i += 2;
        } else if (e == '"' || e == '\\') {
          t.text += e;
        } else {
          error = std::string("unknown escape \\") + e;
          return false;
        }
      }
      if (!closed) {
        error = "unterminated quoted text";
        return false;
      }
      tokens.push_back(std::move(t));
    } else {
      Token t{"", false, i};
      while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r' && line[i] != '#') t.text += line[i++];
      tokens.push_back(std::move(t));
    }
  }
  code = std::string(line.substr(0, end_of_code));
  while (!code.empty() && (code.back() == ' ' || code.back() == '\t' || code.back() == '\r')) code.pop_back();
  return true;
}

class LineParser {
 public:
  LineParser(const std::vector<Token>& tokens, const std::string& code) : t_(tokens), code_(code) {}

  std::size_t size() const { return t_.size(); }
  const std::string& word(std::size_t i) const { return t_[i].text; }
  bool is(std::size_t i, std::string_view w) const { return i < t_.size() && !t_[i].quoted && t_[i].text == w; }
  // The line from token i on, as written.
  std::string rest(std::size_t i) const { return i < t_.size() ? code_.substr(t_[i].begin) : std::string(); }

  bool Integer(std::size_t i, long lo, long hi, long& out) {
    if (i >= t_.size()) return Error("a number is missing");
    const std::optional<long> v = ParseInteger(t_[i].text);
    if (!v || *v < lo || *v > hi)
      return Error("\"" + t_[i].text + "\" is not a whole number from " + std::to_string(lo) + " to " + std::to_string(hi));
    out = *v;
    return true;
  }
  bool Number(std::size_t i, double& out) {
    if (i >= t_.size()) return Error("a number is missing");
    const std::optional<double> v = ParseNumber(t_[i].text);
    if (!v) return Error("\"" + t_[i].text + "\" is not a number");
    out = *v;
    return true;
  }
  bool Choice(std::size_t i, std::string_view yes, std::string_view no, bool& out) {
    if (is(i, yes) || is(i, no)) {
      out = is(i, yes);
      return true;
    }
    return Error("expected " + std::string(yes) + " or " + std::string(no));
  }
  bool Quoted(std::size_t i, std::string& out) {
    if (i >= t_.size() || !t_[i].quoted) return Error("a quoted text is missing");
    out = t_[i].text;
    return true;
  }
  bool Axis(std::size_t i, long& out) {
    const int axis = i < t_.size() ? AxisIndex(t_[i].text) : -1;
    if (axis < 0) return Error("an axis letter X, Y, Z, A, B or C is missing");
    out = axis;
    return true;
  }
  bool End(std::size_t i) { return i >= t_.size() ? true : Error("unexpected \"" + t_[i].text + "\""); }
  bool Error(std::string what) {
    if (error.empty()) error = std::move(what);
    return false;
  }

  std::string error;

 private:
  const std::vector<Token>& t_;
  const std::string& code_;
};

bool ParseExpect(LineParser& p, Command& c) {
  if (p.is(1, "display")) {
    if (p.is(2, "contains")) {
      c.op = Command::kExpectDisplayContains;
      return p.Quoted(3, c.text) && p.End(4);
    }
    c.op = Command::kExpectDisplay;
    return p.Quoted(2, c.text) && p.End(3);
  }
  if (p.is(1, "call")) {
    c.op = Command::kExpectCall;
    c.text = p.rest(2);
    return !c.text.empty() || p.Error("expect call needs what to look for");
  }
  if (p.is(1, "no") && p.is(2, "call")) {
    c.op = Command::kExpectNoCall;
    c.text = p.rest(3);
    return true;
  }
  if (p.is(1, "dro")) {
    c.op = Command::kExpectDro;
    if (!p.Integer(2, 0, 100000, c.n)) return false;
    std::size_t i = 3;
    c.compare = "=";
    for (const char* op : {"=", "<", ">", "<=", ">="})
      if (p.is(i, op)) {
        c.compare = op;
        ++i;
        break;
      }
    if (!p.Number(i++, c.value)) return false;
    c.tolerance = 1e-6;
    if (p.is(i, "within")) {
      if (!p.Number(i + 1, c.tolerance)) return false;
      i += 2;
    }
    return p.End(i);
  }
  if (p.is(1, "byte")) {
    c.op = Command::kExpectByte;
    return p.Integer(2, 0, 20, c.n) && p.Integer(3, 0, 255, c.m) && p.End(4);
  }
  if (p.is(1, "led")) {
    c.op = Command::kExpectLed;
    return p.Integer(2, 0, 100000, c.n) && p.Choice(3, "on", "off", c.flag) && p.End(4);
  }
  if (p.is(1, "message")) {
    c.op = Command::kExpectMessage;
    return p.Quoted(2, c.text) && p.End(3);
  }
  if (p.is(1, "moving")) {
    c.op = Command::kExpectMoving;
    return p.Axis(2, c.n) && p.End(3);
  }
  if (p.is(1, "stopped")) {
    c.op = Command::kExpectStopped;
    c.n = -1;
    if (p.size() > 2) return p.Axis(2, c.n) && p.End(3);
    return true;
  }
  if (p.is(1, "profile")) {
    c.op = Command::kExpectProfile;
    return p.Choice(2, "contains", "lacks", c.flag) && p.Quoted(3, c.text) && p.End(4);
  }
  return p.Error("unknown expectation; see the README for the list");
}

bool ParseCommand(LineParser& p, Command& c) {
  const std::string& w = p.word(0);
  if (w == "expect") return ParseExpect(p, c);
  if (w == "wheel") {
    c.op = Command::kWheel;
    if (!p.Integer(1, -32767, 32767, c.n)) return false;
    c.m = 1;
    c.k = VirtualPendant::kDefaultRate;
    std::size_t i = 2;
    while (i < p.size()) {
      if (p.is(i, "ticks")) {
        if (!p.Integer(i + 1, 1, 100000, c.m)) return false;
      } else if (p.is(i, "rate")) {
        if (!p.Integer(i + 1, 0, 255, c.k)) return false;
      } else {
        return p.End(i);
      }
      i += 2;
    }
    // More than 127 detents between two reports would read as a turn the other way.
    if (std::abs(c.n) > 127 * c.m) return p.Error("at most 127 detents per report: spread the turn over more ticks");
    return true;
  }
  if (w == "press" || w == "release") {
    c.op = w == "press" ? Command::kPress : Command::kRelease;
    for (std::size_t i = 1; i < p.size(); ++i) {
      Control control;
      if (!ControlByName(p.word(i), control))
        return p.Error("unknown control \"" + p.word(i) + "\" (estop spindle start stop en x y z f1 f2 f3)");
      c.controls.push_back(control);
    }
    return !c.controls.empty() || p.Error("which control?");
  }
  if (w == "estop") {
    c.op = Command::kEStop;
    return p.Choice(1, "on", "off", c.flag) && p.End(2);
  }
  if (w == "mode") {
    c.op = Command::kMode;
    return p.Integer(1, 0, 7, c.n) && p.End(2);
  }
  if (w == "tick" || w == "update") {
    c.op = w == "tick" ? Command::kTick : Command::kUpdate;
    c.n = 1;
    return (p.size() < 2 || p.Integer(1, 1, 10000000, c.n)) && p.End(2);
  }
  if (w == "led") {
    c.op = Command::kLed;
    return p.Integer(1, 0, 100000, c.n) && p.Choice(2, "on", "off", c.flag) && p.End(3);
  }
  if (w == "dro") {
    c.op = Command::kDro;
    return p.Integer(1, 0, 100000, c.n) && p.Number(2, c.value) && p.End(3);
  }
  if (w == "motion" || w == "planner" || w == "planner-queue") {
    c.op = w == "motion" ? Command::kMotion : w == "planner" ? Command::kPlanner : Command::kPlannerQueue;
    return p.Choice(1, "busy", "idle", c.flag) && p.End(2);
  }
  if (w == "jog-inhibit" || w == "incremental") {
    c.op = w == "jog-inhibit" ? Command::kJogInhibit : Command::kIncremental;
    return p.Choice(1, "on", "off", c.flag) && p.End(2);
  }
  if (w == "rotation") {
    c.op = Command::kRotation;
    return p.Number(1, c.value) && p.End(2);
  }
  if (w == "maxvel") {
    c.op = Command::kMaxVel;
    return p.Axis(1, c.n) && p.Number(2, c.value) && p.End(3);
  }
  if (w == "plug" || w == "unplug") {
    c.op = w == "plug" ? Command::kPlug : Command::kUnplug;
    c.flag = p.is(1, "other");  // the other HID device, not the pendant
    return p.End(c.flag ? 2 : 1);
  }
  if (w == "report-rate") {
    c.op = Command::kReportRate;
    if (!p.Number(1, c.value) || !p.End(2)) return false;
    if (c.value < 0 || c.value > 10000) return p.Error("report-rate takes 0 (one per tick) to 10000 reports/s");
    return true;
  }
  if (w == "config") {
    c.op = Command::kConfig;
    return p.End(1);
  }
  if (w == "say") {
    c.op = Command::kSay;
    return p.Quoted(1, c.text) && p.End(2);
  }
  return p.Error("unknown command \"" + w + "\"");
}

std::string OnOff(bool on) { return on ? "on" : "off"; }

std::string CallList(const std::vector<std::string>& calls) {
  if (calls.empty()) return "no calls";
  std::string out;
  for (const std::string& call : calls) out += "\n    " + call;
  return out;
}

bool Matches(const std::string& pattern, const std::string& call) {
  return fnmatch(pattern.c_str(), call.c_str(), 0) == 0;
}

}  // namespace

std::optional<Script> ParseScript(const std::string& text, const std::string& name, std::string& error) {
  Script script{name, {}};
  std::istringstream in(text);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    std::vector<Token> tokens;
    std::string code, why;
    if (!Tokenize(line, tokens, code, why)) {
      error = name + ":" + std::to_string(number) + ": " + why;
      return std::nullopt;
    }
    if (tokens.empty()) continue;
    LineParser parser(tokens, code);
    Command command{};
    command.line = number;
    command.source = code.substr(code.find_first_not_of(" \t"));
    if (!ParseCommand(parser, command)) {
      error = name + ":" + std::to_string(number) + ": " + parser.error + ": " + command.source;
      return std::nullopt;
    }
    script.commands.push_back(std::move(command));
  }
  return script;
}

// ---- running ------------------------------------------------------------------------------

ScriptRunner::ScriptRunner(Script script, Bench& bench) : script_(std::move(script)), bench_(bench) {}

void ScriptRunner::OnEvent(const Event& event) {
  if (event.kind == EventKind::kCall) calls_.push_back(event.text);
}

ScriptRunner::Status ScriptRunner::Run() {
  while (waiting_ == 0 && next_ < script_.commands.size()) {
    const Command& c = script_.commands[next_++];
    if (c.op != Command::kSay) bench_.Emit(EventKind::kScript, std::to_string(c.line) + ": " + c.source);
    const int failures_before = failures_;
    Execute(c);
    if (failures_ > failures_before && !keep_going) return Status::kFailed;
  }
  if (waiting_ > 0) return Status::kWaiting;
  return failures_ > 0 ? Status::kFailed : Status::kDone;
}

bool ScriptRunner::TickPassed() { return waiting_ > 0 && --waiting_ == 0; }

void ScriptRunner::Execute(const Command& c) {
  VirtualPendant& pendant = bench_.pendant();
  Machine& machine = bench_.machine();
  // Expectations about calls look at the calls of the last line that let
  // the module run.
  if (c.op == Command::kTick || c.op == Command::kUpdate || c.op == Command::kPlug || c.op == Command::kUnplug ||
      c.op == Command::kConfig)
    calls_.clear();
  switch (c.op) {
    case Command::kWheel: pendant.Turn(static_cast<int>(c.n), static_cast<int>(c.m), static_cast<int>(c.k)); break;
    case Command::kPress:
    case Command::kRelease:
      for (const Control control : c.controls) pendant.Set(control, c.op == Command::kPress);
      break;
    case Command::kEStop: pendant.Set(Control::kEStop, c.flag); break;
    case Command::kMode: pendant.SelectMode(static_cast<int>(c.n), false); break;
    case Command::kTick:
      if (!bench_.virtual_time()) {
        waiting_ = c.n;
      } else {
        for (long i = 0; i < c.n; ++i) bench_.Tick();
      }
      break;
    case Command::kUpdate:
      for (long i = 0; i < c.n; ++i) bench_.CallUpdate();
      break;
    case Command::kLed: machine.SetLed(static_cast<int>(c.n), c.flag); break;
    case Command::kDro: machine.SetDro(static_cast<int>(c.n), c.value); break;
    case Command::kMotion: machine.SetMotionBusy(c.flag); break;
    case Command::kPlanner: machine.SetPlannerBusy(c.flag); break;
    case Command::kPlannerQueue: machine.SetPlannerQueueBusy(c.flag); break;
    case Command::kJogInhibit: machine.SetJogInhibit(c.flag); break;
    case Command::kRotation: machine.SetRotation(c.value); break;
    case Command::kIncremental: machine.SetIncremental(c.flag); break;
    case Command::kMaxVel: machine.SetMaxVelocity(static_cast<int>(c.n), c.value); break;
    case Command::kPlug: bench_.Plug(c.flag); break;
    case Command::kUnplug: bench_.Unplug(c.flag); break;
    case Command::kConfig: bench_.CallConfig(); break;
    case Command::kReportRate: pendant.SetReportRate(c.value); break;
    case Command::kSay: bench_.Emit(EventKind::kSay, c.text); break;
    default: {
      std::string expected, seen;
      if (!Check(c, expected, seen)) Fail(c, expected, seen);
      break;
    }
  }
}

bool ScriptRunner::Check(const Command& c, std::string& expected, std::string& seen) {
  const VirtualPendant& pendant = bench_.pendant();
  const Machine& machine = bench_.machine();
  switch (c.op) {
    case Command::kExpectDisplay:
    case Command::kExpectDisplayContains: {
      const std::string display = pendant.Display();
      expected = (c.op == Command::kExpectDisplay ? "" : "a display containing ") + Quote(c.text);
      seen = pendant.has_output() ? Quote(display) : "nothing written to the pendant yet";
      return pendant.has_output() &&
             (c.op == Command::kExpectDisplay ? display == c.text : display.find(c.text) != std::string::npos);
    }
    case Command::kExpectCall: {
      for (auto it = calls_.begin(); it != calls_.end(); ++it) {
        if (!Matches(c.text, *it)) continue;
        calls_.erase(calls_.begin(), it + 1);  // this call and the ones before it are accounted for
        return true;
      }
      expected = "a call " + c.text;
      seen = "calls left after the last match: " + CallList(calls_);
      return false;
    }
    case Command::kExpectNoCall: {
      expected = c.text.empty() ? "no call" : "no call " + c.text;
      seen = CallList(calls_);
      if (c.text.empty()) return calls_.empty();
      for (const std::string& call : calls_)
        if (Matches(c.text, call)) return false;
      return true;
    }
    case Command::kExpectDro: {
      const double v = machine.GetDRO(static_cast<int>(c.n));
      seen = FormatNumber(v);
      expected = "DRO " + std::to_string(c.n) + " " + c.compare + " " + FormatNumber(c.value);
      if (c.compare == "=") {
        expected += " within " + FormatNumber(c.tolerance);
        return std::abs(v - c.value) <= c.tolerance;
      }
      if (c.compare == "<") return v < c.value;
      if (c.compare == ">") return v > c.value;
      if (c.compare == "<=") return v <= c.value;
      return v >= c.value;
    }
    case Command::kExpectByte: {
      const int v = pendant.output()[static_cast<std::size_t>(c.n)];
      expected = "byte " + std::to_string(c.n) + " = " + std::to_string(c.m);
      seen = std::to_string(v) + (pendant.has_output() ? "" : " (nothing written yet)");
      return pendant.has_output() && v == c.m;
    }
    case Command::kExpectLed:
      expected = "LED " + std::to_string(c.n) + " " + OnOff(c.flag);
      seen = OnOff(machine.GetLED(static_cast<int>(c.n)));
      return machine.GetLED(static_cast<int>(c.n)) == c.flag;
    case Command::kExpectMessage:
      expected = Quote(c.text);
      seen = Quote(machine.MessageText());
      return machine.MessageText() == c.text;
    case Command::kExpectMoving:
    case Command::kExpectStopped: {
      const bool moving = c.n >= 0 ? machine.AxisMoving(static_cast<int>(c.n)) : machine.AnyAxisMoving();
      const std::string what = c.n >= 0 ? std::string("axis ") + AxisLetter(static_cast<int>(c.n)) : "every axis";
      expected = what + (c.op == Command::kExpectMoving ? " moving" : " stopped");
      seen = what + (moving ? " moving" : " stopped");
      return moving == (c.op == Command::kExpectMoving);
    }
    case Command::kExpectProfile: {
      std::ifstream file(bench_.options().profile_path, std::ios::binary);
      std::ostringstream content;
      content << file.rdbuf();
      const bool found = file.is_open() && content.str().find(c.text) != std::string::npos;
      expected = std::string("the profile ") + (c.flag ? "containing " : "without ") + Quote(c.text);
      seen = !file.is_open() ? "no profile file at " + bench_.options().profile_path
                             : (found ? "it is there" : "it is not there");
      return found == c.flag;
    }
    default: return true;
  }
}

void ScriptRunner::Fail(const Command& c, const std::string& expected, const std::string& seen) {
  ++failures_;
  last_failure_ = script_.name + ":" + std::to_string(c.line) + ": expectation failed: " + c.source +
                  "\n  expected: " + expected + "\n  seen:     " + seen;
  bench_.Emit(EventKind::kFail, last_failure_);
}

// ---- trace lines ----------------------------------------------------------------------------

void TracePrinter::operator()(const Event& e) {
  if (e.kind == EventKind::kBoundary) {
    held_boundary_ = e.text;
    held_time_ = e.time;
    return;
  }
  auto stamp = [](double time) {
    std::string t = FormatFixed(time, 3);
    return std::string(t.size() < 8 ? 8 - t.size() : 0, ' ') + t;
  };
  if (e.kind == EventKind::kScript || e.kind == EventKind::kEntry || e.kind == EventKind::kPendant) {
    // These happen between ticks: a held tick had nothing in it.
    held_boundary_.clear();
  } else if (!held_boundary_.empty()) {
    std::fprintf(out_, "%s %s\n", stamp(held_time_).c_str(), held_boundary_.c_str());
    held_boundary_.clear();
  }
  const char* kind = "";
  switch (e.kind) {
    case EventKind::kEntry: kind = "entry"; break;
    case EventKind::kCall: kind = "call"; break;
    case EventKind::kRead: kind = "read"; break;
    case EventKind::kMessage: kind = "message"; break;
    case EventKind::kDisplay: kind = "display"; break;
    case EventKind::kMachine: kind = "machine"; break;
    case EventKind::kPendant: kind = "pendant"; break;
    case EventKind::kSay: kind = "say"; break;
    case EventKind::kFail: kind = "FAIL"; break;
    case EventKind::kScript: kind = "script"; break;
    case EventKind::kBoundary: break;
  }
  std::string line = stamp(e.time) + " " + kind + " " + e.text;
  if (!e.note.empty()) line += "  [" + e.note + "]";
  std::fprintf(out_, "%s\n", line.c_str());
  std::fflush(out_);
}

}  // namespace bench
