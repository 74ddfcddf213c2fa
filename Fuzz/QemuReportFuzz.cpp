// The QEMU runner's readers of the foundation's console and QEMU's trace,
// and the checks built on them, on any text: a cut run, a foreign ROM or
// plain noise must never crash them or make a check pass on missing data.
// Input: the console text, a 0 byte, the trace text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "ConsoleReport.h"
#include "QemuChecks.h"
#include "QemuTrace.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *Data, std::size_t Size) {
  const std::string_view Input(reinterpret_cast<const char *>(Data), Size);
  const std::size_t Split = Input.find('\0');
  QemuOutcome Outcome;
  Outcome.Console = ParseConsoleReport(Input.substr(0, Split));
  Outcome.Trace = ParseQemuTrace(Split == std::string_view::npos ? std::string_view() : Input.substr(Split + 1));
  Outcome.State = StateFromConsole(Outcome.Console, 0);
  Outcome.NotDispatched = Outcome.Console.Outcome == "notdispatched";
  QemuSettings Settings;
  // Without the foundation's marks, neither the marks' check nor one of the
  // module's writes passes.
  const bool Marks = Outcome.Trace.SetUpMark && Outcome.Trace.AfterModuleMark;
  for (const QemuCheck &Check : TraceChecks(Settings, Outcome)) {
    const bool OfWrites = Check.Text.find("configuration write") != std::string::npos ||
                          Check.Text.find("marks before and after") != std::string::npos;
    if (Check.Passed && OfWrites && !Marks) {
      std::abort();
    }
  }
  // A device the foundation did not report is never "ok".
  for (const QemuCheck &Check : DeviceChecks(Outcome)) {
    if (Check.Passed && Check.Text.find("not reported") != std::string::npos) {
      std::abort();
    }
  }
  RunChecks(Settings, Outcome);
  return 0;
}
