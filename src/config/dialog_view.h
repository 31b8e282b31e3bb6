// What the configuration dialog's logic needs of a window system: the
// controls of the dialog addressed by their identifiers, a warning box, the
// keyboard focus and the end of the modal run. Each platform implements it
// over its own widgets; tests implement it over plain data.
#pragma once

#include <string>
#include <string_view>

namespace k2t {

enum class DialogResult { kOk, kCancel };

class DialogView {
 public:
  virtual ~DialogView() = default;

  // Edit boxes: the text as the user sees it.
  virtual std::string Text(int id) = 0;
  virtual void SetText(int id, std::string_view text) = 0;

  // Check boxes and radio buttons.
  virtual bool Checked(int id) = 0;
  virtual void SetChecked(int id, bool on) = 0;

  // Drop-down lists. Select(-1) leaves the list without a selection;
  // Selection() is -1 when nothing is selected.
  virtual void ClearList(int id) = 0;
  virtual void AddToList(int id, std::string_view shown) = 0;
  virtual void SelectInList(int id, int position) = 0;
  virtual int Selection(int id) = 0;
  virtual int ListCount(int id) = 0;

  // A modal message with a warning icon and an OK button; returns once the
  // user has closed it.
  virtual void ShowWarning(std::string_view message) = 0;
  // Moves the keyboard focus to the control, selecting the whole text of an
  // edit box.
  virtual void FocusAndSelectAll(int id) = 0;
  // Closes the dialog; the modal run returns with this result.
  virtual void EndDialog(DialogResult result) = 0;
};

// What a view reports to the dialog's logic.
class DialogEvents {
 public:
  virtual ~DialogEvents() = default;
  // The controls exist and the dialog is not shown yet.
  virtual void OnInitDialog() = 0;
  // The OK button was clicked (or Enter pressed).
  virtual void OnOK() = 0;
  // Escape or the close box.
  virtual void OnCancel() = 0;
};

}  // namespace k2t
