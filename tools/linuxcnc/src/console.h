// The virtual pendant worked from text lines (a terminal, or a test that
// writes to the bridge's standard input), in the words of the bench's
// scripts: "estop on", "press start", "release start en", "mode 1",
// "wheel +5", "wheel +120 ticks 60 rate 30", "spin 10", "unplug", "plug",
// "show", "quit".
#pragma once

#include <functional>
#include <string>

#include "pendant.h"

namespace k2tcnc {

class PendantConsole {
 public:
  PendantConsole(host_kit::VirtualPendant& pendant, std::function<void(const std::string&)> say,
                 std::function<void()> quit)
      : pendant_(pendant), say_(std::move(say)), quit_(std::move(quit)) {}

  // Bytes as they arrive; complete lines run.
  void Feed(const char* data, std::size_t size);
  // One line; false with `error` set when it does not parse (nothing happens then).
  bool Execute(const std::string& line, std::string& error);

  static const char* Help();

 private:
  host_kit::VirtualPendant& pendant_;
  std::function<void(const std::string&)> say_;
  std::function<void()> quit_;
  std::string pending_;
};

}  // namespace k2tcnc
