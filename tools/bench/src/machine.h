// The simulated machine behind the host's callbacks and records: axis
// positions moved by the G-code and jogs the module asks for, a small program
// that cycle start runs, LEDs and DROs that follow the button codes.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "event.h"

namespace bench {

constexpr int kAxes = 6;

class Machine {
 public:
  // `now` gives the time events are stamped with.
  Machine(EventSink sink, std::function<double()> now);

  void* motion() { return motion_.data(); }
  void* setup() { return setup_.data(); }
  void* planner() { return planner_.data(); }

  // When passive, the module's calls change nothing: the host state changes
  // only through the Set... operations below (a script's host lines).
  void set_passive(bool passive) { passive_ = passive; }
  bool passive() const { return passive_; }

  // The callbacks' effects.
  void DoButton(int code);
  void SetDRO(int code, double value);
  double GetDRO(int code) const;
  bool GetLED(int code) const;
  void Code(std::string_view text);

  // Moves, jogs and the program advance by dt seconds.
  void Advance(double dt);

  // Host state as a script or the user sets it.
  void SetLed(int code, bool on);
  void SetDro(int code, double value);
  void SetMotionBusy(bool busy);
  void SetPlannerBusy(bool busy);
  void SetPlannerQueueBusy(bool busy);
  void SetJogInhibit(bool inhibit);
  void SetRotation(double degrees);
  void SetIncremental(bool incremental);
  void SetMaxVelocity(int axis, double units_per_second);

  // Read-outs.
  double Position(int axis) const { return GetDRO(800 + axis); }
  double MachinePosition(int axis) const { return pos_[static_cast<std::size_t>(axis)]; }
  bool AxisMoving(int axis) const;
  bool AnyAxisMoving() const;
  std::string MessageText() const;
  bool MotionQueued() const { return Read<std::int32_t>(motion_, kMotionHead) != Read<std::int32_t>(motion_, kMotionTail); }
  bool PlannerBusy() const { return Read<std::int32_t>(planner_, kPlannerBusy) != 0; }
  bool Incremental() const;
  bool JogInhibit() const;
  double Rotation() const;
  double JogUnitFactor() const;
  double MaxVelocity(int axis) const;
  double JogVelocity(int axis) const { return jogs_[static_cast<std::size_t>(axis)].velocity; }
  int ProgramLine() const { return static_cast<int>(GetDRO(816)); }

 private:
  struct AxisConfig {
    double max_velocity;    // units per second
    double steps_per_unit;  // the jog blocks count in steps
    double acceleration;    // units per second squared
  };
  struct Jog {
    double velocity = 0;  // units per second, signed
    double target = 0;
    double acceleration = 0;  // 0: reaches the target at once
  };
  struct Move {
    std::array<double, kAxes> target;  // machine coordinates
    double feed;                       // units per minute; 0 = rapid
    bool feed_override;                // G1 moves follow DRO 821, rapids do not
  };

  static constexpr std::size_t kMotionHead = 0x28000, kMotionTail = 0x28004;
  static constexpr std::size_t kPlannerBusy = 0xC3CB0;

  template <class T>
  static T Read(const std::vector<unsigned char>& record, std::size_t offset) {
    T value{};
    std::memcpy(&value, record.data() + offset, sizeof value);
    return value;
  }
  template <class T>
  static void Write(std::vector<unsigned char>& record, std::size_t offset, T value) {
    std::memcpy(record.data() + offset, &value, sizeof value);
  }

  void Note(std::string text);
  void ChangeLed(int code, bool on);
  void SyncRecords();
  void WriteAxisLimits(int axis);
  int Fixture() const;
  std::array<double, kAxes>& Offsets() { return offsets_[static_cast<std::size_t>(Fixture())]; }
  const std::array<double, kAxes>& Offsets() const { return offsets_[static_cast<std::size_t>(Fixture())]; }
  std::array<double, kAxes> PlannedEnd() const;
  void Queue(const Move& move);
  void RunGCode(std::string_view text);
  void DoJog();
  void EndJog();
  void StartButtonJog(int axis, int sign);
  void StopJog(int axis);
  void StopAll(bool flush_moves);
  void ZeroAxis(int axis);
  void ProgramStep();
  bool InReset() const { return GetLED(800); }

  EventSink sink_;
  std::function<double()> now_;
  bool passive_ = false;
  std::vector<unsigned char> motion_, setup_, planner_;
  std::array<AxisConfig, kAxes> axes_;
  std::array<double, kAxes> pos_{};
  std::array<std::array<double, kAxes>, 5> offsets_{};  // coordinate systems 1..4
  std::map<int, double> dros_;
  std::map<int, bool> leds_;
  std::array<Jog, kAxes> jogs_{};
  std::deque<Move> moves_;
  std::array<double, kAxes> move_from_{};
  double move_done_ = 0;  // distance travelled along the current move
  long queued_ = 0, completed_ = 0;
  bool extra_motion_ = false, extra_planner_ = false, extra_planner_queue_ = false;
  int motion_mode_ = 0;  // G0 or G1
  std::size_t program_next_ = 0;
};

}  // namespace bench
