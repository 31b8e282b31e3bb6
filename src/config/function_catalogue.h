// The fixed choice lists offered by the configuration dialog. A setting holds
// the 0-based position of the chosen entry; the run-time code turns the
// position back into the entry's leading number.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace k2t {

enum class CatalogueList { kFunction, kVelocity, kSlowDown, kScreen, kDigits };

// The list's entries, in order ("<number>, <shown text>").
std::span<const std::string_view> CatalogueEntries(CatalogueList list);

// Everything after the first comma of an entry, unchanged.
std::string_view ShownText(std::string_view entry);
// The entry's leading integer (standard integer conversion).
std::int32_t EntryCode(std::string_view entry);

// Bounds-checked lookup: true with the entry's code when position is inside
// the list, false (code untouched) otherwise.
bool CodeAt(CatalogueList list, int position, std::int32_t& code);

// Run-time codes. A position outside its list (a hand-edited profile, or the
// -1 the dialog stores for a list left without selection) never reads outside
// it: function keys and screens then act as position 0 ("NONE"); velocity and
// slow-down fall back to the entry the dialog proposes by default.
std::int32_t FunctionKeyCodeAt(int position);
std::int32_t VelocitySensitivityAt(int position);
std::int32_t SlowDownDivisorAt(int position);
// Host screen code for a screen choice (0 = none).
std::int32_t ScreenCodeAt(int position);

inline constexpr int kDefaultVelocityPosition = 2;  // shown "3", sensitivity 5
inline constexpr int kDefaultSlowDownPosition = 2;  // divisor 4

// The dialog side of filling a list: what the procedure needs of a list control.
class ChoiceList {
 public:
  virtual ~ChoiceList() = default;
  virtual void Clear() = 0;
  virtual void Add(std::string_view shown) = 0;
  virtual void Select(int position) = 0;  // -1: no selection
};

// Empties the list, adds every entry's shown text in order and selects the
// stored position, or nothing when it lies outside the list.
void FillChoiceList(CatalogueList list, int stored_position, ChoiceList& target);

}  // namespace k2t
