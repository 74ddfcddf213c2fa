// Runs the format engine compiled for IA-32 (a test image whose entry calls
// FormatToBuffer) under emulation, with arguments laid out in emulated memory
// as the 32-bit argument records.
#ifndef HARNESS_ENGINE_IMAGE_RUN_H_
#define HARNESS_ENGINE_IMAGE_RUN_H_

#include <cstdint>
#include <string>
#include <vector>

#include "FormatRunTypes.h"

// Returns false with Error set when the image cannot be run or the run
// faulted (an access outside its memory, an emulation error); Outcome then
// holds what was seen up to the fault.
bool RunEngineImage(const std::string &ImagePath, std::uint32_t BufferSize, const std::string &Format,
                    const std::vector<FormatValue> &Args, FormatOutcome &Outcome, std::string &Error);

#endif  // HARNESS_ENGINE_IMAGE_RUN_H_
