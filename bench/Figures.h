// The benchmark run: every figure against the real xelsim, each with the floor
// it should approach measured in the same run.
//
// Floors. An exchange writes its frame and then pauses 10 ms before it reads,
// and every read request pauses 1 ms; the frame and the reply travel while
// those pauses run. An exchange can therefore end no sooner than the later of
// the two: the fixed pauses (as this machine sleeps them) and the bare round
// trip of the same bytes (a socket or pty echo with the unit's piece gaps, or
// the bytes' wire time on a paced line). That is each exchange's floor. The
// pauses are slept beside the exchanges they are the floor for (one pause
// sample after each exchange), since the load of a shared machine changes by
// the second.
#pragma once

#include <string>
#include <vector>

#include "bench/Report.h"

namespace xelbench {

struct Options {
    double scale = 1.0;  // multiplies every sample count (0.1 for a quick look)
    std::string only;    // run only the sections whose name contains this
};

// Runs every section; progress goes to stderr. Throws std::runtime_error when
// a measurement cannot be made (xelsim missing, the core not registered, ...).
std::vector<Figure> runBench(const Options& options);

}  // namespace xelbench
