// Runs the format engine compiled for IA-32 under emulation, with arguments
// laid out in emulated memory as the 32-bit argument records: through the
// entry of the engine test image (EngineTestEntry), or the module image's own
// FormatToBuffer, the engine as shipped.
#ifndef HARNESS_ENGINE_IMAGE_RUN_H_
#define HARNESS_ENGINE_IMAGE_RUN_H_

#include <cstdint>
#include <string>
#include <vector>

#include "FormatRunTypes.h"

// Returns false with Error set when the image cannot be run or the run
// faulted (an access outside its memory, an emulation error); Outcome then
// holds what was seen up to the fault.
// What a call may do that a C++ caller of the module never does: hand the
// engine null pointers, and end its halts as a debugger would (the call then
// carries on after each failed check; Outcome.Halted still tells of them).
struct EngineCall {
  bool NullBuffer = false;  // Buffer is 0 (BufferSize as given)
  bool NullFormat = false;  // Format is 0
  bool NullArgs = false;    // the argument list is 0: the module image only (the test entry always makes one)
  bool ReleaseHalts = false;
};

bool RunEngineImage(const std::string &ImagePath, std::uint32_t BufferSize, const std::string &Format,
                    const std::vector<FormatValue> &Args, FormatOutcome &Outcome, std::string &Error,
                    const EngineCall &Call = {});

#endif  // HARNESS_ENGINE_IMAGE_RUN_H_
