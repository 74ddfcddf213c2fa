#include "Options.h"

using namespace foundation_protocol;

#define kMaxOptions 64u

namespace {

// Text (Length characters) is Word: the lengths first, so that most keys
// are told apart without reading a character.
template <UINT32 Size> bool SameWord(const char *Text, UINT32 Length, const char (&Word)[Size]) {
  if (Length != Size - 1) {
    return false;
  }
  for (UINT32 Index = 0; Index < Length; Index++) {
    if (Word[Index] != Text[Index]) {
      return false;
    }
  }
  return true;
}

// Decimal or 0x-hex, at most Max; false when malformed or too large.
bool ParseNumber(const char *Text, UINT32 Length, UINT32 Max, UINT32 &Value) {
  UINT32 Base = 10, Index = 0;
  if (Length > 2 && Text[0] == '0' && (Text[1] == 'x' || Text[1] == 'X')) {
    Base = 16;
    Index = 2;
  }
  if (Index == Length) {
    return false;
  }
  UINT64 Result = 0;
  for (; Index < Length; Index++) {
    const char C = Text[Index];
    UINT32 Digit;
    if (C >= '0' && C <= '9') {
      Digit = static_cast<UINT32>(C - '0');
    } else if (Base == 16 && C >= 'a' && C <= 'f') {
      Digit = static_cast<UINT32>(C - 'a' + 10);
    } else if (Base == 16 && C >= 'A' && C <= 'F') {
      Digit = static_cast<UINT32>(C - 'A' + 10);
    } else {
      return false;
    }
    if (Digit >= Base) {
      return false;
    }
    Result = Result * Base + Digit;
    if (Result > Max) {
      return false;
    }
  }
  Value = static_cast<UINT32>(Result);
  return true;
}

}  // namespace

const char *ParseFoundationOptions(const char *CommandLine, FOUNDATION_OPTIONS &Options) {
  const char *At = CommandLine;
  while (*At != 0 && *At != ' ') {  // the foundation's own path comes first
    At++;
  }
  for (UINT32 Count = 0; Count <= kMaxOptions; Count++) {  // one more pass sees the end after the last
    while (*At == ' ') {
      At++;
    }
    if (*At == 0) {
      return nullptr;
    }
    const char *Key = At;
    while (*At != 0 && *At != ' ' && *At != '=') {
      At++;
    }
    const UINT32 KeyLength = static_cast<UINT32>(At - Key);
    if (*At != '=') {
      return "option without a value";
    }
    const char *Value = ++At;
    while (*At != 0 && *At != ' ') {
      At++;
    }
    const UINT32 ValueLength = static_cast<UINT32>(At - Value);
    UINT32 Number = 0;
    if (SameWord(Key, KeyLength, kPpiKey)) {
      if (SameWord(Value, ValueLength, kPpiInstalled)) {
        Options.Ppi = PPI_INSTALLED;
      } else if (SameWord(Value, ValueLength, kPpiAbsent)) {
        Options.Ppi = PPI_ABSENT;
      } else if (!ParseNumber(Value, ValueLength, 0xFFFFFFFFu, Number)) {
        return "bad ppi value";
      } else if (!EFI_ERROR(Number)) {
        // LocatePpi would succeed without a PPI: the caller would read a
        // pointer nobody wrote.
        return "ppi status is not an error status (bit 31 clear)";
      } else {
        Options.Ppi = PPI_FAILS;
        Options.PpiStatus = Number;
      }
      continue;
    }
    if (!ParseNumber(Value, ValueLength, 0xFFFFFFFFu, Number)) {
      return "bad number";
    }
    if (SameWord(Key, KeyLength, kDivisorKey) && Number <= 0xFF) {
      Options.DivisorCode = static_cast<UINT8>(Number);
    } else if (SameWord(Key, KeyLength, kBusKey) && Number <= 0xFF) {
      Options.Bus = static_cast<UINT8>(Number);
    } else if (SameWord(Key, KeyLength, kReg40Key) && Number <= 0xFF) {
      Options.Reg40 = static_cast<UINT8>(Number);
    } else if (SameWord(Key, KeyLength, kReleaseKey) && Number <= 1) {
      Options.ReleaseHalts = Number != 0;
    } else if (SameWord(Key, KeyLength, kDepexKey) && Number <= 1) {
      Options.HonourModuleDepex = Number != 0;
    } else if (SameWord(Key, KeyLength, kSinkKey)) {
      Options.SinkRva = Number;
    } else if (SameWord(Key, KeyLength, kHaltKey)) {
      Options.HaltRva = Number;
    } else {
      return "unknown option or value out of range";
    }
  }
  return "too many options";
}
