// What QEMU executed of the module, from its own log: with -d in_asm, each
// translation block's instructions as QEMU decoded them (address and bytes);
// with -d exec,nochain, each block as it runs. Every block the log shows
// running inside the module counts each of its instructions as executed once.
#ifndef QEMU_RUNNER_QEMU_EXECUTION_H_
#define QEMU_RUNNER_QEMU_EXECUTION_H_

#include <cstdint>
#include <string_view>

#include "ImageRuns.h"

// The -d flags that make the log this reads.
inline constexpr char kExecutionLogFlags[] = "in_asm,exec,nochain";

// The runs of the module whose RVA 0 lies at Base and whose image spans Size
// bytes, read from Log (lines of other kinds are passed over). A block that
// runs without its translation in the log is counted by its first address.
ImageRuns ModuleRunsFromQemuLog(std::string_view Log, std::uint32_t Base, std::uint32_t Size);

#endif  // QEMU_RUNNER_QEMU_EXECUTION_H_
