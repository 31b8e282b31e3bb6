// Counters that count host Update calls (and the stepping rules shared with
// the poll-tick counters).
#pragma once

#include <cstdint>

namespace k2t {

// A wrapping counter climbs 1, 2, ... 1001, then 101, 102, ...: it never
// falls back below 100 once there, so "held long" stays true across the wrap.
inline void StepWrapping(std::int32_t& counter) {
  if (counter > 1000) counter = 100;
  ++counter;
}

inline void StepDownToZero(std::int32_t& counter) {
  if (counter != 0) --counter;
}

struct UpdateCounters {
  std::int16_t UpdateSequence = 1;  // cycles 2..255; its low byte shows the host alive
  std::int32_t UpdatePhase = 100;   // cycles 24..0 after its first reload
  std::int32_t UpdateTicksA = 100;
  std::int32_t UpdateTicksB = 0;
  std::int32_t UpdateHoldoffA = 0;
  std::int32_t UpdateTicksC = 100;
  std::int32_t UpdateHoldoffB = 0;

  // One host Update call, the counters in this order.
  void Step() {
    if (UpdateSequence > 254) UpdateSequence = 1;
    ++UpdateSequence;
    if (UpdatePhase == 0) UpdatePhase = 25;
    --UpdatePhase;
    StepWrapping(UpdateTicksA);
    StepWrapping(UpdateTicksB);
    StepDownToZero(UpdateHoldoffA);
    StepWrapping(UpdateTicksC);
    StepDownToZero(UpdateHoldoffB);
  }
};

}  // namespace k2t
