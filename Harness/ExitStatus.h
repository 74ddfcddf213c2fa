// The exit statuses every pei-sim command shares, and the one a finished run
// of the module earns, whichever machine ran it.
#ifndef HARNESS_EXIT_STATUS_H_
#define HARNESS_EXIT_STATUS_H_

#include "BoardSummary.h"

enum class ExitStatus : int {
  Success = 0,
  Failed = 1,         // ModuleEntry returned an error status; inspect: a broken contract; report: over budget
  Usage = 2,          // the command line is wrong
  Halted = 3,         // the processor halted or the run did not finish; format: a check failed
  CannotRun = 4,      // the file cannot be read or run, or QEMU could not run it
  NotDispatched = 5,  // the dependency expression did not hold
  Disagrees = 6,      // QEMU's devices or trace disagree with the described state
};

constexpr int ExitCode(ExitStatus Status) { return static_cast<int>(Status); }

// Success, Failed, Halted or NotDispatched, from the state a run left.
ExitStatus ExitStatusOf(const BoardState &State);

#endif  // HARNESS_EXIT_STATUS_H_
