#include "console.h"

#include <charconv>
#include <sstream>
#include <vector>

namespace k2tcnc {

namespace {

bool Integer(const std::string& word, long low, long high, long& out) {
  const char* first = word.data();
  if (!word.empty() && word[0] == '+') ++first;
  const auto [end, ec] = std::from_chars(first, word.data() + word.size(), out);
  return ec == std::errc() && end == word.data() + word.size() && out >= low && out <= high;
}

}  // namespace

const char* PendantConsole::Help() {
  return "virtual pendant: estop on|off, press CONTROL..., release CONTROL..., mode 0-3,\n"
         "  wheel DETENTS [ticks N] [rate R], spin DETENTS_PER_SECOND, unplug, plug, show, quit\n"
         "  controls: estop spindle start stop en x y z f1 f2 f3";
}

void PendantConsole::Feed(const char* data, std::size_t size) {
  pending_.append(data, size);
  std::size_t newline;
  while ((newline = pending_.find('\n')) != std::string::npos) {
    const std::string line = pending_.substr(0, newline);
    pending_.erase(0, newline + 1);
    std::string error;
    if (!Execute(line, error)) say_(error);
  }
}

bool PendantConsole::Execute(const std::string& line, std::string& error) {
  std::vector<std::string> w;
  std::istringstream in(line.substr(0, line.find('#')));
  for (std::string word; in >> word;) w.push_back(word);
  if (w.empty()) return true;
  const std::string& op = w[0];
  auto fail = [&](const std::string& why) {
    error = "\"" + line + "\": " + why;
    return false;
  };
  if (op == "estop") {
    if (w.size() != 2 || (w[1] != "on" && w[1] != "off")) return fail("estop on or estop off");
    pendant_.Set(host_kit::Control::kEStop, w[1] == "on");
  } else if (op == "press" || op == "release") {
    if (w.size() < 2) return fail("which control?");
    std::vector<host_kit::Control> controls;
    for (std::size_t i = 1; i < w.size(); ++i) {
      host_kit::Control c;
      if (!host_kit::ControlByName(w[i], c)) return fail("unknown control " + w[i]);
      controls.push_back(c);
    }
    for (const host_kit::Control c : controls) pendant_.Set(c, op == "press");
  } else if (op == "mode") {
    long code = 0;
    if (w.size() != 2 || !Integer(w[1], 0, 7, code)) return fail("mode 0 to 7");
    pendant_.SelectMode(static_cast<int>(code), true);
  } else if (op == "wheel") {
    long steps = 0, reports = 1, rate = host_kit::VirtualPendant::kDefaultRate;
    if (w.size() < 2 || !Integer(w[1], -32767, 32767, steps)) return fail("wheel DETENTS");
    for (std::size_t i = 2; i < w.size(); i += 2) {
      if (i + 1 >= w.size()) return fail(w[i] + " needs a value");
      if (w[i] == "ticks" ? !Integer(w[i + 1], 1, 100000, reports)
                          : w[i] == "rate" ? !Integer(w[i + 1], 0, 255, rate) : true)
        return fail("wheel DETENTS [ticks N] [rate R]");
    }
    if (std::abs(steps) > 127 * reports) return fail("at most 127 detents per report: spread the turn over more ticks");
    pendant_.Turn(static_cast<int>(steps), static_cast<int>(reports), static_cast<int>(rate));
  } else if (op == "spin") {
    long rate = 0;
    if (w.size() != 2 || !Integer(w[1], -2000, 2000, rate)) return fail("spin DETENTS_PER_SECOND");
    pendant_.Spin(static_cast<double>(rate));
  } else if (op == "unplug" || op == "plug") {
    if (w.size() != 1) return fail(op + " takes nothing more");
    if (op == "plug") pendant_.Plug();
    else pendant_.Unplug();
  } else if (op == "show") {
    say_("display \"" + pendant_.Display() + "\"");
  } else if (op == "quit") {
    quit_();
  } else if (op == "help") {
    say_(Help());
  } else {
    return fail(std::string("unknown command; ") + Help());
  }
  return true;
}

}  // namespace k2tcnc
