// What QEMU's own devices and trace must show after a run, and what the run
// itself must have been: the oracle beside the summary the foundation read
// back. A check whose data is missing fails; it never passes on a zero.
#ifndef QEMU_RUNNER_QEMU_CHECKS_H_
#define QEMU_RUNNER_QEMU_CHECKS_H_

#include <string>
#include <vector>

#include "QemuRun.h"

struct QemuCheck {
  std::string Text;
  bool Passed;
};

// The configuration writes the module must leave in QEMU's trace for these
// settings, in order.
std::vector<QemuConfigWrite> ExpectedConfigWrites(const QemuSettings &Settings);

// "baudrate=38400 parity='N' data=8 stop=2" for a divisor code.
std::string ExpectedLineParameters(std::uint8_t DivisorCode);

// Each device must answer at the address its base register now holds; where
// the module wrote no base, nothing may answer there.
std::vector<QemuCheck> DeviceChecks(const QemuOutcome &Outcome);

// The foundation's marks are in QEMU's trace; each UART's last line
// parameters are the configured rate with 8 data bits, no parity and 2 stop
// bits; the module's configuration writes are the described ones, in the
// described order (none when it was not dispatched).
std::vector<QemuCheck> TraceChecks(const QemuSettings &Settings, const QemuOutcome &Outcome);

// The foundation found the module where the ROM's layout (and the gdb
// command) put it, and QEMU ended with the exit status the outcome earns.
std::vector<QemuCheck> RunChecks(const QemuSettings &Settings, const QemuOutcome &Outcome);

#endif  // QEMU_RUNNER_QEMU_CHECKS_H_
