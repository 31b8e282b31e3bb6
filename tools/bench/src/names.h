// Names for the codes the module sends and reads, shown next to the numbers
// in the log so a reader need not look them up.
#pragma once

#include <string_view>

namespace bench {

// Empty when the code has no name.
std::string_view ButtonName(int code);
std::string_view DroName(int code);
std::string_view LedName(int code);

// "X" .. "C" for 0..5; the index for a letter (either case), or -1.
char AxisLetter(int axis);
int AxisIndex(std::string_view letter);

// Byte 19 of the output report: the jog-mode code in its low nibble.
std::string_view ModeCodeName(int code);

}  // namespace bench
