// The module's whole user configuration, its 84 profile keys in their one
// order, and their load and save through a ProfileStore.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

namespace k2t {

class ProfileStore;

inline constexpr const char* kSettingsSection = "iTalvo_K2T_Pendant";
inline constexpr int kSettingsKeyCount = 84;

// Arrays are indexed like their keys: positions 1..9, custom buttons and
// macros 1..4, screens and labels 1..3 (element 0 unused), function keys 0..2.
// Texts are UTF-8 (the display reads them so); each platform converts from
// and to its profile's encoding and its dialog's widgets.
struct PendantSettings {
  std::array<std::int16_t, 3> functionKeyAction{};
  std::int16_t velocityIndex = 0;
  std::array<std::int16_t, 5> macroNumber{};
  std::array<std::int16_t, 5> oemButtonCode{};
  std::int32_t delaySteps = 0;
  std::int16_t slowDownIndex = 0;
  std::array<std::int16_t, 4> screenSelection{};
  std::array<std::string, 10> stepSize{};
  std::array<std::int32_t, 10> feedOverride{};
  std::array<std::string, 10> feedRate{};
  std::array<std::int32_t, 10> slowJogRate{};
  std::array<std::int32_t, 10> spindleOverride{};
  std::array<std::int32_t, 10> spindleSpeed{};
  bool reverseX = false, reverseY = false, reverseZ = false;
  bool includeAAxis = false, includeBAxis = false, includeCAxis = false;
  bool useFeedRate = false, useSpindleSpeed = false, displaySpindleRpm = false;
  std::int16_t droDigitsIndex = 0;
  std::array<std::string, 4> functionKeyLabel{};

  bool operator==(const PendantSettings&) const = default;
};

enum class KeyKind { kInt32, kInt16, kFlag, kText };

// One profile key bound to its field in a PendantSettings.
struct SettingKey {
  const char* name;
  KeyKind kind;
  void* field;  // std::int32_t*, std::int16_t*, bool* or std::string* by kind
  std::int32_t default_int;
  const char* default_text;
};

// The 84 keys in load and save order, bound to the fields of `settings`.
// `velocity_default` is the default of "Vel", which differs between loads.
std::array<SettingKey, kSettingsKeyCount> BindSettingKeys(PendantSettings& settings,
                                                         std::int16_t velocity_default);

// Start-up load: every key, with open_pendant run between the function keys
// and "Vel"; returns the start step size (the text of "S2" as a number) that
// the caller hands the host as DRO 828.
double LoadSettings(PendantSettings& settings, ProfileStore& store,
                    const std::function<void()>& open_pendant);
// Configuration load: every key again, "Vel" defaulting to 2.
void ReloadSettings(PendantSettings& settings, ProfileStore& store);
// Writes every key, whatever changed.
void SaveSettings(const PendantSettings& settings, ProfileStore& store);

}  // namespace k2t
