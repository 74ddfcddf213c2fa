// The steps of the format engine that have two forms, and the one place that
// chooses between them. The IA-32 image carries the compact form of each
// (every byte of the image counts); the host build, which the benchmarks
// measure, the quick one. The two forms of a step give the same output for
// every input: the host suites run the whole engine vector set on the quick
// forms, the IA-32 engine test image runs it on the compact ones.
//
// Steps with two forms, and why:
//   - literal runs: the compact form copies one character per pass of the
//     engine's loop; the quick form finds the whole run and copies it at once;
//   - flag and conversion characters: the compact form scans their tables;
//     the quick form is a switch;
//   - line ends outside a directive: the compact form lays them out as
//     fields; the quick form writes their "\r\n" or "\r" at once (a line end
//     outside a directive has no width or precision, so the output is the
//     same);
//   - digits: the compact form takes one 64-by-32 division per digit; the
//     quick form works in 32 bits (a 64-bit decimal in chunks of nine digits)
//     and takes hexadecimal digits by shifts;
//   - status names: the compact form adds up the names' lengths; the quick
//     form reads an offset table built from them at compile time;
//   - inlining: the compact form keeps the engine's parts out of line, which
//     is smaller; the quick form lets the compiler inline them;
//   - fills and short copies: the compact form calls FillChars for every fill
//     and memcpy for every text; the quick form skips fills of no character
//     and copies short texts inline.
// Included only by the engine's own sources.
#ifndef MDEPKG_LIBRARY_BASE_PRINT_LIB_PRINT_STEPS_H_
#define MDEPKG_LIBRARY_BASE_PRINT_LIB_PRINT_STEPS_H_

#include "Base.h"
#include "Library/BaseLib.h"
#include "Library/PrintLib.h"

#if defined(__i386__)
#define PRINT_COMPACT 1
#define PRINT_PART __attribute__((noinline))
#define SHOULD_FILL(Count) true
#else
#define PRINT_COMPACT 0
#define PRINT_PART
#define SHOULD_FILL(Count) (static_cast<INT32>(Count) > 0)
#endif

namespace print_steps {

// Format characters that are not literal text: the terminator, line ends and
// the start of a directive.
inline bool EndsLiteralRun(CHAR8 Character) {
  return Character == '%' || Character == '\n' || Character == '\r' || Character == 0;
}

// Copies Count bytes of a 1-byte text.
inline void CopyText(CHAR8 *Buffer, const CHAR8 *Text, UINTN Count) {
#if !PRINT_COMPACT
  if (Count <= 8) {
    for (UINTN Index = 0; Index < Count; Index++) {
      Buffer[Index] = Text[Index];
    }
    return;
  }
#endif
  __builtin_memcpy(Buffer, Text, Count);
}

// Copies the run of literal characters at Format (its first character is
// literal) into Buffer, no further than End; returns how many it copied.
inline UINTN CopyLiteralRun(CHAR8 *Buffer, const CHAR8 *End, const CHAR8 *Format) {
#if PRINT_COMPACT
  (void)End;
  *Buffer = *Format;  // one at a time: the engine's loop comes back for the next
  return 1;
#else
  // The format is a measured, terminated text: the run may be found to its
  // end and then cut to the room.
  const UINTN Room = static_cast<UINTN>(End - Buffer);
  UINTN Run = EndsLiteralRun(Format[1]) ? 1 : __builtin_strcspn(Format, "%\n\r");
  Run = Run < Room ? Run : Room;
  CopyText(Buffer, Format, Run);
  return Run;
#endif
}

// The flag bit a directive flag character sets, or 0 for any other character.
inline UINT32 FlagOf(CHAR8 Character, const CHAR8 *Characters, const UINT8 *Shifts) {
#if PRINT_COMPACT
  UINTN Flag = 0;
  while (Characters[Flag] != 0 && Characters[Flag] != Character) {
    Flag++;
  }
  return Characters[Flag] == 0 ? 0 : 1u << Shifts[Flag];
#else
  (void)Characters;
  (void)Shifts;
  switch (Character) {
    case '-': return PF_ALIGN_LEFT;
    case '+': return PF_SHOW_PLUS;
    case ' ': return PF_SHOW_SPACE;
    case ',': return PF_GROUP_THOUSANDS;
    case 'L':
    case 'l': return PF_VALUE_64;
    case '.': return PF_HAS_PRECISION;
    default: return 0;
  }
#endif
}

// A line end at Format outside a directive: with the quick form, writes its
// text ("\r\n" or a lone "\r") into Buffer, no further than End, and returns
// how many format characters it took; 0 with the compact form, which lays
// it out as a field.
inline UINTN WriteLineEnd(CHAR8 *&Buffer, const CHAR8 *End, const CHAR8 *Format) {
#if PRINT_COMPACT
  (void)Buffer;
  (void)End;
  (void)Format;
  return 0;
#else
  const bool Pair = Format[1] == (Format[0] ^ '\n' ^ '\r');
  *Buffer++ = '\r';  // the caller has checked that there is room for one
  if (Pair || Format[0] == '\n') {
    if (Buffer != End) {
      *Buffer++ = '\n';
    }
  }
  return Pair ? 2 : 1;
#endif
}

// Lays the digits of Value in Base (10 or 16) down from Out towards the
// front, most significant ending up first, with a comma in front of every
// further group of three when Grouping; returns the first character.
inline CHAR8 *LayDigits(CHAR8 *Out, UINT64 Value, UINT32 Base, bool Grouping, const CHAR8 *Digits) {
#if PRINT_COMPACT
  UINTN Group = 0;
  do {
    if (Grouping && Group == 3) {
      *--Out = ',';
      Group = 0;
    }
    UINT32 Remainder;
    Value = DivU64x32Remainder(Value, Base, &Remainder);
    *--Out = Digits[Remainder & 0xF];
    Group++;
  } while (Value != 0);
#else
  // 32-bit arithmetic wherever the value allows: a 64-bit decimal is cut into
  // chunks of exactly nine digits (at most two 64-by-32 divisions), a
  // hexadecimal one is taken by shifts. Grouping, rare, takes the general way.
  if (Grouping) {
    UINTN Group = 0;
    do {
      if (Group == 3) {
        *--Out = ',';
        Group = 0;
      }
      UINT32 Remainder;
      Value = DivU64x32Remainder(Value, Base, &Remainder);
      *--Out = Digits[Remainder & 0xF];
      Group++;
    } while (Value != 0);
    return Out;
  }
  if (Base == 16) {
    for (; (Value >> 32) != 0; Value >>= 4) {
      *--Out = Digits[Value & 0xF];
    }
    UINT32 Low = static_cast<UINT32>(Value);
    do {
      *--Out = Digits[Low & 0xF];
      Low >>= 4;
    } while (Low != 0);
    return Out;
  }
  while ((Value >> 32) != 0) {
    UINT32 Chunk;
    Value = DivU64x32Remainder(Value, 1000000000u, &Chunk);
    for (int Digit = 0; Digit < 9; Digit++, Chunk /= 10) {
      *--Out = static_cast<CHAR8>('0' + Chunk % 10);
    }
  }
  UINT32 Low = static_cast<UINT32>(Value);
  do {
    *--Out = static_cast<CHAR8>('0' + Low % 10);
    Low /= 10;
  } while (Low != 0);
#endif
  return Out;
}

}  // namespace print_steps

#endif  // MDEPKG_LIBRARY_BASE_PRINT_LIB_PRINT_STEPS_H_
