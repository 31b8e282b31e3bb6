// The terminal UI: the pendant's display as the pendant shows it, the
// machine, a log of the host calls, and keys for every pendant control.
// Plain ANSI escapes on the alternate screen; the terminal is put back as it
// was by Close, which the destructor also calls.
#pragma once

#include <termios.h>

#include <deque>
#include <functional>
#include <string>

#include "bench.h"
#include "event.h"

namespace bench {

class Tui {
 public:
  explicit Tui(Bench& bench) : bench_(bench) {}
  ~Tui() { Close(); }
  Tui(const Tui&) = delete;
  Tui& operator=(const Tui&) = delete;

  // Raw keys, alternate screen, hidden cursor. False when stdin or stdout is
  // not a terminal.
  bool Open();
  void Close();

  void OnEvent(const Event& event);
  // Reads and acts on whatever keys are waiting on stdin.
  void HandleInput();
  // Draws the screen if it changed since the last draw.
  void Render();
  void Resize();
  void Caption(std::string text) { caption_ = std::move(text); }

  std::function<void()> on_quit;

 private:
  void Key(int key);
  void Log(std::string line, int style);
  std::string Frame();

  Bench& bench_;
  bool open_ = false;
  termios saved_{};
  int rows_ = 24, cols_ = 80;
  bool help_ = true;
  std::string caption_;
  struct LogLine {
    std::string text;
    int style;
  };
  std::deque<LogLine> log_;
  std::string last_frame_;
  std::string input_;  // an escape sequence still arriving
};

}  // namespace bench
