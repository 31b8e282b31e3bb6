// The settings the configuration dialog opens with over an empty profile:
// the configuration load's defaults, which differ from the start-up load's.
#pragma once

#include "settings/pendant_settings.h"
#include "settings/profile_store.h"

namespace k2t::test_support {

inline PendantSettings DialogDefaults() {
  PendantSettings s;
  ProfileStore store("", nullptr);
  ReloadSettings(s, store);
  return s;
}

}  // namespace k2t::test_support
