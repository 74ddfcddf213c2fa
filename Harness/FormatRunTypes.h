// One format run described independently of where it runs: the arguments as
// values and bytes (not host pointers), and the outcome. The host harness
// (GuardedFormat.h) and the IA-32 engine image under emulation
// (Emulator/EngineImageRun.h) take and give exactly these, so one table of
// cases drives both.
#ifndef HARNESS_FORMAT_RUN_TYPES_H_
#define HARNESS_FORMAT_RUN_TYPES_H_

#include <cstdint>
#include <string>
#include <vector>

#include "Library/PrintArgs.h"

// One argument: a number with the width and signedness of the C++ value it
// stands for, or the bytes a pointer argument points at (a text with its
// terminator, a GUID or a time record) placed Misalign bytes past a 4-byte
// boundary, or a null pointer.
struct FormatValue {
  enum class Kind { U32, I32, U64, I64, Bytes, Null } Type = Kind::U32;
  std::uint64_t Number = 0;
  std::vector<std::uint8_t> Bytes;
  std::uint32_t Misalign = 0;
};

struct FormatOutcome {
  bool Halted = false;        // a check failed; Sink holds its assertion line
  std::string Output;         // the characters before the terminator
  std::uint32_t Count = 0;    // FormatToBuffer's result
  bool BufferIntact = false;  // guards around the buffer untouched, terminator right after Output
  std::vector<std::string> Sink;
  std::uint64_t Instructions = 0;  // IA-32 runs only
  std::uint32_t StackBytes = 0;    // IA-32 runs only
};

// The argument record of Value, with Address as where its bytes lie (on the
// host or in emulated memory): the same MakePrintArg the firmware's callers
// use, so both runs see the records a C++ caller would make.
inline PRINT_ARG RecordFor(const FormatValue &Value, std::uint64_t Address) {
  switch (Value.Type) {
    case FormatValue::Kind::U32: return MakePrintArg(static_cast<UINT32>(Value.Number));
    case FormatValue::Kind::I32: return MakePrintArg(static_cast<INT32>(Value.Number));
    case FormatValue::Kind::U64: return MakePrintArg(static_cast<UINT64>(Value.Number));
    case FormatValue::Kind::I64: return MakePrintArg(static_cast<INT64>(Value.Number));
    case FormatValue::Kind::Bytes:
      return PRINT_ARG{static_cast<UINT32>(Address), static_cast<UINT32>(Address >> 32), PRINT_ARG_POINTER};
    case FormatValue::Kind::Null: break;
  }
  return MakePrintArg(nullptr);
}

#endif  // HARNESS_FORMAT_RUN_TYPES_H_
