// Looking for a physical pendant before the module does, so a missing or
// unreadable one is explained to the user instead of failing silently (the
// module itself reports nothing).
#pragma once

#include <string>

namespace host_kit {

// True when a pendant (USB 04d8:fce8) has a hidraw node this user can read
// and write; otherwise false and a message that says what to do.
bool FindRealPendant(std::string& node, std::string& message);

// True when a pendant is plugged in (a hidraw node has its ids), whether or
// not this user may open it. Reads sysfs only; cheap enough to ask often.
bool RealPendantPresent();

}  // namespace host_kit
