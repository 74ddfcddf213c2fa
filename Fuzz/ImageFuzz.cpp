// Fuzzes the PE reader, the contract checks and the emulated run with PE
// images: the built module images and mutations of their headers, sections
// and relocation blocks (the seed corpus). Every input must end in a refusal
// or a finished run, within the run's bounds; the sanitizers watch the rest.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "LinkMap.h"
#include "ModuleImageRun.h"
#include "PeImage.h"
#include "VirtualBoard.h"

namespace {

// The routines the emulator watches, at the RVAs a module image puts them
// near; in a mutated image they may point anywhere, which the run must bear.
LinkMap SeedMap() {
  LinkMap Map;
  Map.Rvas = {{"_HaltProcessor", 0x922}, {"_SerialWrite", 0x932}, {"_ModuleEntry", 0x9CC}};
  return Map;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *Data, std::size_t Size) {
  std::string Error;
  const std::optional<PeImage> Image = ParsePeImage(std::vector<std::uint8_t>(Data, Data + Size), Error);
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
