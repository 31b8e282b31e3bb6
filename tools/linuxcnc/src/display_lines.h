// The pendant's display as lines of the log: each text it changes to, but a
// few lines a second at most (a jog changes it every poll), and the last one
// always; a blinking display's two texts once each.
#pragma once

#include <array>
#include <functional>
#include <limits>
#include <optional>
#include <string>

namespace k2tcnc {

class DisplayLines {
 public:
  static constexpr double kGap = 0.25;  // seconds between two lines

  explicit DisplayLines(std::function<void(const std::string&)> say) : say_(std::move(say)) {}
  void Changed(const std::string& text, double now);
  // A text held back goes out once its turn has come.
  void Tick(double now);

 private:
  void Show(const std::string& text, double now);

  std::function<void(const std::string&)> say_;
  std::array<std::string, 2> shown_{};
  std::optional<std::string> held_;
  double last_ = -std::numeric_limits<double>::infinity();
};

}  // namespace k2tcnc
