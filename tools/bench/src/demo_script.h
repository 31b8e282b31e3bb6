#pragma once

namespace bench {
// The script --demo plays: each pendant feature a newcomer should see once.
extern const char* const kDemoScript;
}  // namespace bench
