// Fuzzes the format engine: a buffer size, argument records of every kind and
// a format text come from the input; the output buffer has guard bytes on both
// sides. Every text, GUID and time lives in an allocation of exactly its own
// size, so AddressSanitizer catches any read past it.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "FuzzInput.h"
#include "GuardedFormat.h"
#include "Library/PrintLib.h"

namespace {

[[noreturn]] void Fail(const char *What) {
  std::fprintf(stderr, "format fuzz: %s\n", What);
  std::abort();
}

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

UINTN DecodeSize(FuzzInput &In) {
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
std::vector<std::uint8_t> DecodeText(FuzzInput &In, int UnitSize, std::size_t Length, bool Terminated) {
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

// A precision no larger than an unterminated text stops the engine before its
// end: rendering it alone must read nothing more and give exactly its units.
void CheckBoundedText(const std::uint8_t *Text, std::size_t Units, bool Wide) {
  char Format[16];
  std::snprintf(Format, sizeof Format, Wide ? "%%.%zuS" : "%%.%zua", Units);
  char Out[80];
  const PRINT_ARG Arg = MakePrintArg(static_cast<const void *>(Text));
  PRINT_ARG_LIST Cursor{&Arg, &Arg + 1};
  const UINTN Count = FormatToBuffer(Out, sizeof Out, Format, &Cursor);
  if (Count != Units) {
    Fail("a precision-bounded text lost units");
  }
  for (std::size_t Unit = 0; Unit < Units; Unit++) {
    if (Out[Unit] != static_cast<char>(Text[Wide ? 2 * Unit : Unit])) {
      Fail("a precision-bounded text changed");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *Data, std::size_t Size) {
  FuzzInput In(Data, Size);
  const UINTN BufferSize = DecodeSize(In);
  Pointees Memory;
  std::vector<PRINT_ARG> Args;
  const int Count = In.Byte() % 12;
  for (int Index = 0; Index < Count; Index++) {
    const std::uint8_t Kind = In.Byte();
    switch (Kind % 10) {
      case 0: Args.push_back(MakePrintArg(static_cast<UINT32>(In.Bytes(4)))); break;
      case 1: Args.push_back(MakePrintArg(static_cast<INT32>(In.Bytes(4)))); break;
      case 2: Args.push_back(MakePrintArg(static_cast<UINT64>(In.Bytes(8)))); break;
      case 3: Args.push_back(MakePrintArg(static_cast<INT64>(In.Bytes(8)))); break;
      case 4:
      case 5: {
        const bool Wide = Kind % 10 == 5;
        const std::size_t Length = In.Byte() % 40;
        const std::uint8_t *Text = Memory.KeepForAnyDirective(DecodeText(In, Wide ? 2 : 1, Length, true), Kind >> 7);
        Args.push_back(MakePrintArg(static_cast<const void *>(Text)));
        break;
      }
      case 6: {
        // Unterminated: only ever read under a precision that bounds it.
        const bool Wide = (Kind & 0x10) != 0;
        const std::size_t Length = In.Byte() % 24;
        CheckBoundedText(Memory.Keep(DecodeText(In, Wide ? 2 : 1, Length, false)), Length, Wide);
        break;
      }
      case 7:
      case 8: {
        std::vector<std::uint8_t> Record(16);
        for (auto &Byte : Record) {
          Byte = In.Byte();
        }
        Args.push_back(MakePrintArg(static_cast<const void *>(Memory.KeepForAnyDirective(Record, 1 + (Kind >> 6)))));
        break;
      }
      default: Args.push_back(MakePrintArg(nullptr)); break;
    }
  }
  std::vector<std::uint8_t> FormatBytes(In.Rest(), In.Rest() + In.RestSize());
  FormatBytes.push_back(0);
  const char *Format = reinterpret_cast<const char *>(Memory.Keep(FormatBytes));

  const FormatOutcome Run = FormatGuarded(BufferSize, Format, Args);
  if (!Run.BufferIntact) {
    Fail(Run.Halted ? "a guard byte changed" : "a guard byte changed, or the count or terminator is out of place");
  }
  return 0;
}
