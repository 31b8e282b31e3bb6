// The configuration dialog as a native Windows dialog: the template data
// built into a dialog template in memory, run modally, and the dialog's
// logic reaching the Win32 controls through the DialogView port.
#pragma once

#include <windows.h>

#include <vector>

#include "config/dialog_template.h"
#include "config/dialog_view.h"

namespace k2t {
struct PendantSettings;
}

namespace k2t::windows_platform {

class Win32DialogView final : public DialogView {
 public:
  explicit Win32DialogView(const DialogTemplate& dialog) : dialog_(dialog) {}
  ~Win32DialogView() override;
  Win32DialogView(const Win32DialogView&) = delete;
  Win32DialogView& operator=(const Win32DialogView&) = delete;

  // Runs the dialog modally on the calling thread, owned by owner (or none),
  // until OK or cancel; events get the dialog's initialisation, OK and
  // cancel. The thread's timers keep firing while it runs.
  DialogResult Run(DialogEvents& events, HWND owner);
  HWND hwnd() const { return hwnd_; }

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

 private:
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  void OnInitDialog(HWND hwnd);
  void ShowPictures();
  void FitListDropWidths();
  HWND Control(int id) const;
  void DeleteBitmaps();

  const DialogTemplate& dialog_;
  DialogEvents* events_ = nullptr;
  HWND hwnd_ = nullptr;
  std::vector<HBITMAP> bitmaps_;   // the pictures made, deleted when the dialog ends
  std::vector<HWND> picture_controls_;
};

// Takes the pictures back from the controls showing them before these go,
// and deletes what a control hands back unless it is one of own (the
// caller's to delete). A static control of version 6 of the common controls
// shows its own copy of a bitmap with coverage (alpha) and hands that copy
// back: it is the caller's to delete, or it leaks with every dialog.
void TakeBackPictures(const std::vector<HWND>& controls, const std::vector<HBITMAP>& own);

// Config's dialog: the template 4013 over settings, owned by the calling
// thread's active window. A second call while one runs does nothing.
void RunConfigDialogWin32(PendantSettings& settings);

}  // namespace k2t::windows_platform
