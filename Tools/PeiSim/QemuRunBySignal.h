// A QEMU run of a pei-sim command: a signal that ended it (QEMU and the
// temporary folder are gone by then) ends pei-sim too, as the signal asked.
#ifndef TOOLS_PEI_SIM_QEMU_RUN_BY_SIGNAL_H_
#define TOOLS_PEI_SIM_QEMU_RUN_BY_SIGNAL_H_

#include <csignal>
#include <cstdio>

#include "QemuRun.h"

// RunOnQemu's result, unless a signal ended the run: then it does not return.
inline bool RunOnQemuUnlessSignalled(const QemuSettings &Settings, QemuOutcome &Outcome) {
  const bool Started = RunOnQemu(Settings, Outcome);
  if (Outcome.StopSignal != 0) {
    std::fprintf(stderr, "pei-sim: the QEMU run was %s\n", Outcome.Error.c_str());
    std::signal(Outcome.StopSignal, SIG_DFL);
    std::raise(Outcome.StopSignal);
  }
  return Started;
}

#endif  // TOOLS_PEI_SIM_QEMU_RUN_BY_SIGNAL_H_
