// The configuration dialog's logic, independent of any window system: it
// copies PendantSettings into its own values, shows them in the controls of
// a DialogView, and on OK reads and checks every control before the
// settings change.
#pragma once

#include <map>
#include <string>
#include <utility>

#include "config/dialog_view.h"
#include "settings/pendant_settings.h"
#include "settings/xml_document.h"

namespace k2t {

// The class keeps the dialog's historical lower-case name.
class propertiesdlg final : public DialogEvents {
 public:
  static constexpr int IDD = 4013;  // the template

  propertiesdlg(PendantSettings& settings, DialogView& view);

  // Copies the settings into the dialog's values, fills the lists and shows
  // every value in its control.
  void OnInitDialog() override;
  // Reads every control in the order of the control table, checking as it
  // goes. The first failing check shows its message, puts the focus on that
  // control and keeps the dialog open; PendantSettings then stays as it was.
  // Only when every check passed do all the values reach PendantSettings at
  // once, and the dialog closes with OK.
  void OnOK() override;
  // Closes the dialog; PendantSettings keeps its values.
  void OnCancel() override;

  // The dialog's own copy of the values, as last read from or shown in the
  // controls.
  const PendantSettings& values() const { return values_; }

 private:
  // False at the first failing check, which has then been reported.
  bool TransferFromControls();
  void TransferToControls();

  PendantSettings& settings_;
  DialogView& view_;
  PendantSettings values_;
  // Each text box: the text as the view showed it at the start, and the
  // setting's text it came from.
  std::map<int, std::pair<std::string, std::string>> shown_texts_;
};

// What Config shows when the settings did not reach the profile: the file
// and the reason.
std::string SaveFailedMessage(const ProfileSaveError& error);

}  // namespace k2t
