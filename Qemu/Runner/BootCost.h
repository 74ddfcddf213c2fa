// The boot cost of a QEMU run by phase, from the instruction counts the
// foundation reported at each point it timed (QEMU's -icount counter), and
// the budget from reset to the module's return.
#ifndef QEMU_RUNNER_BOOT_COST_H_
#define QEMU_RUNNER_BOOT_COST_H_

#include <cstdint>
#include <string>

#include "ConsoleReport.h"

// Instructions from reset to the module's return that make report allows.
inline constexpr std::uint64_t kBootBudget = 20'000;

// One line a point: its instructions since reset and those of the phase that
// ends there (they add up to the last point's count), then the module's own
// window (ModuleEntry to its return, the services it calls included).
std::string BootCostTable(const ConsoleReport &Console);

// Whether the run reached the module's return within Budget instructions
// from reset; Verdict says so or why not (never ok when the count is missing).
bool BootCostWithin(const ConsoleReport &Console, std::uint64_t Budget, std::string &Verdict);

#endif  // QEMU_RUNNER_BOOT_COST_H_
