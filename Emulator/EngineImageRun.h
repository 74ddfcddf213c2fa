// Runs the format engine compiled for IA-32 (a test image whose entry calls
// FormatToBuffer) under emulation, with arguments laid out in emulated memory
// as the 32-bit argument records.
#ifndef EMULATOR_ENGINE_IMAGE_RUN_H_
#define EMULATOR_ENGINE_IMAGE_RUN_H_

#include <cstdint>
#include <string>
#include <vector>

// One argument, independent of where it will live: a number, or the bytes a
// pointer argument points at (a text with its terminator, a GUID or a time
// record), or a null pointer.
struct FormatValue {
  enum class Kind { U32, U64, Bytes, Null } Type = Kind::U32;
  std::uint64_t Number = 0;
  std::vector<std::uint8_t> Bytes;
};

struct FormatOutcome {
  bool Halted = false;         // a check failed; Sink holds its assertion line
  std::string Output;          // the characters before the terminator
  std::uint32_t Count = 0;     // FormatToBuffer's result
  bool BufferIntact = true;    // guards around the buffer untouched, terminator in place
  std::vector<std::string> Sink;
  std::uint64_t Instructions = 0;
  std::uint32_t StackBytes = 0;
};

// Returns false with Error set when the image cannot be run.
bool RunEngineImage(const std::string &ImagePath, std::uint32_t BufferSize, const std::string &Format,
                    const std::vector<FormatValue> &Args, FormatOutcome &Outcome, std::string &Error);

#endif  // EMULATOR_ENGINE_IMAGE_RUN_H_
