// Scripts: lines that work the pendant, set host state, let time pass and
// check what happened. Parsed whole before anything runs, so a typo on the
// last line is reported before the first tick.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "bench.h"
#include "event.h"
#include "pendant.h"

namespace bench {

struct Command {
  enum Op {
    kWheel, kPress, kRelease, kEStop, kMode, kTick, kUpdate,
    kLed, kDro, kMotion, kPlanner, kPlannerQueue, kJogInhibit, kRotation, kIncremental, kMaxVel,
    kPlug, kUnplug, kConfig, kSay, kReportRate,
    kExpectDisplay, kExpectDisplayContains, kExpectCall, kExpectNoCall, kExpectDro, kExpectByte,
    kExpectLed, kExpectMessage, kExpectMoving, kExpectStopped, kExpectProfile,
  };
  Op op;
  int line = 0;
  std::string source;  // the line as written, without its comment
  long n = 0, m = 0, k = 0;
  double value = 0, tolerance = 0;
  bool flag = false;
  std::string text, compare;
  std::vector<Control> controls;
};

struct Script {
  std::string name;  // for messages: the file name, or "demo"
  std::vector<Command> commands;
};

// On error returns nullopt and sets `error` to "NAME:LINE: what is wrong".
std::optional<Script> ParseScript(const std::string& text, const std::string& name, std::string& error);

class ScriptRunner {
 public:
  enum class Status { kWaiting, kDone, kFailed };

  ScriptRunner(Script script, Bench& bench);

  // Hears the bench's events; add it as a sink.
  void OnEvent(const Event& event);
  // Runs lines until the script ends or an expectation fails. In real time
  // a tick line waits: Run returns kWaiting and goes on when TickPassed has
  // counted the ticks.
  Status Run();
  // Real time: one module tick has passed. True when the script can go on.
  bool TickPassed();

  // Go on after a failed expectation (the demo in the terminal UI).
  bool keep_going = false;
  int failures() const { return failures_; }
  const std::string& last_failure() const { return last_failure_; }
  bool done() const { return next_ >= script_.commands.size() && waiting_ == 0; }

 private:
  void Execute(const Command& c);
  bool Check(const Command& c, std::string& expected, std::string& seen);
  void Fail(const Command& c, const std::string& expected, const std::string& seen);

  Script script_;
  Bench& bench_;
  std::size_t next_ = 0;
  long waiting_ = 0;
  int failures_ = 0;
  std::string last_failure_;
  // Calls of the last line that let the module run, after the last one an
  // expectation matched.
  std::vector<std::string> calls_;
};

// Prints events as trace lines (format in the README).
class TracePrinter {
 public:
  explicit TracePrinter(std::FILE* out) : out_(out) {}
  void operator()(const Event& event);

 private:
  std::FILE* out_;
  std::string held_boundary_;
  double held_time_ = 0;
};

}  // namespace bench
