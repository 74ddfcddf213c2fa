#include "QemuRun.h"

#include <sys/wait.h>

#include <chrono>
#include <cstdio>

#include "CoverageData.h"
#include "FileBytes.h"
#include "FirmwarePacking.h"
#include "GdbCommand.h"
#include "GdbRelay.h"
#include "TextFields.h"
#include "Layout/Pe32.h"
#include "Library/PiLayoutLib.h"
#include "LinkMap.h"
#include "QemuExecution.h"
#include "RunProcess.h"
#include "RunRom.h"

namespace {

using namespace foundation_protocol;

constexpr unsigned kQemuMemoryMiB = 64;

// The files a run leaves in its folder.
struct RunFiles {
  std::string Trace, Console, Com1, Com2, Log, Rom, GdbSocket, QemuGdbSocket, Command;
  explicit RunFiles(const RunFolder &Folder)
      : Trace(Folder.File("qemu-trace.txt")), Console(Folder.File("debugcon.txt")), Com1(Folder.File("com1.txt")),
        Com2(Folder.File("com2.txt")), Log(Folder.File("qemu-output.txt")), Rom(Folder.File("SocPreInit.rom")),
        GdbSocket(Folder.File("gdb.sock")), QemuGdbSocket(Folder.File("qemu-gdb.sock")),
        Command(Folder.File("qemu-command.txt")) {}
};

// The options as the foundation reads them from fw_cfg, after a first word.
std::string FoundationOptions(const QemuSettings &Settings, bool IgnoreDepex) {
  const BoardSettings &Board = Settings.Board;
  std::string Options = "pei-sim";
  auto Add = [&Options](const char *Key, const std::string &Value) { Options += std::string(" ") + Key + "=" + Value; };
  Add(kDivisorKey, std::to_string(Board.DivisorCode));
  Add(kBusKey, std::to_string(Board.Bus));
  Add(kReg40Key, std::to_string(Board.Reg40));
  Add(kReleaseKey, Board.ReleaseHalts ? "1" : "0");
  Add(kDepexKey, IgnoreDepex ? "0" : "1");
  Add(kPpiKey, Board.PpiStatus ? Hex(*Board.PpiStatus, 8) : Board.PpiInstalled ? kPpiInstalled : kPpiAbsent);
  return Options;
}

// QEMU's command line: q35 with the ROM, the devices the module programs, the
// debug console and exit, and the trace of what the module does.
// -icount shift=0: one instruction per virtual nanosecond, so the time stamp
// counter the foundation reads counts instructions.
std::vector<std::string> QemuArguments(const QemuSettings &Settings, const RunFiles &Files, const std::string &RomPath,
                                       const std::string &Options) {
  std::vector<std::string> Args = {Settings.QemuBinary, "-machine", "q35,hpet=off", "-accel", "tcg", "-nodefaults",
                                   "-display", "none", "-no-reboot", "-m", std::to_string(kQemuMemoryMiB) + "M",
                                   "-icount", "shift=0", "-bios", RomPath,
                                   "-fw_cfg", std::string("name=") + kOptionsFile + ",string=" + Options,
                                   "-serial", "file:" + Files.Com1, "-serial", "file:" + Files.Com2};
  for (const PROGRAMMED_DEVICE &Device : kDevices) {
    Args.insert(Args.end(), {"-device", Device.QemuDevice});
  }
  Args.insert(Args.end(), {"-device", "isa-debug-exit,iobase=" + Hex(kDebugExitPort) + ",iosize=0x04",
                           "-debugcon", "file:" + Files.Console,
                           "-d", std::string(Settings.CoverageFile.empty() ? "" : kExecutionLogFlags + std::string(",")) +
                                     "trace:serial_update_parameters,trace:pci_cfg_write,trace:memory_region_ops_write",
                           "-D", Files.Trace});
  if (Settings.Gdb) {
    Args.insert(Args.end(), {"-S", "-chardev", "socket,id=gdb0,path=" + Files.QemuGdbSocket + ",server=on,wait=off",
                             "-gdb", "chardev:gdb0"});
  }
  return Args;
}

// Transmitted bytes show up in the serial files: the module must send nothing.
void NoteTransmitted(const std::string &Path, const std::string &Name, BoardState &State) {
  std::string Text, Error;
  if (!ReadFileText(Path, Text, Error, 4096)) {
    return;  // QEMU makes the file at start; without it nothing ran
  }
  for (unsigned char Byte : Text) {
    State.Unexpected.push_back(Name + ": transmitted " + Hex(Byte, 2));
  }
}

// Adds what the log shows QEMU executed of the module to the coverage file.
bool AddQemuRuns(const QemuSettings &Settings, const std::string &Log, std::uint32_t ModuleBase, std::string &Error) {
  std::vector<std::uint8_t> Depex;
  bool Bare = false;
  const std::vector<std::uint8_t> Image = ModuleImageOf(Settings.ImagePath, Depex, Bare, Error);
  PE32_INFO Info;
  LAYOUT_FAULT Fault;
  if (Image.empty() || Image.size() > kMaxImageSize ||
      !CheckImageHeaders(Image.data(), static_cast<UINT32>(Image.size()), kMaxImageSize, Info, Fault)) {
    Error = "the coverage of the run cannot be kept: " + (Image.empty() ? Error : Settings.ImagePath + " is no image");
    return false;
  }
  const ImageRuns Runs = ModuleRunsFromQemuLog(Log, ModuleBase, Info.SizeOfImage);
  return AddImageRuns(Settings.CoverageFile, Image, Settings.ImagePath, Runs, Error);
}

// What the run read back into the outcome, and why a run that did not
// complete ended.
void ReadBack(const QemuSettings &Settings, const RunFiles &Files, WaitEnd End, int Status, QemuOutcome &Outcome) {
  std::string Console, Trace, Error;
  ReadFileText(Files.Console, Console, Error);
  ReadFileText(Files.Trace, Trace, Error, 64u << 20);
  Outcome.Console = ParseConsoleReport(Console);
  Outcome.Trace = ParseQemuTrace(Trace);
  if (!Settings.CoverageFile.empty() && !AddQemuRuns(Settings, Trace, Outcome.ModuleBase, Error)) {
    Outcome.Console.Errors.push_back(Error);  // the run counts as not completed: its coverage is lost
  }
  Outcome.State = StateFromConsole(Outcome.Console, Settings.Board.Bus);
  Outcome.NotDispatched = Outcome.Console.Outcome == kOutcomeNotDispatched;
  if (Outcome.NotDispatched) {
    Outcome.State.NotDispatched = DispatchRefusalFor(
        Settings.ImagePath, Settings.Board.PpiInstalled && !Settings.Board.PpiStatus && !Settings.WithoutBusInfoPei);
  }
  NoteTransmitted(Files.Com1, "COM1", Outcome.State);
  NoteTransmitted(Files.Com2, "COM2", Outcome.State);
  if (End == WaitEnd::Exited && WIFEXITED(Status)) {
    Outcome.QemuExitStatus = WEXITSTATUS(Status);
  }
  const std::string &Ended = Outcome.Console.Outcome;
  Outcome.Completed = Outcome.Console.Done &&
                      (Ended == kOutcomeReturned || Ended == kOutcomeHalted || Ended == kOutcomeNotDispatched);
  for (const std::string &Each : Outcome.Console.Errors) {
    Outcome.Error += (Outcome.Error.empty() ? "" : "; ") + Each;
  }
  if (Outcome.Completed || !Outcome.Error.empty()) {
    return;
  }
  if (End == WaitEnd::TimedOut) {
    Outcome.Error = "time limit of " + std::to_string(Settings.TimeLimitSeconds) + " s reached";
  } else if (End == WaitEnd::SessionOver) {
    Outcome.Error = "the gdb session ended and left QEMU stopped before the run completed";
  } else if (!Outcome.Console.Started) {
    std::string Log;
    ReadFileText(Files.Log, Log, Error, 2000);
    Outcome.Error = "QEMU ended before the foundation ran" + (Log.empty() ? std::string() : ": " + Log.substr(0, Log.find('\n')));
  } else if (End == WaitEnd::Exited) {
    Outcome.Error = "no completion marker (QEMU ended, exit status " +
                    std::to_string(WIFEXITED(Status) ? WEXITSTATUS(Status) : -1) + "; a triple fault ends it this way)";
  }
}

// The whole run inside its folder (which goes, when it is a temporary one,
// before the caller reads the stop signal a last time).
bool RunInFolder(const QemuSettings &Settings, const StopSignals &Stops, QemuOutcome &Outcome) {
  std::string Error;
  const std::optional<LinkMap> Map =
      ReadLinkMap(Settings.MapPath.empty() ? MapPathFor(Settings.ImagePath) : Settings.MapPath, Error);
  RunFolder Folder;
  if (!Map || !Folder.Make(Settings.KeepFolder, Outcome.Error)) {
    Outcome.Error = Map ? Outcome.Error : Error;
    return false;
  }
  const RunFiles Files(Folder);
  // A kept folder may hold an earlier run's files: none of them may be read as this run's.
  for (const std::string &Path : {Files.Trace, Files.Console, Files.Com1, Files.Com2, Files.Log}) {
    std::remove(Path.c_str());
  }
  if (!ClearSocketPath(Files.QemuGdbSocket, Outcome.Error)) {
    return false;
  }
  std::vector<RomFile> Layout;
  bool Bare = false;  // a bare image: dispatched as run calls it, whatever its (default) expression says
  std::string RomPath = Settings.RomPath;
  if (RomPath.empty()) {
    const RomRequest Request{Settings.ImagePath, Settings.RomPartsFolder, Settings.BusInfoPeiFirst, Settings.WithoutBusInfoPei};
    if (!BuildRomFor(Request, *Map, Files.Rom, Layout, Bare, Outcome.Error)) {
      return false;
    }
    RomPath = Files.Rom;
    for (const RomFile &Row : Layout) {
      Outcome.ModuleBase = Row.Name == "SocPreInit" ? Row.ImageBase : Outcome.ModuleBase;
    }
  } else {
    Outcome.ModuleBase = ModuleBaseInRom(RomPath);
  }
  if (Stops.Caught() != 0) {
    return true;  // nothing started yet: the caller names the signal
  }
  std::vector<std::string> Args = QemuArguments(Settings, Files, RomPath, FoundationOptions(Settings, Bare || Settings.IgnoreDepex));
  for (const std::string &Word : Args) {
    Outcome.CommandLine += (Outcome.CommandLine.empty() ? "" : " ") + ShellQuote(Word);
  }
  if (!Settings.KeepFolder.empty() && !WriteFileText(Files.Command, Outcome.CommandLine + "\n", Outcome.Error)) {
    return false;
  }
  // gdb talks to pei-sim's socket, which passes everything on to QEMU's stub
  // and tells when the session ends.
  GdbRelay Relay;
  if (Settings.Gdb && !Relay.Listen(Files.GdbSocket, Files.QemuGdbSocket, Outcome.Error)) {
    return false;
  }
  const auto Start = std::chrono::steady_clock::now();
  pid_t Child = 0;
  if (!StartProcess(Args, Files.Log, Child, Outcome.Error)) {
    Outcome.Error += " (is qemu-system-x86 installed?)";
    return false;
  }
  if (Settings.Gdb) {
    std::string Note;
    const GdbRequest Request{Settings.ImagePath, Settings.SymbolPath, Settings.SourceFolder, Files.GdbSocket,
                             Outcome.ModuleBase, Map->Rva("_ModuleEntry").value_or(0)};
    Outcome.GdbCommand = GdbCommandFor(Request, Note);
    std::printf("%sQEMU is waiting for gdb. In another terminal:\n%s\nModule routines in flash (RVA 0 at %s):\n%s",
                Note.c_str(), Outcome.GdbCommand.c_str(), Hex(Outcome.ModuleBase, 8).c_str(),
                RoutineListing(*Map, Outcome.ModuleBase, Settings.MangledNames).c_str());
    std::fflush(stdout);
  }
  int Status = 0;
  const WaitEnd End = WaitForProcess(Child, Settings.TimeLimitSeconds, Stops, Settings.Gdb ? &Relay : nullptr, Status);
  Outcome.WallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
  ReadBack(Settings, Files, End, Status, Outcome);
  return true;
}

}  // namespace

BoardState StateFromConsole(const ConsoleReport &Console, std::uint8_t Bus) {
  BoardState State;
  State.Com1 = Console.Com1.value_or(UartState{});
  State.Com2 = Console.Com2.value_or(UartState{});
  auto Word = [&Console](const char *Name) {
    const auto Found = Console.States.find(Name);
    return Found == Console.States.end() ? 0u : Found->second;
  };
  State.Lpc40 = Word(kLpc40);
  State.Lpc50 = Word(kLpc50);
  State.Lpc80 = Word(kLpc80);
  State.Window88 = Word(kWindow88);
  for (std::size_t Row = 0; Row < 3; Row++) {
    State.Bases[Row] = Word(kDevices[Row].BaseName);
  }
  State.Bus = Bus;
  State.Halted = Console.Outcome == kOutcomeHalted;
  if (Console.Outcome == kOutcomeReturned) {
    State.Return = Console.Return;
  }
  State.LastSink = Console.SinkTexts.empty() ? std::string() : Console.SinkTexts.back();
  return State;
}

bool RunOnQemu(const QemuSettings &Settings, QemuOutcome &Outcome) {
  Outcome = QemuOutcome{};
  // The signals are taken before anything is made, and read once more after
  // the run's folder is gone: none is lost, and none leaves anything behind.
  const StopSignals Stops;
  const bool Started = RunInFolder(Settings, Stops, Outcome);
  Outcome.StopSignal = Stops.Caught();
  if (Outcome.StopSignal != 0) {
    Outcome.Completed = false;
    Outcome.Error = std::string("ended by ") + StopSignals::Name(Outcome.StopSignal);
  }
  return Started;
}
