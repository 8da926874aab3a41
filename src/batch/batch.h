#pragma once

#include <ostream>

#include "commandline.h"

namespace dotmatrix {

// Runs a command of the command line without a window, with the same core
// and the same promise: what it prints goes to `out`, one line
// "dotmatrix: ..." on `err` for a failure, progress on `err` where
// `progress` is set (a terminal). Returns the exit code.
int runBatch(const Invocation& invocation, std::ostream& out, std::ostream& err, bool progress);

} // namespace dotmatrix
