// One poll cycle: counters, the host-idle sample, one input report, the
// behaviour, one output report; and the tick that runs inside it when a host
// callback pumps messages.
#include <cstring>

#include "behaviour/handlers.h"
#include "link/drovik_win.h"
#include "plugin/module.h"

namespace k2t {

namespace {
std::uint32_t ReadWord(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
         (static_cast<std::uint32_t>(bytes[2]) << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
}
}  // namespace

void DrovikWin::OnPollTick(unsigned /*timer_id*/) {
  // A host callback may run the host's message loop (a message box, a wait
  // for a move), and the timer then ticks inside a tick. Such a tick still
  // hears the E-stop; a tick inside that one is skipped.
  if (tick_depth_ >= 2) return;
  // Restored however the tick ends: a stuck depth would silence the pendant.
  struct Depth {
    int& depth;
    explicit Depth(int& d) : depth(d) { ++depth; }
    ~Depth() { --depth; }
  };
  if (tick_depth_ == 1) {
    Depth nested(tick_depth_);
    NestedTick();
    return;
  }
  {
    Depth outer(tick_depth_);
    Tick();
  }
  module_.host.HoldMotion(false);
  if (nested_fresh_report_) {
    // Detents turned while the host was busy are not applied as a burst.
    nested_fresh_report_ = false;
    CountWheelFromReportInForce();
  }
  // A device notice that arrived during the tick is handled once it is done,
  // so it never lands between a jog's start and its bookkeeping.
  while (!deferred_notices_.empty()) {
    const DeferredNotice notice = std::move(deferred_notices_.front());
    deferred_notices_.erase(deferred_notices_.begin());
    HandleDeviceChange(notice.type, notice.path);
  }
}

void DrovikWin::Tick() {
  if (ActivityCountdown == 0) ActivityCountdown = 160;
  --ActivityCountdown;
  if (WheelRateOf(ReportWord0) != 0) ActivityCountdown = 159;
  module_.input.StepPollCounters();
  SearchWhileLost();
  if (!Connected) return;

  const Host& host = module_.host;
  if (host.HostIdle()) ReturnToAbsolute = host.IncrementalMode() == 0;
  std::memcpy(PreviousReport, RawReport, sizeof RawReport);
  // The first report after the link was lost: whatever the wheel counter
  // did meanwhile (or a re-plugged pendant's new count) is not a turn.
  if (ReadReport() == ReadOutcome::kFresh && StaleReport) CountWheelFromReportInForce();
  DecodeReport();
  ComposeOutputReport();
  if (write_handle_) write_handle_->Write(OutputReport.data(), OutputReport.size());
}

// The tick the host's message loop ran inside a tick: the newest report
// becomes the one in force, and only the E-stop acts on it. Keys, the wheel
// and the display wait for the next tick, which decodes that same report.
void DrovikWin::NestedTick() {
  if (!Connected) return;
  const ReadOutcome read = ReadReport();
  if (read == ReadOutcome::kNothing) return;  // the outer tick already acted on what is in force
  if (read == ReadOutcome::kFresh) nested_fresh_report_ = true;
  Module& m = module_;
  m.input.EStopSwitch = EStopOf(ReadWord(RawReport));
  HandleEStop(*this);
  if (m.input.EStopSwitch) {
    // Nothing the interrupted tick was about to start may move the machine
    // after the E-stop.
    StopLinkMotion();
    m.host.HoldMotion(true);
  }
}

DrovikWin::ReadOutcome DrovikWin::ReadReport() {
  if (!read_handle_) return ReadOutcome::kNothing;  // RawReport keeps the previous report
  // Every report already waiting is taken and only the newest decoded: a
  // pendant that reports faster than the poll rate must never make the
  // module act on old input. One that has not arrived is the next tick's.
  InputReport before;
  std::memcpy(before, RawReport, sizeof before);
  bool fresh = false;
  ReadStart start = read_handle_->StartRead();
  for (int taken = 0; start == ReadStart::kCompleted;) {
    read_handle_->TakeReport(RawReport);
    fresh = true;
    if (++taken == kMaxReportsPerTick) break;
    start = read_handle_->StartRead();
  }
  if (start != ReadStart::kFailed) return fresh ? ReadOutcome::kFresh : ReadOutcome::kNothing;
  // The device is gone before its removal notice: what it sent in this
  // tick no longer counts, and its last report is stale from now on. Only
  // an E-stop press it did send is kept: the switch was pressed, and
  // losing the cable must never cost an E-stop (a release is not taken).
  const bool estop_pressed = fresh && EStopOf(ReadWord(RawReport));
  std::memcpy(RawReport, before, sizeof RawReport);
  if (estop_pressed) RawReport[3] = static_cast<std::uint8_t>(RawReport[3] | 0x01);
  if (!StaleReport) ClearStaleInputs();
  // A handle that failed never reads again: the link searches the bus for
  // the pendant until it answers.
  read_handle_.reset();
  return ReadOutcome::kFailed;
}

void DrovikWin::CountWheelFromReportInForce() {
  LastWheelCount = static_cast<std::int32_t>(WheelCounterOf(ReadWord(RawReport)));
  StaleReport = false;
}

void DrovikWin::DecodeReport() {
  ReportWord0 = ReadWord(RawReport);
  ReportWord1 = ReadWord(RawReport + 4);
  EnButton = module_.input.Decode(ReportWord0, ReportWord1);
  HandleEStop(*this);
  HandleAxisKeys(*this);
  EvaluateMode(*this);  // ends with the function-key functions
  HandleConfirmAndJog(*this);
  ProcessHandwheel();
}

}  // namespace k2t
