// How long the module takes to act on what the pendant shows, with the
// pendant sending reports faster than the module polls.
#pragma once

#include <cstdio>

#include "bench.h"

namespace bench {

// For 40, 125 and 1000 reports a second, in virtual time, each run in a
// process of its own so the module starts fresh: ticks from an E-stop press
// (the wheel still turning) to DoButton 1021, and ticks from the wheel's last
// detent to the last step move. 1 means "in the tick the pendant's report
// showed it". For those rates, an idle pendant and an absent one, the wall
// clock time each module tick holds the host's thread (median and worst of
// 400 ticks, the virtual pendant blocking on read timeouts as a device queue
// does) and the reads that asked to wait. Prints a table to `out`; returns
// false when a run failed.
bool PrintLatencyTable(const BenchOptions& options, std::FILE* out);

}  // namespace bench
