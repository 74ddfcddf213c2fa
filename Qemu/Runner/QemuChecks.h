// What QEMU's own devices and trace must show after a run: the oracle beside
// the summary that the loader read back.
#ifndef QEMU_RUNNER_QEMU_CHECKS_H_
#define QEMU_RUNNER_QEMU_CHECKS_H_

#include <string>
#include <vector>

#include "QemuRun.h"

struct QemuCheck {
  std::string Text;
  bool Passed;
};

// Each device must answer at the address its base register now holds; where
// the module wrote no base, nothing may answer there.
std::vector<QemuCheck> DeviceChecks(const QemuOutcome &Outcome);

// Each UART's last line parameters are the configured rate with 8 data bits,
// no parity and 2 stop bits; the module's configuration writes are the
// described ones, in the described order.
std::vector<QemuCheck> TraceChecks(const QemuSettings &Settings, const QemuOutcome &Outcome);

#endif  // QEMU_RUNNER_QEMU_CHECKS_H_
