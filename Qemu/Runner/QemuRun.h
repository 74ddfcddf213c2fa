// Runs the module image on QEMU's q35 machine: a ROM with the project's PEI
// foundation boots from the reset vector and dispatches the module from
// flash; the outcome holds what the foundation read back from QEMU's devices
// and what QEMU's own trace recorded.
#ifndef QEMU_RUNNER_QEMU_RUN_H_
#define QEMU_RUNNER_QEMU_RUN_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "BoardSummary.h"
#include "ConsoleReport.h"
#include "FoundationProtocol.h"
#include "QemuTrace.h"
#include "BoardSettings.h"

// The board settings a QEMU run starts from: the virtual board's, with the
// foundation's defaults where they differ (divisor code 3, bus 0).
inline BoardSettings QemuBoardDefaults() {
  BoardSettings Settings;
  Settings.DivisorCode = foundation_protocol::kDefaultDivisorCode;
  Settings.Bus = foundation_protocol::kDefaultBus;
  Settings.Reg40 = foundation_protocol::kDefaultReg40;
  return Settings;
}

struct QemuSettings {
  std::string ImagePath;
  std::string MapPath;         // empty: the image path with ".map" for its extension
  std::string RomPartsFolder;  // Foundation.bin, Sec.bin and BusInfoPei.efi
  std::string RomPath;         // boot this ROM as it is; empty: build one around the image
  bool BusInfoPeiFirst = false;    // BusInfoPei first in the volume (it is last by default)
  bool WithoutBusInfoPei = false;  // leave BusInfoPei out: nothing installs BUS_INFO_PPI
  bool IgnoreDepex = false;        // dispatch the module last whatever its expression says
  std::string QemuBinary = "qemu-system-i386";
  BoardSettings Board = QemuBoardDefaults();
  std::string KeepFolder;  // keep the command line, trace, debug console and serial files here
  bool Gdb = false;        // start halted, with a gdb stub on a unix socket
  bool MangledNames = false;  // with Gdb: list the routines by their linked names
  std::string SymbolPath;  // with Gdb: empty: the image path with ".debug" for its extension
  std::string SourceFolder;  // with Gdb: where gdb finds the sources the symbol file names (may be empty)
  unsigned TimeLimitSeconds = 20;  // in gdb mode too
  // Add what QEMU executed of the module (from its in_asm and exec logs) to
  // this coverage file; empty: nothing is logged.
  std::string CoverageFile;
};

struct QemuOutcome {
  std::string CommandLine;  // as a shell would take it
  double WallSeconds = 0;
  bool Completed = false;   // the foundation's completion marker was seen
  std::string Error;        // why the run did not complete (or what the foundation refused)
  int StopSignal = 0;       // SIGINT, SIGTERM, SIGHUP or SIGPIPE ended the run: QEMU is gone, the caller passes it on
  std::optional<int> QemuExitStatus;  // QEMU's own exit status, when it exited by itself
  ConsoleReport Console;    // what the foundation reported
  QemuTraceReport Trace;    // what QEMU traced
  BoardState State;         // the summary's view of the console report
  std::uint32_t ModuleBase = 0;  // where RVA 0 of the module lies, from the ROM's layout, before the run
  std::string GdbCommand;        // with Gdb: the command line printed for the user
  bool NotDispatched = false;    // a volume's PEIM whose dependency expression did not hold
};

// Starts QEMU and waits for it (at most the time limit, and no longer than a
// SIGINT, SIGTERM, SIGHUP or SIGPIPE: QEMU is ended and the temporary folder
// removed before it returns; a signal that comes at any point of the run is
// in StopSignal). ImagePath may name a PE32 or TE image, a PEIM file or a
// volume. Returns false when QEMU could not be started; a run that did not
// complete has Completed false and Error set.
bool RunOnQemu(const QemuSettings &Settings, QemuOutcome &Outcome);

// The summary's state from what the foundation reported.
BoardState StateFromConsole(const ConsoleReport &Console, std::uint8_t Bus);

#endif  // QEMU_RUNNER_QEMU_RUN_H_
