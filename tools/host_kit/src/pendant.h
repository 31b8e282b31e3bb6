// The virtual pendant on a simulated HID bus: its controls make the 8-byte
// input reports, the module's 21-byte output reports are decoded back into
// what the pendant would show.
//
// Reports: by default, at every poll tick the pendant offers exactly one
// input report, its state at that moment (PrepareReport), as a pendant that
// reports at the poll rate; a report the module did not take is replaced by
// the next one. With a report rate set, it sends that many reports a second
// instead, spread over the ticks, into a device queue that behaves like
// hidraw's: 64 reports, and a report that finds it full is dropped.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "k2t/sim_hid.h"

namespace host_kit {

enum class Control { kEStop, kSpindle, kStartHold, kStopRewind, kEn, kX, kY, kZ, kF1, kF2, kF3 };
constexpr int kControls = 11;

// "estop", "spindle", "start", "stop", "en", "x", "y", "z", "f1", "f2", "f3".
std::string_view ControlName(Control control);
bool ControlByName(std::string_view name, Control& control);

class VirtualPendant {
 public:
  static constexpr const char* kPath = "sim:k2t-pendant";
  static constexpr const char* kOtherPath = "sim:usb-keyboard";  // another HID device on the bus
  static constexpr std::uint8_t kDefaultRate = 20;
  static constexpr std::size_t kQueueDepth = 64;  // hidraw's per open handle

  VirtualPendant();
  ~VirtualPendant();
  VirtualPendant(const VirtualPendant&) = delete;
  VirtualPendant& operator=(const VirtualPendant&) = delete;

  // Offered to the module with OfferSimulatedBus (sim_bus_export.h);
  // withdrawn when the pendant goes.
  K2tSimHidBus* bus() { return &bus_; }

  // Controls. A control stays as set until set again; a tap holds it down for
  // `reports` reports and then lets go (pressed again at once if tapped while
  // still down, after one report released).
  void Set(Control control, bool down);
  bool Down(Control control) const { return down_[Index(control)]; }
  void Tap(Control control, int reports);
  // The mode selector: 1, 2, 3, or 0 for none. Selecting the position it is
  // already in sends 0 for one report first, so the code arrives anew.
  void SelectMode(int code, bool reselect);
  int mode_code() const { return mode_code_; }

  // Turns the wheel by `steps` detents (signed) spread over `reports` reports,
  // each with the given rate byte. Turns queue after each other.
  void Turn(int steps, int reports, int rate);
  // Detents turned by hand, as a key press does: they go out in the next
  // report, and the wheel counts as turning for a few reports after, so a
  // repeating key reads as one continuous turn.
  void Nudge(int steps);
  // A wheel that keeps turning by itself, in detents per second (0 stops it).
  void Spin(double detents_per_second) { spin_ = detents_per_second; }
  double spin() const { return spin_; }
  bool WheelBusy() const { return !turns_.empty() || spin_ != 0.0 || nudge_linger_ > 0; }
  std::uint8_t counter() const { return counter_; }

  // Plugging: the bus lists the pendant or not, and subscribers hear of it.
  void Plug();
  void Unplug();
  bool plugged() const { return plugged_; }
  // The other HID device on the bus comes and goes the same way.
  void PlugOther();
  void UnplugOther();
  bool other_plugged() const { return other_plugged_; }
  bool subscribed() const { return notify_ != nullptr; }
  bool open_for_reading() const;
  bool open_for_writing() const;

  // Reports per second; 0 (the default) is one report per poll tick that
  // supersedes the last.
  void SetReportRate(double reports_per_second);
  double report_rate() const { return report_rate_; }
  // Reports dropped because the device queue was full.
  long dropped() const { return dropped_; }
  // A pendant that reports only on change, left untouched: no reports at all.
  void SetSilent(bool silent) { silent_ = silent; }
  // A read with a timeout that finds the queue empty blocks for that long,
  // in real time, as a device queue does (no report arrives meanwhile: they
  // come only at poll ticks). Off by default; the latency runs measure it.
  void HonourReadTimeouts(bool on) { honour_timeouts_ = on; }
  // Reads that asked to wait for a report that had not arrived.
  long waiting_reads() const { return waiting_reads_; }

  // Called at the start of every poll tick, before the module reads.
  void PrepareReport();
  const std::array<std::uint8_t, 8>& last_report() const { return report_; }

  // What the module last wrote.
  bool has_output() const { return has_output_; }
  const std::array<std::uint8_t, 21>& output() const { return output_; }
  std::string Display() const;  // the 16 characters
  int DisplayAxis() const { return output_[19] >> 4; }
  int DisplayMode() const { return output_[19] & 0x0F; }
  int Alive() const { return output_[18]; }
  // Called after each write whose text or indicator byte differs from the last.
  std::function<void()> on_display_change;
  // Called when the module subscribes to or drops the notices.
  std::function<void(bool)> on_subscribe;

 private:
  struct Turning {
    int steps;
    int reports;
    int rate;
  };
  struct Handle {
    int access;
    bool pendant;
    unsigned generation;  // a pendant handle from before an unplug stays dead
    std::deque<std::array<std::uint8_t, 8>> reports;
  };

  static std::size_t Index(Control c) { return static_cast<std::size_t>(c); }
  // One report's worth of wheel movement and controls, `seconds` after the
  // previous report, into report_.
  void MakeReport(double seconds);
  Handle* Find(int handle);
  bool Live(const Handle& h) const { return !h.pendant || (plugged_ && h.generation == generation_); }

  static int Enumerate(void* context, K2tSimHidDevice* out, int max);
  static int Open(void* context, const char* path, int access);
  static void Close(void* context, int handle);
  static int Read(void* context, int handle, unsigned char* buf, int size, int timeout_ms);
  static int Write(void* context, int handle, const unsigned char* buf, int size);
  static void Subscribe(void* context, void (*notify)(void*, int, const char*), void* arg);

  K2tSimHidBus bus_{};
  bool plugged_ = true;
  bool other_plugged_ = true;
  unsigned generation_ = 0;
  std::map<int, Handle> handles_;
  int next_handle_ = 1;
  void (*notify_)(void*, int, const char*) = nullptr;
  void* notify_arg_ = nullptr;

  std::array<bool, kControls> down_{};
  std::array<int, kControls> tap_left_{};
  std::array<int, kControls> retap_{};
  int mode_code_ = 0;
  int mode_pending_ = -1;
  std::uint8_t counter_ = 0;
  std::deque<Turning> turns_;
  double spin_ = 0, spin_carry_ = 0;
  int nudge_steps_ = 0, nudge_linger_ = 0;
  std::deque<int> recent_steps_;  // detents of the last reports, for the automatic rate
  std::array<std::uint8_t, 8> report_{};
  double report_rate_ = 0, rate_carry_ = 0;
  long dropped_ = 0;
  bool silent_ = false;
  bool honour_timeouts_ = false;
  long waiting_reads_ = 0;

  std::array<std::uint8_t, 21> output_{};
  bool has_output_ = false;
};

}  // namespace host_kit
