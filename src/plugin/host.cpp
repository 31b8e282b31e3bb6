#include "plugin/host.h"

#include <algorithm>

#include "plugin/host_codes.h"

namespace k2t {

namespace {
// Axis indexes come from the pendant's own state and are always 0..5; a
// wrong one must still never address outside the axis tables.
bool ValidAxis(int axis) { return axis >= 0 && axis < kAxisCount; }

std::size_t AxisJogOffset(int axis) {
  return K2T_MOTION_AXIS_JOG + static_cast<std::size_t>(axis) * K2T_MOTION_AXIS_JOG_STRIDE;
}
}  // namespace

bool Host::StopsMotion(std::int16_t c) {
  return c == code::kEStop || c == code::kFeedHold || c == code::kStop || c == code::kJogModeContinuous ||
         (c >= code::kJogStopX && c <= code::kLastJogStop);
}

void Host::Code(const char* text) const {
  if (motion_held_ && (!text || std::strcmp(text, "ENDJOG") != 0)) return;
  if (callbacks_.code) callbacks_.code(text);
}

void Host::WriteAxisJog(int axis, const AxisJogBlock& block) const {
  if (!ValidAxis(axis) || (motion_held_ && block.active)) return;
  const std::size_t base = AxisJogOffset(axis);
  Write(motion_, base + K2T_AXIS_JOG_DIRECTION, block.direction);
  Write(motion_, base + K2T_AXIS_JOG_VELOCITY, block.velocity);
  Write(motion_, base + K2T_AXIS_JOG_ACCELERATION, block.acceleration);
  Write(motion_, base + K2T_AXIS_JOG_MAX_VELOCITY, block.max_velocity);
  Write(motion_, base + K2T_AXIS_JOG_STOP, block.stop);
  Write(motion_, base + K2T_AXIS_JOG_ACTIVE, block.active);
}

void Host::SetAxisJogStop(int axis, std::uint8_t stop) const {
  if (!ValidAxis(axis)) return;
  Write(motion_, AxisJogOffset(axis) + K2T_AXIS_JOG_STOP, stop);
}

double Host::AxisMaxVelocity(int axis) const {
  if (!ValidAxis(axis)) return 0.0;
  return Read<double>(planner_, K2T_PLANNER_AXIS_MAX_VELOCITY + 8u * static_cast<unsigned>(axis));
}

std::int32_t Host::AxisMaxVelocitySteps(int axis) const {
  if (!ValidAxis(axis)) return 0;
  return Read<std::int32_t>(planner_,
                            K2T_PLANNER_AXIS_MAX_VELOCITY_STEPS + 4u * static_cast<unsigned>(axis));
}

std::int32_t Host::AxisAccelerationSteps(int axis) const {
  if (!ValidAxis(axis)) return 0;
  return Read<std::int32_t>(planner_,
                            K2T_PLANNER_AXIS_ACCELERATION_STEPS + 4u * static_cast<unsigned>(axis));
}

bool Host::HostIdle() const {
  return PlannerBusy() == 0 && PlannerQueueHead() == PlannerQueueTail() &&
         MotionQueueHead() == MotionQueueTail();
}

void WriteFixedMessageLine(unsigned char* field, const char* text) {
  constexpr std::size_t kCapacity = 256;
  const std::size_t n = std::min(std::strlen(text), kCapacity - 1);
  std::memcpy(field, text, n);
  field[n] = '\0';
}

void Host::ShowHostMessage(const char* text) const {
  if (!planner_ || !text) return;
  message_line_(planner_ + K2T_PLANNER_MESSAGE_TEXT, text);
}

}  // namespace k2t
