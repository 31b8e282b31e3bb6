// One poll cycle: counters, the host-idle sample, one input report, the
// behaviour, one output report.
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
  // A host callback may run the host's message loop: a tick inside a tick
  // is skipped, and a device notice that arrives meanwhile is handled once
  // the tick is done, so it never lands between a jog's start and its
  // bookkeeping.
  if (ticking_) return;
  {
    // Cleared however the tick ends: a stuck flag would silence the pendant.
    struct Ticking {
      bool& flag;
      explicit Ticking(bool& f) : flag(f) { flag = true; }
      ~Ticking() { flag = false; }
    } ticking(ticking_);
    Tick();
  }
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
  if (!Connected) return;

  const Host& host = module_.host;
  if (host.HostIdle()) ReturnToAbsolute = host.IncrementalMode() == 0;
  std::memcpy(PreviousReport, RawReport, sizeof RawReport);
  ReadReport();
  DecodeReport();
  ComposeOutputReport();
  if (write_handle_) write_handle_->Write(OutputReport.data(), OutputReport.size());
}

void DrovikWin::ReadReport() {
  if (!read_handle_) return;  // RawReport keeps the previous report
  // Every report already waiting is taken and only the newest decoded: a
  // pendant that reports faster than the poll rate must never make the
  // module act on old input. The bounded wait is only for a tick that found
  // nothing waiting.
  bool fresh = false;
  ReadStart start = read_handle_->StartRead();
  for (int taken = 0; start == ReadStart::kCompleted;) {
    read_handle_->TakeReport(RawReport);
    fresh = true;
    if (++taken == kMaxReportsPerTick) break;
    start = read_handle_->StartRead();
  }
  if (start == ReadStart::kFailed) {
    // The device is gone before its removal notice: what it sent in this
    // tick no longer counts, and its last report is stale from now on. Only
    // an E-stop press it did send is kept: the switch was pressed, and
    // losing the cable must never cost an E-stop (a release is not taken).
    const bool estop_pressed = fresh && (RawReport[3] & 0x01) != 0;
    std::memcpy(RawReport, PreviousReport, sizeof RawReport);
    if (estop_pressed) RawReport[3] = static_cast<std::uint8_t>(RawReport[3] | 0x01);
    if (!StaleReport) ClearStaleInputs();
    return;
  }
  if (!fresh && start == ReadStart::kPending && read_handle_->WaitRead(kReadWaitMs)) {
    read_handle_->TakeReport(RawReport);
    fresh = true;
  }
  if (!fresh) return;
  if (StaleReport) {
    // The first report after the link was lost: whatever the wheel counter
    // did meanwhile (or a re-plugged pendant's new count) is not a turn.
    LastWheelCount = static_cast<std::int32_t>(WheelCounterOf(ReadWord(RawReport)));
    StaleReport = false;
  }
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
