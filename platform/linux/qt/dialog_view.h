// The configuration dialog as Qt widgets, built from the dialog template.
#pragma once

#include <QDialog>
#include <QFont>
#include <QRect>
#include <QSize>

#include <map>

#include "config/dialog_template.h"
#include "config/dialog_view.h"

namespace k2t::linux_platform::qt {

// Dialog units of a font: a horizontal unit is a quarter of the average
// character width, a vertical unit an eighth of the character height.
struct DialogUnits {
  int base_x = 0;  // average character width, pixels
  int base_y = 0;  // character height, pixels

  static DialogUnits Of(const QFont& font);
  QRect ToPixels(const DialogRect& r) const;
  QSize ToPixels(int width, int height) const;
};

class QtDialogView final : public QDialog, public DialogView {
 public:
  explicit QtDialogView(const DialogTemplate& dialog, QWidget* parent = nullptr);
  ~QtDialogView() override;

  // Lets `events` initialise the controls, then shows the dialog on top with
  // the focus on OK; returns at once.
  void Open(DialogEvents& events);
  // Open, then the modal run until OK or cancel.
  DialogResult Run(DialogEvents& events);

  // The widget of a control, null for an unknown identifier.
  QWidget* Control(int id) const;
  const DialogUnits& units() const { return units_; }

  // DialogView
  std::string Text(int id) override;
  void SetText(int id, std::string_view text) override;
  bool Checked(int id) override;
  void SetChecked(int id, bool on) override;
  void ClearList(int id) override;
  void AddToList(int id, std::string_view shown) override;
  void SelectInList(int id, int position) override;
  int Selection(int id) override;
  int ListCount(int id) override;
  void ShowWarning(std::string_view message) override;
  void FocusAndSelectAll(int id) override;
  void EndDialog(DialogResult result) override;

 protected:
  // Escape and the close box go through the dialog's logic.
  void reject() override;

 private:
  template <class W>
  W* As(int id) const;
  void FitListPopups();

  DialogUnits units_;
  std::map<int, QWidget*> controls_;
  std::map<int, bool> sorted_lists_;
  DialogEvents* events_ = nullptr;
};

}  // namespace k2t::linux_platform::qt
