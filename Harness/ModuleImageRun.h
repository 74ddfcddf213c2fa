// Runs the IA-32 module image under emulation on a virtual board: the same
// board, trace and outcome as the host build.
#ifndef HARNESS_MODULE_IMAGE_RUN_H_
#define HARNESS_MODULE_IMAGE_RUN_H_

#include <cstdint>
#include <string>
#include <vector>

#include "LinkMap.h"
#include "PeImage.h"
#include "VirtualBoard.h"

struct ModuleImageRun {
  std::string ImagePath;
  std::string MapPath;                       // empty: the image path with ".map" for its extension
  std::uint32_t LoadBase = 0x00200000;       // inside the board's loader RAM, page aligned
  // The module's default run takes about 160 instructions and its deepest
  // path a few thousand; an image that runs away stops here.
  std::uint64_t MaxInstructions = 100'000;
  // Instructions a halt loop runs before the board is asked to stop or
  // release it (Ia32Machine::SetHaltSpin); 0 asks at its entry.
  std::uint64_t HaltSpin = 0;
  // The coverage file the run adds what it executed to; empty: the one
  // $SOC_IMAGE_COVERAGE names, if any.
  std::string CoverageFile = {};
};

struct ModuleImageStats {
  std::uint32_t ImageSize = 0;       // bytes of the image file
  std::uint64_t Instructions = 0;    // executed by the image from entry to return (or halt)
  std::uint32_t StackBytes = 0;      // deepest stack use below the entry's return address
};

// The load bases the emulated machine can take an image of SizeOfImage bytes
// at: page aligned, above the loader's stack and inside its RAM.
struct LoadBaseRange {
  std::uint32_t Lowest = 0, Highest = 0;
  bool Holds(std::uint32_t Base) const { return Base % 0x1000 == 0 && Base >= Lowest && Base <= Highest; }
};
LoadBaseRange AcceptedLoadBases(std::uint32_t SizeOfImage);

// Loads and runs the image; the board records the trace and the outcome.
// Returns false with Error set when the image cannot be run at all.
bool RunModuleImage(VirtualBoard &Board, const ModuleImageRun &Run, ModuleImageStats &Stats, std::string &Error);

// The same with the image's bytes already read (the link map is still the
// one Run names or the one beside Run.ImagePath).
bool RunModuleImageBytes(VirtualBoard &Board, std::vector<std::uint8_t> Bytes, const ModuleImageRun &Run,
                         ModuleImageStats &Stats, std::string &Error);

// The same with the image and its link map already read (the fuzzer's way in).
bool RunParsedModuleImage(VirtualBoard &Board, const PeImage &Image, const LinkMap &Map, const ModuleImageRun &Run,
                          ModuleImageStats &Stats, std::string &Error);

#endif  // HARNESS_MODULE_IMAGE_RUN_H_
