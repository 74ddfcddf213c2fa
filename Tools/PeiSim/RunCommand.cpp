// pei-sim run: runs ModuleEntry on the virtual board and prints the trace and
// the board's state afterwards.
#include <cstdio>
#include <string>
#include <vector>

#include "ExitStatus.h"
#include "FileBytes.h"
#include "CommandLine.h"
#include "Commands.h"
#include "HostRun.h"
#include "ModuleImageRun.h"
#include "FirmwarePacking.h"
#include "LinkMap.h"
#include "PeImage.h"
#include "VirtualBoard.h"

namespace {

// Runs IMAGE as a PEI dispatcher would: a PE32 image at once; a PEIM file, or
// the first PEIM of a volume, once its dependency expression holds against
// the board's PPIs (or at once with IgnoreDepex).
bool RunImageAsDispatched(VirtualBoard &Board, const ModuleImageRun &Run, bool IgnoreDepex, ModuleImageStats &Stats,
                          std::string &Error) {
  std::vector<std::uint8_t> Bytes;
  if (!ReadFileBytes(Run.ImagePath, Bytes, Error)) {
    return false;
  }
  if (KindOfFirmware(Bytes) != "image") {
    const std::optional<FirmwareFile> File = ModulePeimFile(Bytes, Run.ImagePath, Error);
    if (!File) {
      return false;
    }
    const FirmwareSection *Depex = File->Find(section::kPeiDepex);
    const FirmwareSection *Image = File->FindImage();
    if (Depex != nullptr) {
      std::vector<Guid16> Installed;
      if (Board.Settings().PpiInstalled && !Board.Settings().PpiStatus) {
        Installed.push_back(kBusInfoPpiGuid);
      }
      const DepexResult Result = EvaluateDependencyExpression(Depex->Payload, Installed);
      if (!Result.Valid) {
        Error = Run.ImagePath + ": dependency expression: " + Result.Error;
        return false;
      }
      if (!Result.Satisfied && !IgnoreDepex) {
        Board.NotDispatched(DispatchRefusal(Result));
        return true;
      }
    }
    Bytes = Image->Payload;
  }
  return RunModuleImageBytes(Board, std::move(Bytes), Run, Stats, Error);
}

}  // namespace

ExitStatus RunCommand(const std::vector<std::string> &Args) {
  BoardSettings Settings;
  ModuleImageRun Image;
  bool Stats = false;
  bool LoadBaseGiven = false;
  bool ImageOnly = false;
  bool IgnoreDepex = false;
  for (std::size_t Index = 0; Index < Args.size(); Index++) {
    const std::string &Option = Args[Index];
    auto Value = [&]() -> const std::string & { return OptionValue(Args, Index); };
    if (TakeBoardOption(Option, Value, Settings)) {
      // a board option: taken
    } else if (Option == "--debug-level") {
      Settings.DebugLevel = static_cast<std::uint32_t>(ParseUnsigned(Value(), 0xFFFFFFFFu, "level mask"));
    } else if (Option == "--image") {
      Image.ImagePath = Value();
    } else if (Option == "--map") {
      Image.MapPath = Value();
    } else if (Option == "--load-base") {
      Image.LoadBase = static_cast<std::uint32_t>(ParseUnsigned(Value(), 0xFFFFFFFFu, "load base"));
      LoadBaseGiven = true;
    } else if (Option == "--max-instructions") {
      Image.MaxInstructions = ParseUnsigned(Value(), 1'000'000'000, "instruction budget");
      if (Image.MaxInstructions == 0) {
        throw UsageError("instruction budget 0 is out of range (1 to 1000000000)");
      }
      ImageOnly = true;
    } else if (Option == "--ignore-depex") {
      IgnoreDepex = true;
    } else if (Option == "--stats") {
      Stats = true;
    } else if (Option == "--coverage") {
      Image.CoverageFile = Value();
      if (Image.CoverageFile.empty()) {
        throw UsageError("--coverage needs a file name");
      }
      ImageOnly = true;
    } else {
      throw UsageError("unknown option '" + Option + "'");
    }
  }
  if (Image.ImagePath.empty() && (Stats || !Image.MapPath.empty() || LoadBaseGiven || ImageOnly)) {
    throw UsageError("--stats, --map, --load-base, --max-instructions and --coverage need --image");
  }
  if (!Image.ImagePath.empty() && Settings.DebugLevel) {
    throw UsageError("--debug-level is for the host build; an image carries its own level mask");
  }
  if (LoadBaseGiven) {
    // Refuse a base the emulated machine cannot take this image at, naming
    // the bases it can (an image that cannot be read fails below, status 4).
    std::string Error;
    if (const auto Parsed = ReadPeImage(Image.ImagePath, Error)) {
      const LoadBaseRange Range = AcceptedLoadBases(Parsed->SizeOfImage);
      if (!Range.Holds(Image.LoadBase)) {
        char Text[160];
        std::snprintf(Text, sizeof Text,
                      "load base 0x%08X is not one the emulated machine can take this image at: "
                      "page-aligned 0x%08X to 0x%08X",
                      Image.LoadBase, Range.Lowest, Range.Highest);
        throw UsageError(Text);
      }
    }
  }
  VirtualBoard Board(Settings);
  ModuleImageStats Figures;
  if (Image.ImagePath.empty()) {
    RunModuleOnHost(Board);
  } else {
    std::string Error;
    if (!RunImageAsDispatched(Board, Image, IgnoreDepex, Figures, Error)) {
      std::fprintf(stderr, "pei-sim: %s\n", Error.c_str());
      return ExitStatus::CannotRun;
    }
  }
  std::string Report = Board.Report();
  if (Stats) {
    Report += "image size: " + std::to_string(Figures.ImageSize) + " bytes\n";
    Report += "instructions executed: " + std::to_string(Figures.Instructions) + "\n";
    Report += "deepest stack use: " + std::to_string(Figures.StackBytes) + " bytes\n";
  }
  std::fwrite(Report.data(), 1, Report.size(), stdout);
  return ExitStatusOf(Board.State());
}
