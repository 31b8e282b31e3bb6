#include "settings/pendant_settings.h"

#include "common/text.h"
#include "settings/profile_store.h"

namespace k2t {

namespace {

constexpr const char* kButtonKeys[] = {"BUTTON0", "BUTTON1", "BUTTON2"};
constexpr const char* kMacroKeys[] = {"Macro1", "Macro2", "Macro3", "Macro4"};
constexpr const char* kOemKeys[] = {"OEM1", "OEM2", "OEM3", "OEM4"};
constexpr const char* kScreenKeys[] = {"ScreenSel1", "ScreenSel2", "ScreenSel3"};
constexpr const char* kStepKeys[] = {"S1", "S2", "S3", "S4", "S5", "S6", "S7", "S8", "S9"};
constexpr const char* kFeedOverrideKeys[] = {"Fp1", "Fp2", "Fp3", "Fp4", "Fp5",
                                             "Fp6", "Fp7", "Fp8", "Fp9"};
constexpr const char* kFeedRateKeys[] = {"F1", "F2", "F3", "F4", "F5", "F6", "F7", "F8", "F9"};
constexpr const char* kSlowJogKeys[] = {"C1", "C2", "C3", "C4", "C5", "C6", "C7", "C8", "C9"};
constexpr const char* kSpindleOverrideKeys[] = {"Sp1", "Sp2", "Sp3", "Sp4", "Sp5",
                                                "Sp6", "Sp7", "Sp8", "Sp9"};
constexpr const char* kSpindleSpeedKeys[] = {"Spd1", "Spd2", "Spd3", "Spd4", "Spd5",
                                             "Spd6", "Spd7", "Spd8", "Spd9"};
constexpr const char* kLabelKeys[] = {"Fun1", "Fun2", "Fun3"};

constexpr const char* kStepDefaults[] = {"0.0001", "0.001", "0.01", "0.1", "1",
                                         "0.254",  "0",     "0",    "0"};
constexpr std::int32_t kSlowJogDefaults[] = {1, 2, 5, 10, 20, 50, 100, 0, 0};
constexpr std::int32_t kScreenDefaults[] = {1, 2, 3};
constexpr const char* kLabelDefaults[] = {"F1", "F2", "F3"};

// Index of the key after the function keys, before which the start-up load
// opens the pendant link.
constexpr std::size_t kOpenPendantBefore = 3;

class Binder {
 public:
  explicit Binder(std::array<SettingKey, kSettingsKeyCount>& keys) : keys_(keys) {}
  void Int32(const char* name, std::int32_t& field, std::int32_t def) {
    keys_[n_++] = {name, KeyKind::kInt32, &field, def, nullptr};
  }
  void Int16(const char* name, std::int16_t& field, std::int32_t def) {
    keys_[n_++] = {name, KeyKind::kInt16, &field, def, nullptr};
  }
  void Flag(const char* name, bool& field) { keys_[n_++] = {name, KeyKind::kFlag, &field, 0, nullptr}; }
  void Text(const char* name, std::string& field, const char* def) {
    keys_[n_++] = {name, KeyKind::kText, &field, 0, def};
  }

 private:
  std::array<SettingKey, kSettingsKeyCount>& keys_;
  std::size_t n_ = 0;
};

void LoadKey(const SettingKey& key, ProfileStore& store) {
  switch (key.kind) {
    case KeyKind::kInt32:
      *static_cast<std::int32_t*>(key.field) = store.GetInt(kSettingsSection, key.name, key.default_int);
      break;
    case KeyKind::kInt16:
      // A 16-bit field keeps the low 16 bits of whatever the profile holds.
      *static_cast<std::int16_t*>(key.field) = static_cast<std::int16_t>(
          static_cast<std::uint16_t>(store.GetInt(kSettingsSection, key.name, key.default_int)));
      break;
    case KeyKind::kFlag:
      *static_cast<bool*>(key.field) = store.GetInt(kSettingsSection, key.name, 0) != 0;
      break;
    case KeyKind::kText:
      *static_cast<std::string*>(key.field) =
          store.GetText(kSettingsSection, key.name, key.default_text);
      break;
  }
}

void SaveKey(const SettingKey& key, ProfileStore& store) {
  switch (key.kind) {
    case KeyKind::kInt32:
      store.WriteInt(kSettingsSection, key.name, *static_cast<const std::int32_t*>(key.field));
      break;
    case KeyKind::kInt16:
      store.WriteInt(kSettingsSection, key.name, *static_cast<const std::int16_t*>(key.field));
      break;
    case KeyKind::kFlag:
      store.WriteInt(kSettingsSection, key.name, *static_cast<const bool*>(key.field) ? 1 : 0);
      break;
    case KeyKind::kText:
      store.WriteText(kSettingsSection, key.name, *static_cast<const std::string*>(key.field));
      break;
  }
}

}  // namespace

std::array<SettingKey, kSettingsKeyCount> BindSettingKeys(PendantSettings& s,
                                                         std::int16_t velocity_default) {
  std::array<SettingKey, kSettingsKeyCount> keys{};
  Binder b(keys);
  for (int i = 0; i < 3; ++i) b.Int16(kButtonKeys[i], s.functionKeyAction[i], 0);
  b.Int16("Vel", s.velocityIndex, velocity_default);
  for (int i = 0; i < 4; ++i) b.Int16(kMacroKeys[i], s.macroNumber[i + 1], 0);
  for (int i = 0; i < 4; ++i) b.Int16(kOemKeys[i], s.oemButtonCode[i + 1], 0);
  b.Int32("DelaySteps", s.delaySteps, 25);
  b.Int16("SlowDownRate", s.slowDownIndex, 2);
  for (int i = 0; i < 3; ++i) b.Int16(kScreenKeys[i], s.screenSelection[i + 1], kScreenDefaults[i]);
  for (int i = 0; i < 9; ++i) b.Text(kStepKeys[i], s.stepSize[i + 1], kStepDefaults[i]);
  for (int i = 0; i < 9; ++i) b.Int32(kFeedOverrideKeys[i], s.feedOverride[i + 1], 0);
  for (int i = 0; i < 9; ++i) b.Text(kFeedRateKeys[i], s.feedRate[i + 1], "0");
  for (int i = 0; i < 9; ++i) b.Int32(kSlowJogKeys[i], s.slowJogRate[i + 1], kSlowJogDefaults[i]);
  for (int i = 0; i < 9; ++i) b.Int32(kSpindleOverrideKeys[i], s.spindleOverride[i + 1], 0);
  for (int i = 0; i < 9; ++i) b.Int32(kSpindleSpeedKeys[i], s.spindleSpeed[i + 1], 0);
  b.Flag("Xreverse", s.reverseX);
  b.Flag("Yreverse", s.reverseY);
  b.Flag("Zreverse", s.reverseZ);
  b.Flag("SelectAAxis", s.includeAAxis);
  b.Flag("SelectBAxis", s.includeBAxis);
  b.Flag("SelectCAxis", s.includeCAxis);
  b.Flag("UseFRO", s.useFeedRate);
  b.Flag("UseSOV", s.useSpindleSpeed);
  b.Flag("DisplyRPM", s.displaySpindleRpm);
  b.Int16("Decidigit", s.droDigitsIndex, 2);
  for (int i = 0; i < 3; ++i) b.Text(kLabelKeys[i], s.functionKeyLabel[i + 1], kLabelDefaults[i]);
  return keys;
}

double LoadSettings(PendantSettings& settings, ProfileStore& store,
                    const std::function<void()>& open_pendant) {
  const auto keys = BindSettingKeys(settings, 0);
  for (std::size_t i = 0; i < keys.size(); ++i) {
    if (i == kOpenPendantBefore && open_pendant) open_pendant();
    LoadKey(keys[i], store);
  }
  return ParseLeadingDouble(settings.stepSize[2]);
}

void ReloadSettings(PendantSettings& settings, ProfileStore& store) {
  for (const SettingKey& key : BindSettingKeys(settings, 2)) LoadKey(key, store);
}

void SaveSettings(const PendantSettings& settings, ProfileStore& store) {
  // Binding needs mutable fields; saving only reads them.
  auto& fields = const_cast<PendantSettings&>(settings);
  for (const SettingKey& key : BindSettingKeys(fields, 0)) SaveKey(key, store);
}

}  // namespace k2t
