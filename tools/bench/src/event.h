// What happens on the bench, as one stream: the trace printer, the terminal
// UI's log and the script's expectations all read it.
#pragma once

#include <functional>
#include <string>

namespace bench {

enum class EventKind {
  kEntry,    // an entry point the bench called: "PostInitControl"
  kCall,     // a callback with an effect: "DoButton 1021", "Code \"G90\"", "SetDRO 821 100"
  kRead,     // a callback that only reads: "GetDRO 800 -> 0.003"
  kMessage,  // the host's message line changed: the new text, quoted
  kDisplay,  // the pendant's display or indicator byte changed
  kMachine,  // the simulated machine changed state on its own or by a call
  kPendant,  // plug, unplug, or a control of the pendant
  kSay,      // a caption of a script
  kFail,     // an expectation that did not hold
  kBoundary, // "tick 12", "update 3": what follows happened in it
  kScript,   // a script line about to run: "12: wheel +3"
};

struct Event {
  EventKind kind;
  double time;          // seconds since the start, virtual or real
  std::string text;     // what a script's expectation matches
  std::string note;     // a name for a code, shown after the text
};

using EventSink = std::function<void(const Event&)>;

}  // namespace bench
