// pei-sim run: runs ModuleEntry on the virtual board and prints the trace and
// the board's state afterwards.
#include <cstdio>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "Commands.h"
#include "HostRun.h"
#include "ModuleImageRun.h"
#include "PeImage.h"
#include "VirtualBoard.h"

int RunCommand(const std::vector<std::string> &Args) {
  BoardSettings Settings;
  ModuleImageRun Image;
  bool Stats = false;
  bool LoadBaseGiven = false;
  bool ImageOnly = false;
  for (std::size_t Index = 0; Index < Args.size(); Index++) {
    const std::string &Option = Args[Index];
    auto Value = [&]() -> const std::string & {
      if (Index + 1 >= Args.size()) {
        throw UsageError("option " + Option + " needs a value");
      }
      return Args[++Index];
    };
    if (Option == "--divisor-code") {
      Settings.DivisorCode = static_cast<std::uint8_t>(ParseUnsigned(Value(), 0xFF, "divisor code"));
    } else if (Option == "--bus") {
      Settings.Bus = static_cast<std::uint8_t>(ParseUnsigned(Value(), 0xFF, "bus"));
    } else if (Option == "--reg40") {
      Settings.Reg40 = static_cast<std::uint8_t>(ParseUnsigned(Value(), 0xFF, "register 0x40 byte"));
    } else if (Option == "--no-ppi") {
      Settings.PpiInstalled = false;
    } else if (Option == "--ppi-status") {
      Settings.PpiStatus = static_cast<std::uint32_t>(ParseUnsigned(Value(), 0xFFFFFFFFu, "status"));
    } else if (Option == "--debug-level") {
      Settings.DebugLevel = static_cast<std::uint32_t>(ParseUnsigned(Value(), 0xFFFFFFFFu, "level mask"));
    } else if (Option == "--release-halts") {
      Settings.ReleaseHalts = true;
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
    } else if (Option == "--stats") {
      Stats = true;
    } else {
      throw UsageError("unknown option '" + Option + "'");
    }
  }
  if (Image.ImagePath.empty() && (Stats || !Image.MapPath.empty() || LoadBaseGiven || ImageOnly)) {
    throw UsageError("--stats, --map, --load-base and --max-instructions need --image");
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
    if (!RunModuleImage(Board, Image, Figures, Error)) {
      std::fprintf(stderr, "pei-sim: %s\n", Error.c_str());
      return 4;
    }
  }
  std::string Report = Board.Report();
  if (Stats) {
    Report += "image size: " + std::to_string(Figures.ImageSize) + " bytes\n";
    Report += "instructions executed: " + std::to_string(Figures.Instructions) + "\n";
    Report += "deepest stack use: " + std::to_string(Figures.StackBytes) + " bytes\n";
  }
  std::fwrite(Report.data(), 1, Report.size(), stdout);
  return Board.ExitCode();
}
