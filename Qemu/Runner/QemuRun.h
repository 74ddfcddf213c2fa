// Runs the module image on QEMU's q35 machine: a ROM with the project's PEI
// foundation boots from the reset vector and dispatches the module from
// flash; collects what the foundation read back from QEMU's devices and what
// QEMU's own trace recorded.
#ifndef QEMU_RUNNER_QEMU_RUN_H_
#define QEMU_RUNNER_QEMU_RUN_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "BoardSummary.h"
#include "VirtualBoard.h"

// The board settings a QEMU run starts from, where they differ from the
// virtual board's: divisor code 3 (not QEMU's reset divisor 12, so the run
// shows a write) and bus 0, where QEMU's devices sit.
inline BoardSettings QemuBoardDefaults() {
  BoardSettings Settings;
  Settings.DivisorCode = 3;
  Settings.Bus = 0;
  return Settings;
}

struct QemuSettings {
  std::string ImagePath;
  std::string MapPath;     // empty: the image path with ".map" for its extension
  std::string RomPartsFolder;  // Foundation.bin, Sec.bin and BusInfoPei.efi
  std::string RomPath;         // boot this ROM as it is; empty: build one around the image
  bool ModuleAfterBusInfo = false;  // BusInfoPei first in the volume (it is last by default)
  bool WithoutBusInfoPei = false;   // leave BusInfoPei out: nothing installs BUS_INFO_PPI
  bool IgnoreDepex = false;         // dispatch the module last whatever its expression says
  std::string QemuBinary = "qemu-system-i386";
  BoardSettings Board = QemuBoardDefaults();
  std::string KeepFolder;  // keep the command line, trace, debug console and serial files here
  bool Gdb = false;        // start halted, with a gdb stub on a unix socket
  std::string SymbolPath;  // with Gdb: empty: the image path with ".debug" for its extension
  std::string SourceFolder;  // with Gdb: where gdb finds the sources the symbol file names (may be empty)
  unsigned TimeLimitSeconds = 20;  // in gdb mode too
};

// One configuration write QEMU traced: "00:1f.0 @0x50 <- 0xfed08002".
struct QemuConfigWrite {
  std::string Function;
  std::uint32_t Register = 0;
  std::uint32_t Value = 0;
  std::string Text() const;
};

struct QemuOutcome {
  std::string CommandLine;  // as a shell would take it
  double WallSeconds = 0;
  bool Completed = false;   // the loader's completion marker was seen
  std::string Error;        // why the run did not complete (or what the loader refused)
  int StopSignal = 0;       // SIGINT, SIGTERM or SIGHUP ended the run: QEMU is gone, the caller passes it on
  BoardState State;
  std::vector<std::string> SinkTexts;
  std::uint32_t StackBytes = 0;
  bool RegistersPreserved = false;
  std::uint32_t EduIdentification = 0, Ahci23Version = 0, Ahci24Version = 0;
  std::uint32_t LoadBase = 0;    // where the foundation said RVA 0 of the module lies
  std::uint32_t ModuleBase = 0;  // the same, from the ROM's layout, before the run
  std::string GdbCommand;        // with Gdb: the command line printed for the user
  // The foundation's dispatch, in order: each PEIM and the status its entry returned.
  std::vector<std::pair<std::string, std::uint32_t>> Dispatched;
  std::vector<std::string> NeverDispatched;  // "SocPreInit, its dependency expression (...) did not hold"
  // Instructions since reset (QEMU's -icount shift=0 time stamp counter):
  // at ModuleEntry, at its return, at the end of dispatch; 0 when not reached.
  std::uint64_t ToModuleEntry = 0, ToModuleReturn = 0, ToDispatchEnd = 0;
  bool NotDispatched = false;  // a volume's PEIM whose dependency expression did not hold
  // QEMU's trace: the last line parameters each UART was given, and the
  // configuration writes after the loader's own set-up.
  std::string Com1Parameters, Com2Parameters;
  std::vector<QemuConfigWrite> ModuleConfigWrites;
};

// Starts QEMU and waits for it (at most the time limit, and no longer than a
// SIGINT, SIGTERM or SIGHUP: QEMU is ended and the temporary folder removed
// before it returns). ImagePath may name a PE32 image, a PEIM file or a
// volume. Returns false when QEMU could not be started; a run that did not complete has Completed false
// and Error set.
bool RunOnQemu(const QemuSettings &Settings, QemuOutcome &Outcome);

// The configuration writes the module must leave in QEMU's trace for these
// settings, in order.
std::vector<QemuConfigWrite> ExpectedConfigWrites(const QemuSettings &Settings);

// "baudrate=38400 parity='N' data=8 stop=2" for a divisor code.
std::string ExpectedLineParameters(std::uint8_t DivisorCode);

#endif  // QEMU_RUNNER_QEMU_RUN_H_
