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
    // tick is dropped, and its last report is stale from now on.
    std::memcpy(RawReport, PreviousReport, sizeof RawReport);
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
