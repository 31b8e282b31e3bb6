#include "config/propertiesdlg.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "common/text.h"
#include "config/dialog_template.h"
#include "config/function_catalogue.h"

namespace k2t {

namespace {

constexpr std::string_view kNotAnInteger = "Please enter an integer.";
constexpr std::string_view kOutOfRange = "Please enter an integer between %1 and %2.";

// How a control's text or state becomes its value.
enum class Exchange {
  kInt16,      // edit box, integer keeping its low 16 bits
  kInt32,      // edit box, integer, optionally within [min, max]
  kText,       // edit box, text as typed
  kList,       // position of the selected item, -1 for none
  kCheck,      // ticked = true
  kRadioPair,  // id: the button meaning false, id_true: the one meaning true
};

struct Binding {
  Exchange exchange;
  int id;
  std::variant<std::int16_t*, std::int32_t*, std::string*, bool*> field;
  int id_true = 0;
  bool ranged = false;
  std::int32_t min = 0, max = 0;
};

// The control table: every control with its value, in the order the checks
// run on OK.
std::vector<Binding> ControlTable(PendantSettings& v) {
  std::vector<Binding> t;
  const auto int16 = [&](int id, std::int16_t& f) { t.push_back({Exchange::kInt16, id, &f}); };
  const auto int32 = [&](int id, std::int32_t& f) { t.push_back({Exchange::kInt32, id, &f}); };
  const auto ranged = [&](int id, std::int32_t& f, std::int32_t max) {
    t.push_back({Exchange::kInt32, id, &f, 0, true, 0, max});
  };
  const auto text = [&](int id, std::string& f) { t.push_back({Exchange::kText, id, &f}); };
  const auto list = [&](int id, std::int16_t& f) { t.push_back({Exchange::kList, id, &f}); };
  const auto check = [&](int id, bool& f) { t.push_back({Exchange::kCheck, id, &f}); };
  const auto radio = [&](int id_false, int id_true, bool& f) {
    t.push_back({Exchange::kRadioPair, id_false, &f, id_true});
  };

  int16(dlg::kMacro[1], v.macroNumber[1]);
  int16(dlg::kMacro[2], v.macroNumber[2]);
  int16(dlg::kOemButton[1], v.oemButtonCode[1]);
  int16(dlg::kOemButton[2], v.oemButtonCode[2]);
  list(dlg::kVelocityList, v.velocityIndex);
  list(dlg::kSlowDownList, v.slowDownIndex);
  int32(dlg::kDelaySteps, v.delaySteps);
  for (int i = 1; i <= 9; ++i) text(dlg::kStepSizeFirst + i - 1, v.stepSize[i]);
  for (int i = 1; i <= 9; ++i) ranged(dlg::kFeedOverrideFirst + i - 1, v.feedOverride[i], 250);
  for (int i = 1; i <= 9; ++i) text(dlg::kFeedRateFirst + i - 1, v.feedRate[i]);
  for (int i = 1; i <= 9; ++i) ranged(dlg::kSlowJogFirst + i - 1, v.slowJogRate[i], 100);
  for (int i = 1; i <= 9; ++i) ranged(dlg::kSpindleOverrideFirst + i - 1, v.spindleOverride[i], 250);
  for (int i = 1; i <= 9; ++i) int32(dlg::kSpindleSpeedFirst + i - 1, v.spindleSpeed[i]);
  for (int n = 1; n <= 3; ++n) list(dlg::kScreenList[n], v.screenSelection[n]);
  check(dlg::kIncludeA, v.includeAAxis);
  check(dlg::kIncludeB, v.includeBAxis);
  check(dlg::kIncludeC, v.includeCAxis);
  check(dlg::kReverseX, v.reverseX);
  check(dlg::kReverseY, v.reverseY);
  check(dlg::kReverseZ, v.reverseZ);
  radio(dlg::kUseFro, dlg::kUseFeedRate, v.useFeedRate);
  radio(dlg::kUseSro, dlg::kUseSpindleSpeed, v.useSpindleSpeed);
  for (int k = 0; k < 3; ++k) list(dlg::kFunctionList[k], v.functionKeyAction[k]);
  int16(dlg::kOemButton[3], v.oemButtonCode[3]);
  int16(dlg::kOemButton[4], v.oemButtonCode[4]);
  int16(dlg::kMacro[3], v.macroNumber[3]);
  int16(dlg::kMacro[4], v.macroNumber[4]);
  list(dlg::kDigitsList, v.droDigitsIndex);
  check(dlg::kDisplayRpm, v.displaySpindleRpm);
  for (int n = 1; n <= 3; ++n) text(dlg::kLabel[n], v.functionKeyLabel[n]);
  return t;
}

std::string RangeMessage(std::int32_t min, std::int32_t max) {
  std::string message(kOutOfRange);
  TextBuffer<16> low, high;
  low.AppendInt(min);
  high.AppendInt(max);
  message.replace(message.find("%1"), 2, low.view());
  message.replace(message.find("%2"), 2, high.view());
  return message;
}

// A dialog list seen through the view, for the catalogue's fill procedure.
class ViewList final : public ChoiceList {
 public:
  ViewList(DialogView& view, int id) : view_(view), id_(id) {}
  void Clear() override { view_.ClearList(id_); }
  // List controls draw a tab as a gap of their own or not at all (the
  // function list's "ZeroAll" has three before it, and looked empty); a
  // space keeps the words in view. Positions and codes stay as they are.
  void Add(std::string_view shown) override {
    std::string item(shown);
    std::replace(item.begin(), item.end(), '\t', ' ');
    view_.AddToList(id_, item);
  }
  void Select(int position) override { view_.SelectInList(id_, position); }

 private:
  DialogView& view_;
  int id_;
};

// A stored position shown in a list: only positions inside the list select.
void SelectStored(DialogView& view, int id, int position) {
  view.SelectInList(id, position >= 0 && position < view.ListCount(id) ? position : -1);
}

// The selected position, -1 for none or for anything the list does not hold.
int SelectedPosition(DialogView& view, int id) {
  const int selected = view.Selection(id);
  return selected >= 0 && selected < view.ListCount(id) ? selected : -1;
}

}  // namespace

propertiesdlg::propertiesdlg(PendantSettings& settings, DialogView& view)
    : settings_(settings), view_(view) {}

void propertiesdlg::OnInitDialog() {
  values_ = settings_;
  const struct {
    int id;
    CatalogueList list;
    int stored;
  } lists[] = {
      {dlg::kVelocityList, CatalogueList::kVelocity, values_.velocityIndex},
      {dlg::kFunctionList[0], CatalogueList::kFunction, values_.functionKeyAction[0]},
      {dlg::kFunctionList[1], CatalogueList::kFunction, values_.functionKeyAction[1]},
      {dlg::kFunctionList[2], CatalogueList::kFunction, values_.functionKeyAction[2]},
      {dlg::kSlowDownList, CatalogueList::kSlowDown, values_.slowDownIndex},
      {dlg::kScreenList[1], CatalogueList::kScreen, values_.screenSelection[1]},
      {dlg::kScreenList[2], CatalogueList::kScreen, values_.screenSelection[2]},
      {dlg::kScreenList[3], CatalogueList::kScreen, values_.screenSelection[3]},
      {dlg::kDigitsList, CatalogueList::kDigits, values_.droDigitsIndex},
  };
  for (const auto& l : lists) {
    ViewList target(view_, l.id);
    FillChoiceList(l.list, l.stored, target);
  }
  TransferToControls();
}

void propertiesdlg::TransferToControls() {
  for (const Binding& b : ControlTable(values_)) {
    switch (b.exchange) {
      case Exchange::kInt16: {
        TextBuffer<16> text;
        text.AppendInt(*std::get<std::int16_t*>(b.field));
        view_.SetText(b.id, text.view());
        break;
      }
      case Exchange::kInt32: {
        TextBuffer<16> text;
        text.AppendInt(*std::get<std::int32_t*>(b.field));
        view_.SetText(b.id, text.view());
        break;
      }
      case Exchange::kText: {
        const std::string& text = *std::get<std::string*>(b.field);
        view_.SetText(b.id, text);
        shown_texts_[b.id] = {view_.Text(b.id), text};
        break;
      }
      case Exchange::kList:
        SelectStored(view_, b.id, *std::get<std::int16_t*>(b.field));
        break;
      case Exchange::kCheck:
        view_.SetChecked(b.id, *std::get<bool*>(b.field));
        break;
      case Exchange::kRadioPair: {
        // The button that ends up checked first: an exclusive group may refuse
        // to uncheck its only checked button.
        const bool on = *std::get<bool*>(b.field);
        view_.SetChecked(on ? b.id_true : b.id, true);
        view_.SetChecked(on ? b.id : b.id_true, false);
        break;
      }
    }
  }
}

bool propertiesdlg::TransferFromControls() {
  for (const Binding& b : ControlTable(values_)) {
    switch (b.exchange) {
      case Exchange::kInt16:
      case Exchange::kInt32: {
        std::int32_t value = 0;
        std::string failure;
        // A box's integer: leading white space, an optional sign and at least
        // one digit; whatever follows is ignored. A number beyond 32 bits is
        // outside any range, and no integer a box without one could take.
        const LeadingInt parsed = ParseLeadingInt32(view_.Text(b.id), value);
        const bool outside = parsed == LeadingInt::kOutOfRange ||
                             (parsed == LeadingInt::kValid && b.ranged && (value < b.min || value > b.max));
        if (outside && b.ranged) failure = RangeMessage(b.min, b.max);
        else if (parsed != LeadingInt::kValid) failure = kNotAnInteger;
        if (!failure.empty()) {
          view_.ShowWarning(failure);
          view_.FocusAndSelectAll(b.id);
          return false;
        }
        if (b.exchange == Exchange::kInt16)
          *std::get<std::int16_t*>(b.field) =
              static_cast<std::int16_t>(static_cast<std::uint16_t>(value));
        else
          *std::get<std::int32_t*>(b.field) = value;
        break;
      }
      case Exchange::kText: {
        // A box left as it was shown keeps its text exactly, also where the
        // window system could not show every byte of it.
        std::string typed = view_.Text(b.id);
        const auto shown = shown_texts_.find(b.id);
        const bool unedited = shown != shown_texts_.end() && shown->second.first == typed;
        *std::get<std::string*>(b.field) = unedited ? shown->second.second : std::move(typed);
        break;
      }
      case Exchange::kList:
        *std::get<std::int16_t*>(b.field) = static_cast<std::int16_t>(SelectedPosition(view_, b.id));
        break;
      case Exchange::kCheck:
        *std::get<bool*>(b.field) = view_.Checked(b.id);
        break;
      case Exchange::kRadioPair:
        *std::get<bool*>(b.field) = view_.Checked(b.id_true);
        break;
    }
  }
  return true;
}

void propertiesdlg::OnOK() {
  if (!TransferFromControls()) return;
  // All or nothing: the settings change only here, after every check passed.
  settings_ = values_;
  view_.EndDialog(DialogResult::kOk);
}

void propertiesdlg::OnCancel() { view_.EndDialog(DialogResult::kCancel); }

std::string SaveFailedMessage(const ProfileSaveError& error) {
  return "The pendant settings could not be saved to the profile\n" + error.file + "\n\n" + error.reason +
         "\n\nThey stay in effect until the host ends; the next Config starts from the profile.";
}

}  // namespace k2t
