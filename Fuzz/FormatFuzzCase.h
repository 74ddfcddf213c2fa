// Decodes a fuzz input into one format case: a buffer size, argument records
// of every kind and a format text. Every text, GUID and time lives in an
// allocation of exactly its own size, so AddressSanitizer catches any read
// past it. Shared by format-fuzz (each form on its own) and format-diff-fuzz
// (both forms side by side).
#ifndef FUZZ_FORMAT_FUZZ_CASE_H_
#define FUZZ_FORMAT_FUZZ_CASE_H_

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "FuzzInput.h"
#include "Library/PrintArgs.h"

namespace format_fuzz {

// Owns the memory that pointer arguments point at.
struct Pointees {
  // Any directive may take any pointer argument, so each block must be safe
  // for all of them: at least a GUID's 16 bytes, and ended both as a 1-byte
  // text and as a CHAR16 text (three 0 bytes hold a 0 unit at an even offset).
  // Reads beyond that still run off the block and are caught.
  const std::uint8_t *KeepForAnyDirective(std::vector<std::uint8_t> Bytes, std::size_t Offset) {
    Bytes.insert(Bytes.end(), 3, 0);
    if (Bytes.size() < 16) {
      Bytes.resize(16, 0);
    }
    return Keep(std::move(Bytes), Offset);
  }
  std::vector<std::unique_ptr<std::uint8_t[]>> Blocks;
  const std::uint8_t *Keep(std::vector<std::uint8_t> Bytes, std::size_t Offset = 0) {
    auto Block = std::make_unique<std::uint8_t[]>(Bytes.size() + Offset);
    if (!Bytes.empty()) {
      std::memcpy(Block.get() + Offset, Bytes.data(), Bytes.size());
    }
    const std::uint8_t *At = Block.get() + Offset;
    Blocks.push_back(std::move(Block));
    return At;
  }
};

inline UINTN DecodeSize(FuzzInput &In) {
  const std::uint8_t Mode = In.Byte();
  const auto Low = static_cast<UINTN>(In.Bytes(2));
  if (Mode == 0xFF) {
    return 1000002;  // room for more than the output limit: the last check can fire
  }
  if (Mode >= 0xF0) {
    return 2000 + Low;
  }
  return Low % 400;
}

// A text of Length units after the input's next bytes; Terminated adds the 0 unit.
inline std::vector<std::uint8_t> DecodeText(FuzzInput &In, int UnitSize, std::size_t Length, bool Terminated) {
  std::vector<std::uint8_t> Bytes;
  for (std::size_t Unit = 0; Unit < Length; Unit++) {
    std::uint64_t Value = In.Bytes(UnitSize);
    Value = Value == 0 ? 1 : Value;  // no early terminator; 0x100 and the like stay
    for (int Index = 0; Index < UnitSize; Index++) {
      Bytes.push_back(static_cast<std::uint8_t>(Value >> (8 * Index)));
    }
  }
  if (Terminated) {
    Bytes.insert(Bytes.end(), UnitSize, 0);
  }
  return Bytes;
}

struct FormatCase {
  UINTN BufferSize = 0;
  std::vector<PRINT_ARG> Args;
  const char *Format = nullptr;
};

// OnUnterminated(Text, Units, Wide) is called for each unterminated text the
// input holds: such a text may only be read under a precision that bounds it.
template <class ON_UNTERMINATED>
FormatCase DecodeCase(const std::uint8_t *Data, std::size_t Size, Pointees &Memory, ON_UNTERMINATED &&OnUnterminated) {
  FuzzInput In(Data, Size);
  FormatCase Case;
  Case.BufferSize = DecodeSize(In);
  const int Count = In.Byte() % 12;
  for (int Index = 0; Index < Count; Index++) {
    const std::uint8_t Kind = In.Byte();
    switch (Kind % 10) {
      case 0: Case.Args.push_back(MakePrintArg(static_cast<UINT32>(In.Bytes(4)))); break;
      case 1: Case.Args.push_back(MakePrintArg(static_cast<INT32>(In.Bytes(4)))); break;
      case 2: Case.Args.push_back(MakePrintArg(static_cast<UINT64>(In.Bytes(8)))); break;
      case 3: Case.Args.push_back(MakePrintArg(static_cast<INT64>(In.Bytes(8)))); break;
      case 4:
      case 5: {
        const bool Wide = Kind % 10 == 5;
        const std::size_t Length = In.Byte() % 40;
        const std::uint8_t *Text = Memory.KeepForAnyDirective(DecodeText(In, Wide ? 2 : 1, Length, true), Kind >> 7);
        Case.Args.push_back(MakePrintArg(static_cast<const void *>(Text)));
        break;
      }
      case 6: {
        // Unterminated: only ever read under a precision that bounds it.
        const bool Wide = (Kind & 0x10) != 0;
        const std::size_t Length = In.Byte() % 24;
        OnUnterminated(Memory.Keep(DecodeText(In, Wide ? 2 : 1, Length, false)), Length, Wide);
        break;
      }
      case 7:
      case 8: {
        std::vector<std::uint8_t> Record(16);
        for (auto &Byte : Record) {
          Byte = In.Byte();
        }
        Case.Args.push_back(MakePrintArg(static_cast<const void *>(Memory.KeepForAnyDirective(Record, 1 + (Kind >> 6)))));
        break;
      }
      default: Case.Args.push_back(MakePrintArg(nullptr)); break;
    }
  }
  std::vector<std::uint8_t> FormatBytes(In.Rest(), In.Rest() + In.RestSize());
  FormatBytes.push_back(0);
  Case.Format = reinterpret_cast<const char *>(Memory.Keep(FormatBytes));

  return Case;
}

}  // namespace format_fuzz


#endif  // FUZZ_FORMAT_FUZZ_CASE_H_
