// Fuzzes the volume, file and PE readers, the dependency expression
// evaluator, the contract checks and the emulated run: the seeds (written by
// image-seeds from this build) hold the built images, the PEIM file and the
// volume, and mutations of their headers, sections and relocation blocks. Every input must end in a refusal
// or a finished run, within the run's bounds; the sanitizers watch the rest.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "FirmwarePacking.h"
#include "LinkMap.h"
#include "ModuleImageRun.h"
#include "PeImage.h"
#include "VirtualBoard.h"

namespace {

// The routines the emulator watches, where this build's module image has
// them; in a mutated image they may point anywhere, which the run must bear.
LinkMap SeedMap() {
  std::string Error;
  const std::optional<LinkMap> Map = ReadLinkMap(MODULE_MAP, Error);
  if (!Map) {
    std::fprintf(stderr, "image fuzz: %s\n", Error.c_str());
    std::exit(1);
  }
  return *Map;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *Data, std::size_t Size) {
  std::string Error;
  std::vector<std::uint8_t> Bytes(Data, Data + Size);
  // Volumes and PEIM files first go through their own readers and the
  // dependency expression evaluator; their PE32 section then goes on.
  const std::string Kind = KindOfFirmware(Bytes);
  if (Kind != "image") {
    std::optional<FirmwareFile> File;
    if (Kind == "volume") {
      const auto Volume = ParseFirmwareVolume(Bytes, Error);
      if (Volume && !Volume->Files.empty()) {
        File = Volume->Files.front();
      }
    } else {
      File = ParseFirmwareFile(Bytes, 0, Bytes.size(), Error);
    }
    if (!File) {
      if (Error.find('\n') != std::string::npos) {
        std::abort();
      }
      return 0;
    }
    if (const FirmwareSection *Depex = File->Find(section::kPeiDepex)) {
      const DepexResult Result = EvaluateDependencyExpression(Depex->Payload, {kBusInfoPpiGuid});
      if (Result.Valid == !Result.Error.empty()) {
        std::fprintf(stderr, "image fuzz: a dependency expression is valid or has an error, not both\n");
        std::abort();
      }
    }
    const FirmwareSection *Pe32 = File->FindImage();
    if (Pe32 == nullptr) {
      return 0;
    }
    Bytes = Pe32->Payload;
  }
  const std::optional<PeImage> Image = ParsePeImage(std::move(Bytes), Error);
  if (!Image) {
    if (Error.empty() || Error.find('\n') != std::string::npos) {
      std::fprintf(stderr, "image fuzz: a refusal must be one line: '%s'\n", Error.c_str());
      std::abort();
    }
    return 0;
  }
  // inspect: the contract checks and the layout read only what was validated.
  (void)CheckModuleImageContract(*Image);
  (void)LayOutImage(*Image, 0x00200000);
  // run --image: bounded, whatever the image does.
  static const LinkMap Map = SeedMap();
  VirtualBoard Board(BoardSettings{});
  ModuleImageRun Run;
  Run.MaxInstructions = 20000;
  ModuleImageStats Stats;
  if (!RunParsedModuleImage(Board, *Image, Map, Run, Stats, Error) && Error.find('\n') != std::string::npos) {
    std::fprintf(stderr, "image fuzz: a failure must be one line: '%s'\n", Error.c_str());
    std::abort();
  }
  (void)Board.Report();
  return 0;
}
