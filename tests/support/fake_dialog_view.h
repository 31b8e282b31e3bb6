// The configuration dialog's controls as plain data, for driving the
// dialog's logic as a user would.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/dialog_template.h"
#include "config/dialog_view.h"

namespace k2t::testing {

// The dialog's controls as plain data, shaped by the template: a control the
// template does not have, or of another kind, fails the test.
class FakeDialogView final : public DialogView {
 public:
  struct Control {
    explicit Control(ControlKind k = ControlKind::kText) : kind(k) {}
    ControlKind kind;
    std::string text;
    bool checked = false;
    std::vector<std::string> items;
    int selection = -1;
  };

  // Called for every use the real controls would not allow; a test fails,
  // a fuzz target stops.
  using MisuseHandler = void (*)(const std::string& what);
  static inline MisuseHandler on_misuse = [](const std::string& what) { ADD_FAILURE() << what; };

  FakeDialogView() {
    for (const ControlTemplate& c : PropertiesDialogTemplate().controls)
      if (c.id != kNoControlId) controls.emplace(c.id, Control(c.kind));
  }

  std::string Text(int id) override {
    reads.push_back(id);
    return Get(id, ControlKind::kEdit).text;
  }
  void SetText(int id, std::string_view text) override { Get(id, ControlKind::kEdit).text = text; }
  bool Checked(int id) override {
    reads.push_back(id);
    return Button(id).checked;
  }
  void SetChecked(int id, bool on) override { Button(id).checked = on; }
  void ClearList(int id) override {
    fills.push_back(id);
    Get(id, ControlKind::kList).items.clear();
    Get(id, ControlKind::kList).selection = -1;
  }
  void AddToList(int id, std::string_view shown) override {
    Get(id, ControlKind::kList).items.emplace_back(shown);
  }
  void SelectInList(int id, int position) override {
    Control& list = Get(id, ControlKind::kList);
    // A real list control refuses positions it does not hold.
    if (position < -1 || position >= static_cast<int>(list.items.size()))
      on_misuse("position " + std::to_string(position) + " in list " + std::to_string(id));
    list.selection = position;
  }
  int Selection(int id) override {
    reads.push_back(id);
    return Get(id, ControlKind::kList).selection;
  }
  int ListCount(int id) override { return static_cast<int>(Get(id, ControlKind::kList).items.size()); }
  void ShowWarning(std::string_view message) override { log.push_back("warn " + std::string(message)); }
  void FocusAndSelectAll(int id) override {
    log.push_back("focus " + std::to_string(id));
    focus = id;
    selected_text = Get(id, ControlKind::kEdit).text;
  }
  void EndDialog(DialogResult r) override {
    if (result.has_value()) on_misuse("closed twice");
    result = r;
  }

  // What a user does.
  void Type(int id, std::string_view text) { Get(id, ControlKind::kEdit).text = text; }
  void Choose(int id, int position) { SelectInList(id, position); }
  void Tick(int id, bool on = true) { Get(id, ControlKind::kCheckBox).checked = on; }
  void Pick(int id, int partner) {
    Get(id, ControlKind::kRadioButton).checked = true;
    Get(partner, ControlKind::kRadioButton).checked = false;
  }
  std::string Shown(int id) { return Get(id, ControlKind::kEdit).text; }
  std::string SelectedItem(int id) {
    Control& list = Get(id, ControlKind::kList);
    if (list.selection < 0) return "<none>";
    return list.items.at(static_cast<std::size_t>(list.selection));
  }

  std::map<int, Control> controls;
  std::vector<int> reads;
  std::vector<int> fills;
  std::vector<std::string> log;
  int focus = 0;
  std::string selected_text;
  std::optional<DialogResult> result;

 private:
  Control& Get(int id, ControlKind kind) {
    auto it = controls.find(id);
    if (it == controls.end()) {
      on_misuse("no control " + std::to_string(id));
      return dummy_;
    }
    if (it->second.kind != kind) on_misuse("control " + std::to_string(id) + " is of another kind");
    return it->second;
  }
  Control& Button(int id) {
    auto it = controls.find(id);
    if (it == controls.end() || (it->second.kind != ControlKind::kCheckBox &&
                                 it->second.kind != ControlKind::kRadioButton)) {
      on_misuse("no check box or radio button " + std::to_string(id));
      return dummy_;
    }
    return it->second;
  }
  Control dummy_;
};

}  // namespace k2t::testing
