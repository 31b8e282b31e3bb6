#include "demo_script.h"

namespace bench {

// 40 ticks are one second. The expectations make the demo's trace a test of
// what it shows.
const char* const kDemoScript = R"(# pendant-bench --demo: a tour of the pendant on the simulated machine.
say "The pendant starts in velocity mode: Vel on its display, axis X selected."
tick 80

say "Velocity jog: the wheel turns steadily and the host jogs X at a speed that follows it."
wheel +120 ticks 60 rate 30
tick 60
expect call Code "DOJOG"
expect moving X
say "The wheel rests: ENDJOG, and the axis slows down and stops."
tick 60
expect stopped

say "Mode selector position 1: step mode. The display shows the step size, 0.0010."
mode 1
tick 2
mode 0
tick 78
say "Step jog: five detents make one incremental move of 5 x 0.001 at half the axis speed."
wheel +5
tick 2
expect call Code "G91G1 F60.0000 X 0.0050"
tick 78

say "Step size with EN: hold EN (longer than a third of a second), then each turn of the wheel picks the next size."
press en
tick 40
expect display "Stepsize  0.0010"
wheel +1
tick 30
wheel +1
tick 30
expect call SetDRO 828 0.009999999776482582
expect display "Stepsize  0.0100"
release en
tick 40
say "The same five detents now move ten times as far."
wheel +5
tick 2
expect call Code "G91G1 F60.0000 X 0.0500"
tick 78

say "Feed override: selector position 3. Each detent changes the override by half a percent."
mode 3
tick 2
mode 0
tick 58
wheel +20 ticks 10
tick 70
expect dro 821 > 110
expect display contains "FRO 110%"

say "Cycle start, confirmed: back to step mode, hold START/HOLD; the display asks PROGRAM START?"
mode 1
tick 2
mode 0
tick 38
press start
tick 40
expect display contains "PROGRAM START"
say "... and press EN while START/HOLD is held: the program runs."
press en
tick 4
expect call DoButton 1000
release en
tick 4
release start
tick 2
expect led 804 on
say "While it runs the display shows a running arrow and the axes move."
tick 160

say "E-stop: the host stops everything, the display blinks E-STOP."
estop on
tick 4
expect call DoButton 1021
expect led 800 on
expect stopped
tick 116
say "Release the E-stop: one more 1021 resets the host."
estop off
tick 4
expect call DoButton 1021
expect led 800 off
tick 116
say "That was the demo. The pendant is yours now: ? shows the keys, q quits."
)";

}  // namespace bench
