// Calls from the host's frames into the module: nothing thrown (memory
// running out, say) may unwind into the host, whose frames may have no
// unwind tables and whose process would end; the call ends where it is.
#pragma once

namespace k2t {

template <class F>
void Guarded(F&& f) noexcept {
  try {
    f();
  } catch (...) {
  }
}

template <class R, class F>
R Guarded(R fallback, F&& f) noexcept {
  try {
    return f();
  } catch (...) {
    return fallback;
  }
}

}  // namespace k2t
