#include "tui.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <array>
#include <cerrno>

#include "names.h"
#include "text.h"

namespace bench {

namespace {

constexpr const char* kReset = "\x1b[0m";
constexpr const char* kBold = "\x1b[1m";
constexpr const char* kDim = "\x1b[2m";
constexpr const char* kReverse = "\x1b[7m";
constexpr const char* kLit = "\x1b[30;42m";
constexpr const char* kRed = "\x1b[31m";
constexpr const char* kYellow = "\x1b[33m";
constexpr const char* kCyan = "\x1b[36m";
constexpr const char* kGreen = "\x1b[32m";

enum Style { kPlain, kEntryStyle, kCallStyle, kMachineStyle, kMessageStyle, kPendantStyle, kSayStyle, kFailStyle };
constexpr const char* kStyleCodes[] = {"", kBold, kCyan, kDim, kYellow, kGreen, kYellow, kRed};

enum Keys { kKeyUp = 1000, kKeyDown, kKeyRight, kKeyLeft };

constexpr int kTapReports = 4;  // a key tap holds the control down for 100 ms
constexpr std::array<double, 13> kSpinLevels = {-160, -80, -40, -20, -10, -5, 0, 5, 10, 20, 40, 80, 160};

// One screen line, cut at the terminal's width; styles do not count.
class Line {
 public:
  explicit Line(int cols) : cols_(cols) {}
  Line& Add(std::string_view text, const char* style = "") {
    const int room = cols_ - width_;
    if (room <= 0) return *this;
    if (static_cast<int>(text.size()) > room) text = text.substr(0, static_cast<std::size_t>(room));
    if (*style) out_ += style;
    out_ += text;
    if (*style) out_ += kReset;
    width_ += static_cast<int>(text.size());
    return *this;
  }
  Line& Pad(int column) {
    if (column > width_) Add(std::string(static_cast<std::size_t>(column - width_), ' '));
    return *this;
  }
  std::string Done() const { return out_ + kReset + "\x1b[K"; }

 private:
  int cols_;
  int width_ = 0;
  std::string out_;
};

std::string Signed(double value, int decimals) {
  const std::string text = FormatFixed(value, decimals);
  return text[0] == '-' ? text : "+" + text;
}

std::string Printable(std::string text) {
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) c = '.';
  return text;
}

void WriteAll(const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = write(STDOUT_FILENO, data.data() + done, data.size() - done);
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

}  // namespace

bool Tui::Open() {
  if (open_) return true;
  if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO) || tcgetattr(STDIN_FILENO, &saved_) != 0) return false;
  termios raw = saved_;
  // Keys one by one, no echo; Ctrl-C still raises SIGINT (the loop hears it
  // and quits cleanly); Ctrl-Z is off, a stopped bench would leave the
  // terminal raw.
  raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO | IEXTEN));
  raw.c_iflag &= static_cast<tcflag_t>(~(IXON | ICRNL));
  raw.c_cc[VMIN] = 0;
  raw.c_cc[VTIME] = 0;
  raw.c_cc[VSUSP] = _POSIX_VDISABLE;
  if (tcsetattr(STDIN_FILENO, TCSAFLUSH, &raw) != 0) return false;
  open_ = true;
  WriteAll("\x1b[?1049h\x1b[?25l\x1b[H\x1b[2J");
  Resize();
  return true;
}

void Tui::Close() {
  if (!open_) return;
  open_ = false;
  WriteAll(std::string(kReset) + "\x1b[?25h\x1b[?1049l");
  tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved_);
}

void Tui::Resize() {
  winsize size{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_row > 0 && size.ws_col > 0) {
    rows_ = size.ws_row;
    cols_ = size.ws_col;
  }
  last_frame_.clear();  // draw everything again
}

// ---- log --------------------------------------------------------------------------------

void Tui::Log(std::string line, int style) {
  // A multi-line text (a failed expectation) takes one log line per line.
  std::size_t start = 0;
  while (start <= line.size()) {
    const std::size_t end = line.find('\n', start);
    log_.push_back({line.substr(start, end == std::string::npos ? std::string::npos : end - start), style});
    if (end == std::string::npos) break;
    start = end + 1;
  }
  while (log_.size() > 500) log_.pop_front();
}

void Tui::OnEvent(const Event& e) {
  std::string line = FormatFixed(e.time, 2);
  line.insert(0, line.size() < 7 ? 7 - line.size() : 0, ' ');
  line += "  ";
  switch (e.kind) {
    case EventKind::kEntry: Log(line + e.text, kEntryStyle); return;
    case EventKind::kCall: Log(line + e.text + (e.note.empty() ? "" : "   " + e.note), kCallStyle); return;
    case EventKind::kMachine: Log(line + "machine: " + e.text, kMachineStyle); return;
    case EventKind::kMessage: Log(line + "message line: " + e.text, kMessageStyle); return;
    case EventKind::kPendant: Log(line + "pendant " + e.text, kPendantStyle); return;
    case EventKind::kSay:
      caption_ = e.text;
      Log(line + e.text, kSayStyle);
      return;
    case EventKind::kFail:
      caption_ = "an expectation failed: see the log";
      Log(line + e.text, kFailStyle);
      return;
    case EventKind::kRead: Log(line + e.text, kPlain); return;
    case EventKind::kDisplay:
    case EventKind::kBoundary:
    case EventKind::kScript: return;  // the screen shows these as they are
  }
}

// ---- keys --------------------------------------------------------------------------------

void Tui::HandleInput() {
  char buf[64];
  ssize_t n;
  bool any = false;
  while ((n = read(STDIN_FILENO, buf, sizeof buf)) > 0) {
    input_.append(buf, static_cast<std::size_t>(n));
    any = true;
  }
  if (!any && n <= 0 && !(n < 0 && (errno == EINTR || errno == EAGAIN))) {
    // Readable yet nothing to read: the terminal is gone.
    if (on_quit) on_quit();
    return;
  }
  std::size_t i = 0;
  while (i < input_.size()) {
    const char c = input_[i];
    if (c == '\x1b') {
      if (i + 2 >= input_.size()) {
        if (i + 1 < input_.size() && input_[i + 1] != '[' && input_[i + 1] != 'O') {
          ++i;  // a lone Escape followed by an ordinary key
          continue;
        }
        break;  // the rest of the sequence is still on its way
      }
      const char kind = input_[i + 1];
      const char final = input_[i + 2];
      if (kind == '[' || kind == 'O') {
        switch (final) {
          case 'A': Key(kKeyUp); break;
          case 'B': Key(kKeyDown); break;
          case 'C': Key(kKeyRight); break;
          case 'D': Key(kKeyLeft); break;
          default: break;
        }
        // Skip the whole sequence: parameters, then one final byte.
        std::size_t j = i + 2;
        while (j < input_.size() && ((input_[j] >= '0' && input_[j] <= '9') || input_[j] == ';')) ++j;
        i = j + 1;
      } else {
        i += 1;
      }
      continue;
    }
    Key(static_cast<unsigned char>(c));
    ++i;
  }
  input_.erase(0, std::min(i, input_.size()));
  if (input_.size() > 16) input_.clear();
}

void Tui::Key(int key) {
  VirtualPendant& p = bench_.pendant();
  Machine& m = bench_.machine();
  switch (key) {
    case 'q':
      if (on_quit) on_quit();
      return;
    case '?': help_ = !help_; return;
    case 'l': log_.clear(); return;
    case 'c':
      caption_ = "Config: the module's dialog is open; the bench waits for it";
      Render();
      bench_.CallConfig();
      caption_ = "Config returned";
      return;
    case 'u':
      if (p.plugged()) bench_.Unplug();
      else bench_.Plug();
      return;
    case 'j': m.SetLed(83, !m.GetLED(83)); return;
    default: break;
  }
  if (bench_.options().real_pendant) {
    caption_ = "the pendant is a real one: use its own controls";
    return;
  }
  struct Binding {
    int tap, hold;
    Control control;
  };
  static constexpr Binding kBindings[] = {
      {'x', 'X', Control::kX},         {'y', 'Y', Control::kY},          {'z', 'Z', Control::kZ},
      {'e', 'E', Control::kEn},        {'s', 'S', Control::kStartHold},  {'r', 'R', Control::kStopRewind},
      {'p', 'P', Control::kSpindle},   {'1', '4', Control::kF1},         {'2', '5', Control::kF2},
      {'3', '6', Control::kF3},
  };
  for (const Binding& b : kBindings) {
    if (key == b.tap) return p.Tap(b.control, kTapReports);
    if (key == b.hold) return p.Set(b.control, !p.Down(b.control));
  }
  std::size_t spin = 0;
  while (spin < kSpinLevels.size() && kSpinLevels[spin] < p.spin()) ++spin;
  switch (key) {
    case kKeyRight: case '.': p.Nudge(+1); break;
    case kKeyLeft: case ',': p.Nudge(-1); break;
    case kKeyUp: case '>': p.Nudge(+10); break;
    case kKeyDown: case '<': p.Nudge(-10); break;
    case ']': p.Spin(kSpinLevels[std::min(spin + 1, kSpinLevels.size() - 1)]); break;
    case '[': p.Spin(kSpinLevels[spin == 0 ? 0 : spin - 1]); break;
    case ' ': p.Spin(0); break;
    case '7': p.SelectMode(1, true); break;
    case '8': p.SelectMode(2, true); break;
    case '9': p.SelectMode(3, true); break;
    case '0': p.SelectMode(0, true); break;
    case '!': p.Set(Control::kEStop, !p.Down(Control::kEStop)); break;
    default: break;
  }
}

// ---- screen ----------------------------------------------------------------------------------

std::string Tui::Frame() {
  const VirtualPendant& p = bench_.pendant();
  const Machine& m = bench_.machine();
  const bool real = bench_.options().real_pendant;
  std::vector<std::string> lines;

  {
    Line l(cols_);
    std::string state = real ? "real pendant on hidraw"
                             : std::string("virtual pendant ") + (p.plugged() ? "plugged" : "UNPLUGGED") +
                                   (p.open_for_reading() && p.open_for_writing() ? ", open" : ", not open");
    l.Add(" pendant-bench  " + bench_.title() + "  |  " + state + "  |  " + FormatFixed(bench_.Now(), 1) + " s ",
          kReverse);
    lines.push_back(l.Done());
  }
  lines.push_back("\x1b[K");

  const std::string text = real ? " (on the pendant)" : p.has_output() ? Printable(p.Display()) : "  (no output yet)";
  const int axis = p.DisplayAxis();
  const int mode = p.DisplayMode();
  {
    Line l(cols_);
    l.Add("   +----------------+   ");
    if (!real && p.has_output())
      l.Add("axis ").Add(std::string(1, AxisLetter(axis)), kBold).Add("   mode ").Add(std::string(ModeCodeName(mode)), kBold)
          .Add("   alive " + std::to_string(p.Alive()));
    lines.push_back(l.Done());
  }
  {
    Line l(cols_);
    l.Add("   |").Add(text.substr(0, 16), kBold).Pad(20).Add("|   ");
    if (!real)
      l.Add("wheel " + std::to_string(p.counter()) + "  rate " + std::to_string(p.last_report()[2]) + "  spin " +
            FormatNumber(p.spin()) + "/s");
    lines.push_back(l.Done());
  }
  {
    Line l(cols_);
    l.Add("   +----------------+   ");
    if (!real) {
      std::string down;
      for (int i = 1; i < kControls; ++i)
        if (p.Down(static_cast<Control>(i))) down += " " + std::string(ControlName(static_cast<Control>(i)));
      l.Add("selector " + std::to_string(p.mode_code()) + "   ");
      if (p.Down(Control::kEStop)) l.Add("E-STOP", kRed).Add("   ");
      l.Add("down:" + (down.empty() ? std::string(" -") : down));
    }
    lines.push_back(l.Done());
  }
  lines.push_back("\x1b[K");
  {
    Line l(cols_);
    l.Add(m.GetLED(163) ? " To go  " : m.GetLED(16) ? " Machine" : " Work   ");
    for (int a = 0; a < kAxes; ++a)
      l.Add("  ").Add(std::string(1, AxisLetter(a)), kBold).Add(" " + Signed(m.Position(a), a < 3 ? 4 : 3));
    lines.push_back(l.Done());
  }
  {
    Line l(cols_);
    l.Add(" Jog " + FormatFixed(m.GetDRO(3), 1) + "%  FRO " + FormatFixed(m.GetDRO(821), 0) + "%  SRO " +
          FormatFixed(m.GetDRO(74), 0) + "%  Feed " + FormatFixed(m.GetDRO(818), 2) + "  S " +
          FormatFixed(m.GetDRO(817), 0) + "  RPM " + FormatFixed(m.GetDRO(39), 0) + "  Step " +
          FormatFixed(m.GetDRO(828), 4) + "  Line " + FormatFixed(m.GetDRO(816), 0));
    lines.push_back(l.Done());
  }
  {
    Line l(cols_);
    l.Add(" LEDs ");
    static constexpr std::pair<int, const char*> kChips[] = {
        {83, "JOG"}, {800, "RESET"}, {804, "RUN"}, {805, "PAUSE"}, {11, "SPINDLE"},
        {14, "CONT"}, {15, "STEP"},  {57, "MPG"},  {16, "MCS"},    {163, "DTG"}};
    for (const auto& [code, label] : kChips) l.Add(" ").Add(std::string(" ") + label + " ", m.GetLED(code) ? kLit : kDim);
    lines.push_back(l.Done());
  }
  {
    Line l(cols_);
    l.Add(std::string(" Queue ") + (m.MotionQueued() ? "busy" : "idle") + "  planner " +
          (m.PlannerBusy() ? "busy" : "idle") + "  " + (m.Incremental() ? "G91" : "G90") + "  rotation " +
          FormatNumber(m.Rotation()) + "  jog inhibit " + (m.JogInhibit() ? "on" : "off") + "  jog unit " +
          FormatFixed(m.JogUnitFactor(), 4));
    lines.push_back(l.Done());
  }
  {
    Line l(cols_);
    l.Add(" Message line: ").Add(Quote(m.MessageText()), kYellow);
    lines.push_back(l.Done());
  }
  {
    Line l(cols_);
    l.Add(" " + caption_, kYellow);
    lines.push_back(l.Done());
  }
  {
    Line l(cols_);
    l.Add("-- host calls and machine ", kDim).Add(std::string(static_cast<std::size_t>(std::max(0, cols_ - 26)), '-'), kDim);
    lines.push_back(l.Done());
  }

  static constexpr const char* kHelp[] = {
      " wheel  <- -> one detent   down up ten   [ ] spin slower/faster   space stop spin",
      " keys   x y z axis   e EN   s START/HOLD   r STOP/REWND   p SPINDLE   1 2 3 F1 F2 F3",
      "        a key taps its control (100 ms); capitals X Y Z E S R P and 4 5 6 (F1-F3) hold/release",
      "        tap then hold within 0.3 s is a double press; a hold longer than 0.3 s a long hold",
      " mode   7 8 9 selector position 1 2 3 (again: the code arrives anew)   0 none    ! E-stop",
      " host   c Config   u unplug/plug   j jog enable (LED 83)   l clear log   ? help   q quit",
  };
  const int help_rows = help_ ? static_cast<int>(sizeof kHelp / sizeof kHelp[0]) + 1 : 1;
  const int log_rows = std::max(2, rows_ - static_cast<int>(lines.size()) - help_rows);
  const std::size_t first = log_.size() > static_cast<std::size_t>(log_rows) ? log_.size() - static_cast<std::size_t>(log_rows) : 0;
  for (int r = 0; r < log_rows; ++r) {
    const std::size_t i = first + static_cast<std::size_t>(r);
    Line l(cols_);
    if (i < log_.size()) l.Add(log_[i].text, kStyleCodes[log_[i].style]);
    lines.push_back(l.Done());
  }
  {
    Line l(cols_);
    l.Add(help_ ? "-- keys " : "-- ? shows the keys ", kDim).Add(std::string(static_cast<std::size_t>(std::max(0, cols_ - 8)), '-'), kDim);
    lines.push_back(l.Done());
  }
  if (help_)
    for (const char* h : kHelp) lines.push_back(Line(cols_).Add(h).Done());

  std::string frame = "\x1b[H";
  for (std::size_t i = 0; i < lines.size() && static_cast<int>(i) < rows_; ++i) {
    if (i) frame += "\r\n";
    frame += lines[i];
  }
  frame += "\x1b[J";
  return frame;
}

void Tui::Render() {
  if (!open_) return;
  std::string frame = Frame();
  if (frame == last_frame_) return;
  WriteAll(frame);
  last_frame_ = std::move(frame);
}

}  // namespace bench
