// The bridge's clock: seconds on the steady clock, for deadlines, the
// module's Update pacing and the log's, never the wall clock a user may set.
#pragma once

#include <chrono>

namespace k2tcnc {

inline double SteadySeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace k2tcnc
