// Lines for standard output, written by a thread of their own: a terminal or
// pipe nobody reads must never hold up the pendant's tick or the worker.
// What does not fit while it stalls is dropped, and the gap is said.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace k2tcnc {

class LineWriter {
 public:
  static constexpr double kFlushSeconds = 2.0;

  // Writes to `fd`, which stays the caller's; holds up to `capacity` lines.
  explicit LineWriter(int fd, std::size_t capacity = 1024);
  // Writes what is held for up to kFlushSeconds, then leaves the rest.
  ~LineWriter();
  LineWriter(const LineWriter&) = delete;
  LineWriter& operator=(const LineWriter&) = delete;

  // Any thread; never waits for the fd.
  void Say(std::string line);

 private:
  struct Shared;
  std::shared_ptr<Shared> shared_;
};

}  // namespace k2tcnc
