// The hidden window that ties the pendant to the host: it owns the device
// link, the last input report, the output report and the per-pendant state of
// the behaviour, and runs one poll cycle per 25 ms timer tick.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "behaviour/window_state.h"
#include "link/hid.h"

namespace k2t {

class Module;

class DrovikWin {
 public:
  explicit DrovikWin(Module& module);
  ~DrovikWin();  // closes every valid handle, then ends timer and notices
  DrovikWin(const DrovikWin&) = delete;
  DrovikWin& operator=(const DrovikWin&) = delete;

  void SetPorts(WindowPorts ports) {
    bus_ = std::move(ports.bus);
    services_ = std::move(ports.services);
  }

  // Device link.
  bool OpenPendant();
  bool HandleDeviceChange(int event_type, std::string_view path);
  bool IsPendantPath(std::string_view path) const;
  // The host is gone without StopPlug: destruction calls nothing of its.
  void ForgetHost();

  // One poll cycle.
  void OnPollTick(unsigned timer_id = kPollTimerId);
  void DecodeReport();
  void ComposeOutputReport();

  // Handwheel (the wheel's branches of HandleWheelAction live in behaviour/).
  void ProcessHandwheel();
  void HandleWheelAction(int direction, int steps);
  void StartHostJog(double velocity, int direction);
  void StopHostJog();
  void EndWheelJog();

  // Ends whatever a wheel or function-key jog left running on the host; used
  // when the link to the pendant is lost and at shutdown.
  void StopLinkMotion();
  // Ends the timer and the notices first, so that no tick can start a jog
  // in between, then ends the link's motion.
  void Shutdown();

  Module& module() { return module_; }
  bool read_handle_valid() const { return read_handle_ != nullptr; }
  bool write_handle_valid() const { return write_handle_ != nullptr; }
  bool probe_handle_valid() const { return probe_handle_ != nullptr; }

  // The link's fields, the mode and axis selection, and the behaviour's
  // per-window state in its groups.
  std::int32_t LastWheelCount = 0;
  std::int32_t SelectedAxis = 0;
  std::string DevicePath;
  bool ReturnToAbsolute = true;
  std::int32_t PrevSelectedAxis = 1;
  std::int32_t ActionMode = 2;
  // Starts equal to ActionMode: the first cycle sends no mode-change code.
  std::int32_t PrevActionMode = 2;
  bool EnButton = false;
  HandwheelState wheel;
  TablePositions positions;
  std::int32_t ActivityCountdown = 0;
  std::uint32_t ReportWord0 = 0;
  std::uint32_t ReportWord1 = 0;
  InputReport RawReport{};
  bool Connected = false;
  std::array<std::uint8_t, kOutputReportSize> OutputReport{};
  InputReport PreviousReport{};
  // The report in RawReport predates the link's last loss: it is decoded
  // without keys or wheel rate until a fresh report arrives.
  bool StaleReport = false;

 private:
  struct Found {
    std::string path;
    std::unique_ptr<HidDevice> probe;  // null: no pendant on the bus
    std::unique_ptr<HidDevice> read;   // null: none of the pendants could be opened for reading
  };
  enum class ReadOutcome { kNothing, kFresh, kFailed };

  Found FindPendant();
  bool StillAnswersAtPath();
  void Reconnect();
  void SearchWhileLost();
  void CloseReadWrite();
  void LoseLink();
  void ClearStaleInputs();
  ReadOutcome ReadReport();
  // The wheel counts on from the report in force, which is fresh: what the
  // counter did before it is not a turn.
  void CountWheelFromReportInForce();
  void Tick();
  void NestedTick();

  struct DeferredNotice {
    int type;
    std::string path;
  };
  // 0 between ticks, 1 while a tick runs, 2 while a tick runs inside it (a
  // host callback that pumps messages).
  int tick_depth_ = 0;
  // A nested tick put a fresh report in force: once the tick around it is
  // done, the wheel counts on from that report.
  bool nested_fresh_report_ = false;
  int search_countdown_ = 0;
  std::vector<DeferredNotice> deferred_notices_;

  Module& module_;
  std::unique_ptr<WindowServices> services_;
  std::unique_ptr<HidBus> bus_;
  std::unique_ptr<HidDevice> probe_handle_;
  std::unique_ptr<HidDevice> read_handle_;
  std::unique_ptr<HidDevice> write_handle_;
  bool timer_started_ = false;
};

}  // namespace k2t
