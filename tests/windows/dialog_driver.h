// A user at a modal dialog, for tests: an active owner window whose
// WM_ENTERIDLE (sent by the dialog's modal loop whenever it waits for
// input) runs the next step, and a hook that reads and closes the message
// boxes the dialog shows. Deterministic: steps run only when the dialog is
// idle, on its own thread.
#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace k2t::dialog_driver {

// One step; true when done, false to be run again at the next wait.
using Step = std::function<bool(HWND dialog)>;

class DialogDriver {
 public:
  DialogDriver();  // makes the owner window and activates it
  ~DialogDriver();
  DialogDriver(const DialogDriver&) = delete;
  DialogDriver& operator=(const DialogDriver&) = delete;

  HWND owner() const { return owner_; }
  // Calls open (which runs the dialog modally, owned by the active window)
  // with a user who takes these steps, then presses Escape if the dialog is
  // still open. Returns the texts of the message boxes it showed, each closed
  // with OK. A dialog still open after 30 s fails the test and is ended.
  std::vector<std::string> Run(std::vector<Step> steps, const std::function<void()>& open);

 private:
  HWND owner_ = nullptr;
};

// Steps' tools.
HWND Item(HWND dialog, int id);
void Type(HWND dialog, int id, const std::wstring& text);  // an edit box's whole text
void Click(HWND dialog, int id);                            // a button, as the mouse would
void Key(HWND dialog, UINT key);                            // to the control with the focus
std::wstring TextOf(HWND hwnd);
std::string Utf8(const std::wstring& text);

}  // namespace k2t::dialog_driver
