// pei-sim qemu: boots SocPreInit.rom, built around the real image, on QEMU's
// q35 machine; the project's PEI foundation dispatches it from flash. Prints
// the summary of `pei-sim run`, read back from QEMU's devices, then the
// device checks, what QEMU's trace recorded and the run's own checks.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "BootCost.h"
#include "CommandLine.h"
#include "Commands.h"
#include "QemuChecks.h"
#include "FirmwarePacking.h"
#include "QemuRun.h"
#include "QemuRunBySignal.h"

namespace {

// The ROM's parts (foundation, SEC, BusInfoPei): installed beside pei-sim
// (../share/socpreinit), else the ones this build tree made.
std::string DefaultRomPartsFolder() {
  char Self[4096];
  const ssize_t Length = readlink("/proc/self/exe", Self, sizeof Self - 1);
  if (Length > 0) {
    std::string Exe(Self, static_cast<std::size_t>(Length));
    const std::string Installed = Exe.substr(0, Exe.rfind('/')) + "/../share/socpreinit";
    if (access((Installed + "/Foundation.bin").c_str(), R_OK) == 0) {
      return Installed;
    }
  }
  return ROM_PARTS_BUILT;
}

// Where gdb finds the sources the symbol files name (relative to the
// repository): the checkout this pei-sim was built from, while it is there.
std::string DefaultSourceFolder() {
  return access(SOURCE_TREE "/SocPreInit/Dxe", R_OK) == 0 ? SOURCE_TREE : "";
}

// Each check with its verdict on its first line; what a check lists follows it.
bool PrintChecks(const char *Heading, const std::vector<QemuCheck> &Checks) {
  std::printf("%s\n", Heading);
  bool All = true;
  for (const QemuCheck &C : Checks) {
    const std::size_t Break = C.Text.find('\n');
    const std::string First = C.Text.substr(0, Break), Rest = Break == std::string::npos ? "" : C.Text.substr(Break);
    std::printf("  %s: %s%s\n", First.c_str(), C.Passed ? "ok" : "FAILED", Rest.c_str());
    All = All && C.Passed;
  }
  return All;
}

// The run command that puts the virtual board in the state this QEMU run
// starts from, so that the two summaries compare line for line.
std::string EqualRunCommand(const QemuSettings &Settings) {
  const BoardSettings &Board = Settings.Board;
  char Text[64];
  std::string Command = "pei-sim run --image " + Settings.ImagePath;
  Command += " --divisor-code " + std::to_string(Board.DivisorCode) + " --bus " + std::to_string(Board.Bus);
  if (Board.Reg40 != 0) {
    std::snprintf(Text, sizeof Text, " --reg40 0x%02X", static_cast<unsigned>(Board.Reg40));
    Command += Text;
  }
  Command += Board.PpiInstalled ? "" : " --no-ppi";
  if (Board.PpiStatus) {
    std::snprintf(Text, sizeof Text, " --ppi-status 0x%08X", static_cast<unsigned>(*Board.PpiStatus));
    Command += Text;
  }
  return Command + (Board.ReleaseHalts ? " --release-halts" : "");
}

}  // namespace

ExitStatus QemuCommand(const std::vector<std::string> &Args) {
  QemuSettings Settings;
  Settings.RomPartsFolder = DefaultRomPartsFolder();
  Settings.SourceFolder = DefaultSourceFolder();
  bool Stats = false, LimitGiven = false;
  for (std::size_t Index = 0; Index < Args.size(); Index++) {
    const std::string &Option = Args[Index];
    auto Value = [&]() -> const std::string & { return OptionValue(Args, Index); };
    if (Option == "--image") {
      Settings.ImagePath = Value();
    } else if (Option == "--map") {
      Settings.MapPath = Value();
    } else if (TakeBoardOption(Option, Value, Settings.Board)) {
      // a board option: taken
    } else if (Option == "--stats") {
      Stats = true;
    } else if (Option == "--gdb") {
      Settings.Gdb = true;
    } else if (Option == "--mangled-names") {
      Settings.MangledNames = true;
    } else if (Option == "--symbols") {
      Settings.SymbolPath = Value();
    } else if (Option == "--coverage") {
      Settings.CoverageFile = Value();
      if (Settings.CoverageFile.empty()) {
        throw UsageError("--coverage needs a file name");
      }
    } else if (Option == "--keep") {
      Settings.KeepFolder = Value();
    } else if (Option == "--rom") {
      Settings.RomPath = Value();
    } else if (Option == "--rom-parts") {
      Settings.RomPartsFolder = Value();
    } else if (Option == "--busdriver-first") {
      Settings.BusInfoPeiFirst = true;
    } else if (Option == "--without-busdriver") {
      Settings.WithoutBusInfoPei = true;
    } else if (Option == "--ignore-depex") {
      Settings.IgnoreDepex = true;
    } else if (Option == "--time-limit") {
      Settings.TimeLimitSeconds = static_cast<unsigned>(ParseUnsigned(Value(), 3600, "time limit"));
      LimitGiven = true;
    } else {
      throw UsageError("unknown option '" + Option + "'");
    }
  }
  if (Settings.ImagePath.empty()) {
    throw UsageError("qemu needs --image IMAGE");
  }
  if (Settings.TimeLimitSeconds == 0) {
    throw UsageError("bad time limit: '0' (1 to 3600 seconds)");
  }
  if (Settings.Gdb && !LimitGiven) {
    Settings.TimeLimitSeconds = 600;  // a debugging session, not a run: ten minutes unless asked otherwise
  }
  std::printf("QEMU q35 run of %s\nthe virtual board in the same state: %s\n\n", Settings.ImagePath.c_str(),
              EqualRunCommand(Settings).c_str());
  std::fflush(stdout);
  QemuOutcome Outcome;
  const bool Started = RunOnQemuUnlessSignalled(Settings, Outcome);
  if (!Started) {
    std::fprintf(stderr, "pei-sim: cannot run QEMU: %s\n", Outcome.Error.c_str());
    return ExitStatus::CannotRun;
  }
  if (!Outcome.Completed) {
    std::fprintf(stderr, "pei-sim: the QEMU run did not complete: %s\n", Outcome.Error.c_str());
    return ExitStatus::CannotRun;
  }
  std::string Dispatch;
  for (const auto &[Name, Status] : Outcome.Console.Dispatched) {
    Dispatch += (Dispatch.empty() ? "" : ", ") + Name +
                (Status ? " (returned " + Hex(*Status, 8) + ")" : std::string(" (did not return)"));
  }
  std::printf("dispatch: %s\n", Dispatch.empty() ? "none" : Dispatch.c_str());
  for (const auto &[Name, Depex] : Outcome.Console.NeverDispatched) {
    const DepexResult Result = EvaluateDependencyExpression(Depex, {});
    std::printf("never dispatched: %s, its dependency expression (%s) did not hold\n", Name.c_str(),
                Result.Text.empty() ? "none" : Result.Text.c_str());
  }
  std::string Summary = BoardSummaryText(Outcome.State);
  std::fwrite(Summary.data(), 1, Summary.size(), stdout);
  if (Settings.Board.Bus != 0) {
    std::printf("note: QEMU's devices sit on bus 0; on bus %u the three base-address writes went to functions "
                "that do not exist\n", Settings.Board.Bus);
  }
  bool Passed = PrintChecks("device checks:", DeviceChecks(Outcome));
  Passed = PrintChecks("QEMU trace:", TraceChecks(Settings, Outcome)) && Passed;
  Passed = PrintChecks("run checks:", RunChecks(Settings, Outcome)) && Passed;
  if (Stats) {
    const ConsoleReport &Console = Outcome.Console;
    const auto Count = [](const std::optional<std::uint64_t> &Value) {
      return Value ? std::to_string(*Value) : std::string("not reached");
    };
    const std::string Stack = Console.StackBytes    ? std::to_string(*Console.StackBytes) + " bytes"
                              : Console.StackBeyond ? "more than the " + std::to_string(*Console.StackBeyond) +
                                                          " bytes the foundation measures"
                                                    : std::string("not reported");
    std::printf("deepest stack use: %s\ncallee-saved registers: %s\nwall time: %.2f s\n", Stack.c_str(),
                Console.RegistersPreserved ? "preserved" : "not checked (the entry did not return)", Outcome.WallSeconds);
    std::printf("boot cost (instructions since reset, -icount shift=0): to ModuleEntry %s, to its return %s, "
                "to the end of dispatch %s\n",
                Count(Console.ToModuleEntry).c_str(), Count(Console.ToModuleReturn).c_str(),
                Count(Console.ToDispatchEnd).c_str());
    const std::string Table = BootCostTable(Console);
    std::fwrite(Table.data(), 1, Table.size(), stdout);
  }
  if (!Passed) {
    std::fprintf(stderr, "pei-sim: QEMU's devices or trace disagree with the described state\n");
    return ExitStatus::Disagrees;
  }
  return ExitStatusOf(Outcome.State);
}
