#include "demo_script.h"

namespace bench {

const char* const kDemoScript = R"(# the built-in demo
say "demo"
tick 10
)";

}  // namespace bench
