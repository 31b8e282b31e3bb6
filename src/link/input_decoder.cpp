#include "link/input_decoder.h"

#include "plugin/update_counters.h"

namespace k2t {

void PressDetector::Detect(bool pressed) {
  if (pressed) {
    if (GapTicks < 13 || DoubleLatch) {
      DoublePress = true;
      DoubleLatch = true;
    } else if (AwaitingPress) {
      PressTicks = 0;
      AwaitingPress = false;
    } else if (PressTicks > 12) {
      LongHold = true;
    }
    PressSeen = true;
  } else {
    if (PressTicks < 13 && PressSeen) {
      GapTicks = 0;
      PressSeen = false;
    }
    AwaitingPress = true;
    DoubleLatch = false;
    LongHold = false;
    DoublePress = false;
  }
}

void InputState::StepPollCounters() {
  StepDownToZero(PollHoldoff);
  for (PressDetector& p : press) {
    StepWrapping(p.PressTicks);
    StepWrapping(p.GapTicks);
  }
}

bool InputState::Decode(std::uint32_t word0, std::uint32_t word1) {
  EStopSwitch = EStopOf(word0);
  SpindleKey = (word0 & kSpindleBit) != 0;
  StartHoldKey = (word0 & kStartHoldBit) != 0;
  StopRewindKey = (word0 & kStopRewindBit) != 0;
  const bool en = (word0 & kEnBit) != 0;
  XKey = (word0 & kXKeyBit) != 0;
  YKey = (word0 & kYKeyBit) != 0;
  ZKey = (word0 & kZKeyBit) != 0;
  const std::uint32_t mode = word1 & kModeCodeMask;
  ModeCode1 = mode == 1;
  ModeCode2 = mode == 2;
  ModeCode3 = mode == 3;
  press[kInputF1].Detect((word1 & kF1Bit) != 0);
  press[kInputF2].Detect((word1 & kF2Bit) != 0);
  press[kInputF3].Detect((word1 & kF3Bit) != 0);
  press[kInputEn].Detect(en);
  return en;
}

}  // namespace k2t
