// The host controller as the module reaches it: six callbacks and the fields
// of three host records at fixed byte offsets. Fields are read and written
// with memcpy (the records are byte arrays to us, their fields unaligned).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "k2t/plugin.h"

namespace k2t {

inline constexpr int kAxisCount = 6;
inline constexpr const char* kAxisLetters = "XYZABC";

// One axis' jog block in the motion record, as the host's jog reads it.
struct AxisJogBlock {
  std::int32_t velocity = 0;
  std::int32_t max_velocity = 0;
  std::int32_t acceleration = 0;
  std::uint8_t stop = 0;
  std::uint8_t active = 0;
  std::int32_t direction = 0;
};

// Writes a text into the host's message line: `field` is the planner
// record's MessageText field, whose layout differs between hosts.
using MessageLineWriter = void (*)(unsigned char* field, const char* text);

// A char[256] field: the text NUL-terminated, cut to 255 bytes.
void WriteFixedMessageLine(unsigned char* field, const char* text);

class Host {
 public:
  struct Callbacks {
    K2tDoButton do_button = nullptr;
    K2tSetDRO set_dro = nullptr;
    K2tGetDRO get_dro = nullptr;
    K2tGetLED get_led = nullptr;
    K2tSetLED set_led = nullptr;  // handed over, never called
    K2tCode code = nullptr;
  };

  void SetRecords(void* motion, void* setup, void* planner) {
    motion_ = static_cast<unsigned char*>(motion);
    setup_ = static_cast<unsigned char*>(setup);
    planner_ = static_cast<unsigned char*>(planner);
  }
  Callbacks& callbacks() { return callbacks_; }
  void SetMessageLineWriter(MessageLineWriter writer) {
    message_line_ = writer ? writer : &WriteFixedMessageLine;
  }

  // After an E-stop taken inside a tick, the rest of that tick must start
  // nothing: while motion is held only what stops the machine reaches the
  // host (the E-stop, stop, feed hold, jog stops, "ENDJOG", the jog mode's
  // restore); every other button code, G-code text and jog start is dropped.
  void HoldMotion(bool held) { motion_held_ = held; }
  bool MotionHeld() const { return motion_held_; }

  // Callbacks. A callback the host never handed over is skipped (reads give
  // 0 / false) rather than called through a null pointer.
  void DoButton(std::int16_t code) const {
    if (motion_held_ && !StopsMotion(code)) return;
    if (callbacks_.do_button) callbacks_.do_button(code);
  }
  void SetDRO(int code, double value) const {
    if (callbacks_.set_dro) callbacks_.set_dro(code, value);
  }
  double GetDRO(int code) const { return callbacks_.get_dro ? callbacks_.get_dro(code) : 0.0; }
  bool GetLED(int code) const { return callbacks_.get_led ? callbacks_.get_led(code) : false; }
  void Code(const char* text) const;

  // Setup record.
  std::int32_t IncrementalMode() const { return Read<std::int32_t>(setup_, K2T_SETUP_INCREMENTAL_MODE); }
  double RotationAngle() const { return Read<double>(setup_, K2T_SETUP_ROTATION_ANGLE); }

  // Motion record.
  std::int32_t MotionQueueHead() const { return Read<std::int32_t>(motion_, K2T_MOTION_QUEUE_HEAD); }
  std::int32_t MotionQueueTail() const { return Read<std::int32_t>(motion_, K2T_MOTION_QUEUE_TAIL); }
  bool MotionQueued() const { return MotionQueueHead() != MotionQueueTail(); }
  std::uint8_t JogInhibit() const { return Read<std::uint8_t>(motion_, K2T_MOTION_JOG_INHIBIT); }
  void WriteAxisJog(int axis, const AxisJogBlock& block) const;
  void SetAxisJogStop(int axis, std::uint8_t stop) const;

  // Planner record.
  double AxisMaxVelocity(int axis) const;
  std::int32_t AxisMaxVelocitySteps(int axis) const;
  std::int32_t AxisAccelerationSteps(int axis) const;
  double JogUnitFactor() const { return Read<double>(planner_, K2T_PLANNER_JOG_UNIT_FACTOR); }
  std::int32_t PlannerBusy() const { return Read<std::int32_t>(planner_, K2T_PLANNER_BUSY); }
  std::int32_t PlannerQueueHead() const { return Read<std::int32_t>(planner_, K2T_PLANNER_QUEUE_HEAD); }
  std::int32_t PlannerQueueTail() const { return Read<std::int32_t>(planner_, K2T_PLANNER_QUEUE_TAIL); }

  // The planner is idle, and neither queue holds anything.
  bool HostIdle() const;

  // Writes the text into the host's message line.
  void ShowHostMessage(const char* text) const;

 private:
  // Little-endian field at a byte offset; a missing record reads as zero.
  template <class T>
  static T Read(const unsigned char* record, std::size_t offset) {
    T value{};
    if (record) std::memcpy(&value, record + offset, sizeof value);
    return value;
  }
  template <class T>
  static void Write(unsigned char* record, std::size_t offset, T value) {
    if (record) std::memcpy(record + offset, &value, sizeof value);
  }

  static bool StopsMotion(std::int16_t code);

  unsigned char* motion_ = nullptr;
  unsigned char* setup_ = nullptr;
  unsigned char* planner_ = nullptr;
  Callbacks callbacks_;
  MessageLineWriter message_line_ = &WriteFixedMessageLine;
  bool motion_held_ = false;
};

}  // namespace k2t
