// The steps of the format engine that have two forms. EngineForm.h chooses
// the form for the whole build (PRINT_COMPACT); this header holds both forms
// of every such step, so that what differs between the image and the host
// can be read in one place. The two forms of a step give the same output for
// every input; where a step can be compared at compile time it is, below.
//
// What runs where: the IA-32 images carry the compact forms; the host
// library `firmware` the quick ones; the host library `engine_compact`
// (SOC_ENGINE_COMPACT) the compact ones again. `make test` runs the engine,
// diagnostics and bug-class suites and format-fuzz against both host
// libraries, the whole engine vector table (Tests/Unit/EngineVectors.cpp)
// on EngineTest.efi, and format-diff-fuzz, which renders every input with
// both host forms and requires the same bytes, count, sink and halts.
//
// Steps with two forms (compact / quick), and why:
//   - literal runs, CopyLiteralRun here: one character per pass of the
//     engine's loop / the whole run found with strcspn and copied at once;
//   - flag characters, FlagOf here: a scan of the engine's flag table /
//     a 256-entry table made from the grammar at compile time;
//   - conversion classes, ClassOf here: a scan of the engine's conversion
//     characters / a 256-entry table made from the grammar;
//   - line ends outside a directive, WriteLineEnd here: laid out as fields
//     by Convert and LayOutField in PrintLibInternal.cpp / "\r\n" or "\r"
//     written at once (such a line end has no width or precision, so the
//     output is the same);
//   - digits, LayDigits here: one 64-by-32 division per digit (also what
//     grouping takes in both forms) / 32-bit arithmetic, a 64-bit decimal
//     in chunks of nine digits, hexadecimal digits by shifts;
//   - status names, NameAt here (used by StatusName in StatusText.cpp):
//     adding up the names' lengths / an offset table summed at compile time;
//   - out-of-line parts, PRINT_PART here (PrepareNumber, Convert and
//     LayOutField in PrintLibInternal.cpp): kept out of line, which is
//     smaller / left to the compiler to inline;
//   - fills, SHOULD_FILL here (LayOutField): FillChars called for every
//     fill, which ignores counts of zero or less / fills of no character
//     skipped before the call;
//   - short copies, CopyText here: memcpy for every text / an inline loop
//     for texts of up to eight characters.
// Included only by the engine's own sources.
#ifndef MDEPKG_LIBRARY_BASE_PRINT_LIB_PRINT_STEPS_H_
#define MDEPKG_LIBRARY_BASE_PRINT_LIB_PRINT_STEPS_H_

#include "Base.h"
#include "Library/BaseLib.h"
#include "Library/PrintGrammar.h"
#include "Library/PrintLib.h"

#if PRINT_COMPACT
#define PRINT_PART __attribute__((noinline))
#define SHOULD_FILL(Count) true
#else
#define PRINT_PART
#define SHOULD_FILL(Count) (static_cast<INT32>(Count) > 0)
#endif

FIRMWARE_ROUTINES_BEGIN

namespace print_steps {

// Constants reached through a pointer the compiler must keep in a register:
// each use is then a short offset from it rather than a full address, and
// the image needs one base relocation per routine that uses them instead of
// one per use. The empty asm hides where the pointer came from.
template <class T> inline const T *PinInRegister(const T *Pointer) {
  __asm__("" : "+r"(Pointer));
  return Pointer;
}

// --- Tables made from the grammar, in the form the engine embeds them ----

// The flag characters in grammar order with their terminator, and the bit
// each sets as a shift count.
struct FLAG_TABLES {
  CHAR8 Characters[print_grammar::kFlagCount + 1];
  UINT8 Shifts[print_grammar::kFlagCount];
};

consteval FLAG_TABLES BuildFlagTables() {
  FLAG_TABLES Tables{};
  for (UINTN Index = 0; Index < print_grammar::kFlagCount; Index++) {
    Tables.Characters[Index] = print_grammar::kFlags[Index].Character;
    const UINT32 Bit = print_grammar::kFlags[Index].Bit;
    while ((1u << Tables.Shifts[Index]) != Bit) {
      Tables.Shifts[Index]++;
    }
  }
  return Tables;
}
inline constexpr FLAG_TABLES kFlagTables = BuildFlagTables();

// The conversion characters in class order, with a terminator.
struct CONVERSION_CHARACTERS {
  CHAR8 Of[print_grammar::kConversionCount + 1];
};

consteval CONVERSION_CHARACTERS BuildConversionCharacters() {
  CONVERSION_CHARACTERS Characters{};
  for (UINTN Index = 0; Index < print_grammar::kConversionCount; Index++) {
    Characters.Of[Index] = print_grammar::kConversions[Index].Character;
  }
  return Characters;
}
inline constexpr CONVERSION_CHARACTERS kConversionCharacters = BuildConversionCharacters();

// A 256-entry table of Lookup's answer for every character: the quick form
// of a lookup, made at compile time.
template <class ENTRY> struct BY_CHARACTER {
  ENTRY Of[256];
};

template <class ENTRY, class LOOKUP> consteval BY_CHARACTER<ENTRY> ByCharacter(LOOKUP Lookup) {
  BY_CHARACTER<ENTRY> Table{};
  for (UINTN Character = 0; Character < 256; Character++) {
    Table.Of[Character] = static_cast<ENTRY>(Lookup(static_cast<CHAR8>(Character)));
  }
  return Table;
}

// --- Flag characters ------------------------------------------------------

constexpr UINT32 ScanFlag(CHAR8 Character, const CHAR8 *Characters, const UINT8 *Shifts) {
  UINTN Flag = 0;
  while (Characters[Flag] != 0 && Characters[Flag] != Character) {
    Flag++;
  }
  return Characters[Flag] == 0 ? 0 : 1u << Shifts[Flag];
}

inline constexpr auto kFlagOf =
    ByCharacter<UINT16>([](CHAR8 Character) { return print_grammar::FlagBitOf(Character); });

// The flag bit a directive flag character sets, or 0 for any other character.
// Characters and Shifts are the engine's embedded FLAG_TABLES.
inline UINT32 FlagOf(CHAR8 Character, const CHAR8 *Characters, const UINT8 *Shifts) {
#if PRINT_COMPACT
  return ScanFlag(Character, Characters, Shifts);
#else
  (void)Characters;
  (void)Shifts;
  return kFlagOf.Of[static_cast<UINT8>(Character)];
#endif
}

// --- Conversion classes ---------------------------------------------------

// The class of a conversion character: its place in Conversions, or the
// table's length (CONVERT_OTHER) for any other character.
constexpr UINTN ScanClass(const CHAR8 *Conversions, CHAR8 Conversion) {
  UINTN Class = 0;
  while (Conversions[Class] != 0 && Conversions[Class] != Conversion) {
    Class++;
  }
  return Class;
}

inline constexpr auto kClassOf =
    ByCharacter<UINT8>([](CHAR8 Character) { return print_grammar::ClassOf(Character); });

// Conversions is the engine's embedded CONVERSION_CHARACTERS.
inline UINTN ClassOf(const CHAR8 *Conversions, CHAR8 Conversion) {
#if PRINT_COMPACT
  return ScanClass(Conversions, Conversion);
#else
  (void)Conversions;
  return kClassOf.Of[static_cast<UINT8>(Conversion)];
#endif
}

// Both forms of both lookups agree with each other and with the grammar for
// every one of the 256 characters. Compile time only: no image byte.
consteval bool LookupFormsAgree() {
  for (UINTN Character = 0; Character < 256; Character++) {
    const CHAR8 Each = static_cast<CHAR8>(Character);
    const UINT32 Flag = print_grammar::FlagBitOf(Each);
    if (ScanFlag(Each, kFlagTables.Characters, kFlagTables.Shifts) != Flag || kFlagOf.Of[Character] != Flag) {
      return false;
    }
    const UINTN Class = print_grammar::ClassOf(Each);
    if (ScanClass(kConversionCharacters.Of, Each) != Class || kClassOf.Of[Character] != Class) {
      return false;
    }
  }
  return true;
}
static_assert(LookupFormsAgree(), "the compact and quick lookups disagree with each other or with the grammar");

// --- Status names ---------------------------------------------------------

// The name at Index of a block of terminated names: Lengths holds each
// name's length with its terminator, Offsets the sums of those before it.
constexpr const CHAR8 *NameBySum(const CHAR8 *Names, const UINT8 *Lengths, UINTN Index) {
  for (UINTN Before = 0; Before < Index; Before++) {
    Names += Lengths[Before];
  }
  return Names;
}

constexpr const CHAR8 *NameByOffset(const CHAR8 *Names, const UINT16 *Offsets, UINTN Index) {
  return Names + Offsets[Index];
}

inline const CHAR8 *NameAt(const CHAR8 *Names, const UINT8 *Lengths, const UINT16 *Offsets, UINTN Index) {
#if PRINT_COMPACT
  (void)Offsets;
  return NameBySum(Names, Lengths, Index);
#else
  (void)Lengths;
  return NameByOffset(Names, Offsets, Index);
#endif
}

// --- Literal runs, line ends, copies ----------------------------------------

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

// --- Digits -----------------------------------------------------------------

// One 64-by-32 division per digit, with a comma in front of every further
// group of three when Grouping.
inline CHAR8 *LayDigitsByDivision(CHAR8 *Out, UINT64 Value, UINT32 Base, bool Grouping, const CHAR8 *Digits) {
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
  return Out;
}

// Lays the digits of Value in Base (10 or 16) down from Out towards the
// front, most significant ending up first, with a comma in front of every
// further group of three when Grouping; returns the first character.
inline CHAR8 *LayDigits(CHAR8 *Out, UINT64 Value, UINT32 Base, bool Grouping, const CHAR8 *Digits) {
#if PRINT_COMPACT
  return LayDigitsByDivision(Out, Value, Base, Grouping, Digits);
#else
  // 32-bit arithmetic wherever the value allows: a 64-bit decimal is cut into
  // chunks of exactly nine digits (at most two 64-by-32 divisions), a
  // hexadecimal one is taken by shifts. Grouping, rare, takes the general way.
  if (Grouping) {
    return LayDigitsByDivision(Out, Value, Base, Grouping, Digits);
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
  return Out;
#endif
}

}  // namespace print_steps

FIRMWARE_ROUTINES_END

#endif  // MDEPKG_LIBRARY_BASE_PRINT_LIB_PRINT_STEPS_H_
