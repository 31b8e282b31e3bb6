// The fuzzer's bytes are the stored settings, the texts typed into every
// box, the list choices, ticks and radio picks, and OK or cancel, through
// the dialog's logic over a fake view. Checked after every OK and cancel:
// the settings change all at once or not at all; an accepted dialog holds
// exactly what a plain reading of the controls gives; a refused one reports
// the first box that fails, with its message.
#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "config/dialog_template.h"
#include "config/propertiesdlg.h"
#include "fuzz_input.h"
#include "settings/profile_store.h"
#include "support/fake_dialog_view.h"

namespace {

using k2t::PendantSettings;
using k2t::fuzz::Check;
using k2t::testing::FakeDialogView;

// Integer boxes in the order their checks run; max < 0: no range.
struct IntegerBox {
  int id;
  int max;
};
std::vector<IntegerBox> IntegerBoxes() {
  std::vector<IntegerBox> boxes = {{4162, -1}, {4163, -1}, {4164, -1}, {4165, -1}, {4181, -1}};
  for (int first : {4198, 4216, 4225, 4234})
    for (int i = 0; i < 9; ++i) boxes.push_back({first + i, first == 4216 ? 100 : first == 4234 ? -1 : 250});
  for (int id : {4166, 4167, 4168, 4185}) boxes.push_back({id, -1});
  return boxes;
}

// A box's text read by the C library: whether it starts with digits, and
// their value when it fits 32 bits.
struct Reading {
  bool digits = false;
  std::optional<std::int32_t> value;
};
Reading Read(const std::string& text) {
  const char* start = text.c_str();
  char* end = nullptr;
  errno = 0;
  const long long value = std::strtoll(start, &end, 10);
  Reading r;
  r.digits = end != start;
  if (r.digits && errno != ERANGE && value >= INT32_MIN && value <= INT32_MAX)
    r.value = static_cast<std::int32_t>(value);
  return r;
}

std::int16_t Low16(std::int32_t value) { return static_cast<std::int16_t>(static_cast<std::uint16_t>(value)); }

// What OK stores when every check passes, read straight from the controls.
PendantSettings Expected(PendantSettings s, FakeDialogView& view) {
  auto text = [&](int id) { return view.controls[id].text; };
  auto number = [&](int id) { return *Read(text(id)).value; };
  auto list = [&](int id) { return static_cast<std::int16_t>(view.controls[id].selection); };
  auto ticked = [&](int id) { return view.controls[id].checked; };
  const int macros[] = {0, 4162, 4163, 4168, 4185}, oems[] = {0, 4164, 4165, 4166, 4167};
  for (int n = 1; n <= 4; ++n) {
    s.macroNumber[n] = Low16(number(macros[n]));
    s.oemButtonCode[n] = Low16(number(oems[n]));
  }
  s.delaySteps = number(4181);
  for (int i = 1; i <= 9; ++i) {
    s.stepSize[i] = text(4170 + i);
    s.feedOverride[i] = number(4197 + i);
    s.feedRate[i] = text(4206 + i);
    s.slowJogRate[i] = number(4215 + i);
    s.spindleOverride[i] = number(4224 + i);
    s.spindleSpeed[i] = number(4233 + i);
  }
  s.velocityIndex = list(4037);
  s.slowDownIndex = list(4023);
  for (int n = 1; n <= 3; ++n) s.screenSelection[n] = list(4031 + n);
  s.functionKeyAction = {list(4040), list(4041), list(4044)};
  s.droDigitsIndex = list(4021);
  s.includeAAxis = ticked(4180), s.includeBAxis = ticked(4243), s.includeCAxis = ticked(4244);
  s.reverseX = ticked(4245), s.reverseY = ticked(4246), s.reverseZ = ticked(4247);
  s.displaySpindleRpm = ticked(4186);
  s.useFeedRate = ticked(4035);
  s.useSpindleSpeed = ticked(4159);
  s.functionKeyLabel = {"", text(4169), text(4170), text(4183)};
  return s;
}

// The first failing box and its message, or none.
std::optional<std::pair<int, std::string>> FirstFailure(FakeDialogView& view) {
  for (const IntegerBox& box : IntegerBoxes()) {
    const Reading r = Read(view.controls[box.id].text);
    if (box.max >= 0 && r.digits && (!r.value || *r.value < 0 || *r.value > box.max))
      return std::pair{box.id, "Please enter an integer between 0 and " + std::to_string(box.max) + "."};
    if (!r.value) return std::pair{box.id, std::string("Please enter an integer.")};
  }
  return std::nullopt;
}

PendantSettings StoredSettings(k2t::fuzz::FuzzInput& in) {
  PendantSettings s;
  k2t::ProfileStore empty("", nullptr);
  k2t::ReloadSettings(s, empty);
  // Stored positions in and outside their lists, and texts of any bytes.
  for (std::int16_t* position : {&s.velocityIndex, &s.slowDownIndex, &s.droDigitsIndex, &s.screenSelection[1],
                                 &s.screenSelection[2], &s.screenSelection[3], &s.functionKeyAction[0],
                                 &s.functionKeyAction[1], &s.functionKeyAction[2]})
    *position = static_cast<std::int8_t>(in.Byte());
  s.functionKeyLabel[1] = in.Text();
  s.stepSize[1] = in.Text();
  s.macroNumber[1] = in.Raw<std::int16_t>();
  s.spindleSpeed[1] = in.Raw<std::int32_t>();
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FakeDialogView::on_misuse = [](const std::string& what) { k2t::fuzz::Fail("view misused: " + what); };
  k2t::fuzz::FuzzInput in(data, size);
  PendantSettings settings = StoredSettings(in);
  const PendantSettings before = settings;
  // One view for the process: opening the dialog sets every control again.
  static FakeDialogView view;
  view.log.clear();
  view.reads.clear();
  view.fills.clear();
  view.result.reset();
  k2t::propertiesdlg dialog(settings, view);
  dialog.OnInitDialog();
  Check(settings == before && view.log.empty(), "opening changed something");

  while (!view.result) {
    for (auto& [id, control] : view.controls) {
      if (!in.Flag()) continue;
      switch (control.kind) {
        case k2t::ControlKind::kEdit: control.text = in.Text(); break;
        case k2t::ControlKind::kList:
          control.selection = static_cast<int>(in.Below(static_cast<unsigned>(control.items.size()) + 1)) - 1;
          break;
        case k2t::ControlKind::kCheckBox: control.checked = !control.checked; break;
        case k2t::ControlKind::kRadioButton: {
          const int partner = id == 4161 ? 4035 : id == 4035 ? 4161 : id == 4036 ? 4159 : 4036;
          control.checked = true;
          view.controls[partner].checked = false;
          break;
        }
        default: break;
      }
    }
    view.log.clear();
    if (in.Below(3) == 1 || in.empty()) {
      dialog.OnCancel();
      Check(view.result == k2t::DialogResult::kCancel && settings == before, "cancel changed the settings");
      break;
    }
    const PendantSettings expected = Expected(before, view);
    const auto failure = FirstFailure(view);
    dialog.OnOK();
    if (failure) {
      Check(!view.result && settings == before, "a refused OK changed the settings or closed");
      Check(view.log == std::vector<std::string>{"warn " + failure->second, "focus " + std::to_string(failure->first)},
            "a refused OK did not report the first failing box");
    } else {
      Check(view.result == k2t::DialogResult::kOk && view.log.empty(), "a valid OK did not close");
      Check(settings == expected, "OK stored something other than the controls hold");
    }
  }
  return 0;
}
