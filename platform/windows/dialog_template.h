// The configuration dialog's template as Windows reads it: an extended
// dialog template (DLGTEMPLATEEX) built in memory from the template data, so
// the layout has one description for every view.
#pragma once

#include <cstdint>
#include <vector>

#include "config/dialog_template.h"

namespace k2t::windows_platform {

// Dialog units a drop-down list's box takes below its closed field.
inline constexpr int kListDropHeight = 160;

// The template, DWORD-aligned as DialogBoxIndirectParam needs it: a modal
// frame with a system menu and an empty caption, on top and brought to the
// foreground, font "MS Shell Dlg" 8, and the controls in template order
// (creation and tab order) with their classes, styles and identifiers.
// Radio buttons after a group's first share its group; every other control
// starts a group of its own.
std::vector<std::uint32_t> BuildDialogTemplate(const DialogTemplate& dialog);

}  // namespace k2t::windows_platform
