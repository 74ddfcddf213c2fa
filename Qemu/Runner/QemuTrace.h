// The module's part of QEMU's own trace (-d trace:...): the line parameters
// each UART was given last, and the PCI configuration writes between the
// foundation's two marks (FoundationProtocol.h). The reader takes any text
// and never throws; a mark it did not see is reported as missing.
#ifndef QEMU_RUNNER_QEMU_TRACE_H_
#define QEMU_RUNNER_QEMU_TRACE_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One configuration write QEMU traced: "00:1f.0 @0x50 <- 0xfed08002".
struct QemuConfigWrite {
  std::string Function;  // as QEMU writes it: "00:1f.0"
  std::uint32_t Register = 0;
  std::uint32_t Value = 0;
  std::string Text() const;  // "00:1F.0 @0x50 <- 0xFED08002"
};

struct QemuTraceReport {
  std::optional<std::string> Com1Parameters, Com2Parameters;  // "baudrate=38400 parity='N' data=8 stop=2"
  bool SetUpMark = false;        // the foundation's last set-up write was seen
  bool AfterModuleMark = false;  // and its mark after the module
  std::vector<QemuConfigWrite> ModuleWrites;  // between the two (to the end without the second)
};

QemuTraceReport ParseQemuTrace(std::string_view Text);

// "00:18.0": a function on bus 0 as QEMU's trace names it.
std::string TraceFunction(unsigned Device, unsigned Function = 0);

#endif  // QEMU_RUNNER_QEMU_TRACE_H_
