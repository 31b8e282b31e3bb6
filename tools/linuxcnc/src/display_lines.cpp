#include "display_lines.h"

namespace k2tcnc {

void DisplayLines::Changed(const std::string& text, double now) {
  if (text == shown_[0] || text == shown_[1]) {
    held_.reset();  // what the log last said is true again
    return;
  }
  if (now - last_ >= kGap) Show(text, now);
  else held_ = text;
}

void DisplayLines::Tick(double now) {
  if (held_ && now - last_ >= kGap) Show(*held_, now);
}

void DisplayLines::Show(const std::string& text, double now) {
  say_("display \"" + text + "\"");
  shown_ = {shown_[1], text};
  last_ = now;
  held_.reset();
}

}  // namespace k2tcnc
