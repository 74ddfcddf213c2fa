// pei-sim report: the budgets of the real image, measured under emulation.
//   size of SocPreInit.efi, instructions of ModuleEntry on the default board,
//   and the deepest stack use on every path the emulator drives; with --rom,
//   the boot cost of the ROM on QEMU from reset to the module's return.
#include <cstdio>
#include <string>
#include <vector>

#include "BootCost.h"
#include "CommandLine.h"
#include "Commands.h"
#include "EngineImageRun.h"
#include "ModuleImageRun.h"
#include "QemuRun.h"
#include "QemuRunBySignal.h"
#include "SizeBreakdown.h"

namespace {

constexpr std::uint32_t kSizeBudget = 4096;
constexpr std::uint64_t kInstructionBudget = 250;
constexpr std::uint32_t kStackBudget = 1024;

struct StackPath {
  std::string Name;
  std::uint32_t Bytes = 0;
  bool Ran = false;
};

StackPath ModulePath(const std::string &Name, const std::string &Image, const BoardSettings &Settings,
                     ModuleImageStats *Stats = nullptr) {
  VirtualBoard Board(Settings);
  ModuleImageStats Figures;
  std::string Error;
  StackPath Path{Name};
  Path.Ran = RunModuleImage(Board, {Image, "", 0x00200000}, Figures, Error);
  if (!Path.Ran) {
    std::fprintf(stderr, "pei-sim: %s: %s\n", Name.c_str(), Error.c_str());
  }
  Path.Bytes = Figures.StackBytes;
  if (Stats != nullptr) {
    *Stats = Figures;
  }
  return Path;
}

// The ROM booted on QEMU on the default settings: its row of the table
// (false when over the budget or when the run did not report the module's
// return) and the phases below it. A signal ends QEMU and then pei-sim.
bool BootCostRow(const std::string &Image, const std::string &Rom, std::uint64_t Budget, std::string &Phases) {
  QemuSettings Settings;
  Settings.ImagePath = Image;
  Settings.RomPath = Rom;
  QemuOutcome Outcome;
  const bool Started = RunOnQemuUnlessSignalled(Settings, Outcome);
  std::string Verdict;
  const bool Within = Started && Outcome.Completed && BootCostWithin(Outcome.Console, Budget, Verdict);
  if (!Started || !Outcome.Completed) {
    Verdict = "DID NOT RUN: " + Outcome.Error;
  }
  std::printf("%-56s %8s %8llu  %s\n", "instructions from reset to the module's return (QEMU)",
              Outcome.Console.ToModuleReturn ? std::to_string(*Outcome.Console.ToModuleReturn).c_str() : "-",
              static_cast<unsigned long long>(Budget), Verdict.c_str());
  Phases = BootCostTable(Outcome.Console);
  return Within;
}

}  // namespace

ExitStatus ReportCommand(const std::vector<std::string> &Args) {
  std::string Image, DebugImage, EngineImage, Rom;
  std::uint64_t BootBudget = kBootBudget;
  for (std::size_t Index = 0; Index + 1 < Args.size(); Index += 2) {
    if (Args[Index] == "--image") {
      Image = Args[Index + 1];
    } else if (Args[Index] == "--debug-image") {
      DebugImage = Args[Index + 1];
    } else if (Args[Index] == "--engine-image") {
      EngineImage = Args[Index + 1];
    } else if (Args[Index] == "--rom") {
      Rom = Args[Index + 1];
    } else if (Args[Index] == "--boot-budget") {
      BootBudget = ParseUnsigned(Args[Index + 1], 1'000'000'000, "boot budget");
    } else {
      throw UsageError("unknown option '" + Args[Index] + "'");
    }
  }
  if (Image.empty() || DebugImage.empty() || EngineImage.empty() || Args.size() % 2 != 0) {
    throw UsageError("report needs --image, --debug-image and --engine-image");
  }

  ModuleImageStats Default;
  std::vector<StackPath> Paths;
  Paths.push_back(ModulePath("default run", Image, BoardSettings{}, &Default));
  BoardSettings NoPpi;
  NoPpi.PpiInstalled = false;
  Paths.push_back(ModulePath("failed lookup, message level on", DebugImage, NoPpi));
  BoardSettings Unnamed = NoPpi;
  Unnamed.PpiStatus = 0x80000022u;  // no name: the message formats "%08X" in a nested call
  Unnamed.ReleaseHalts = true;
  Paths.push_back(ModulePath("failed lookup, unnamed status, released", DebugImage, Unnamed));
  {
    // A check that fails inside the engine: its report is formatted by the
    // engine again, beneath the call that failed.
    FormatOutcome Outcome;
    std::string Error;
    StackPath Nested{"nested assertion in the engine"};
    Nested.Ran = RunEngineImage(EngineImage, 1000002, "%1000001d", {FormatValue{FormatValue::Kind::U32, 1, {}}},
                                Outcome, Error) &&
                 Outcome.Halted;
    Nested.Bytes = Outcome.StackBytes;
    Paths.push_back(Nested);
  }

  bool Ok = Default.ImageSize <= kSizeBudget && Default.Instructions <= kInstructionBudget;
  std::printf("%-56s %8s %8s  %s\n", "figure", "value", "budget", "verdict");
  std::printf("%-56s %8u %8u  %s\n", "image size (bytes)", Default.ImageSize, kSizeBudget,
              Default.ImageSize <= kSizeBudget
                  ? ("ok, " + std::to_string(kSizeBudget - Default.ImageSize) + " to spare").c_str()
                  : ("OVER by " + std::to_string(Default.ImageSize - kSizeBudget)).c_str());
  std::printf("%-56s %8llu %8llu  %s\n", "instructions, default run",
              static_cast<unsigned long long>(Default.Instructions),
              static_cast<unsigned long long>(kInstructionBudget),
              Default.Instructions <= kInstructionBudget ? "ok" : "OVER");
  for (const StackPath &Path : Paths) {
    const bool Within = Path.Ran && Path.Bytes <= kStackBudget;
    Ok = Ok && Within;
    std::printf("%-56s %8u %8u  %s\n", ("stack bytes, " + Path.Name).c_str(), Path.Bytes, kStackBudget,
                !Path.Ran ? "DID NOT RUN" : Within ? "ok" : "OVER");
  }
  std::string Phases;
  if (!Rom.empty()) {
    Ok = BootCostRow(Image, Rom, BootBudget, Phases) && Ok;
  }
  std::string Error;
  const std::optional<PeImage> Parsed = ReadPeImage(Image, Error);
  const std::optional<LinkMap> Map = Parsed ? ReadLinkMap(MapPathFor(Image), Error) : std::nullopt;
  if (!Map) {
    std::fprintf(stderr, "pei-sim: %s\n", Error.c_str());
    return ExitStatus::Failed;
  }
  const std::string Breakdown = SizeBreakdownText(BreakDownImage(*Parsed, *Map));
  std::printf("\n%s", Breakdown.c_str());
  if (!Phases.empty()) {
    std::printf("\n%s", Phases.c_str());
  }
  return Ok ? ExitStatus::Success : ExitStatus::Failed;
}
