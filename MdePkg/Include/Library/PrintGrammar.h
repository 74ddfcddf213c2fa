// The directive language of the format engine, described once: which
// characters are flags and which bit each sets, which are conversions, what
// each conversion adds to the flags and which argument it takes. The
// engine's embedded tables, its quick host lookups and the compile-time
// format checker are all derived from the two tables below, so a new flag
// or conversion is one row here (and, for a conversion, its field in the
// engine).
#ifndef MDEPKG_LIBRARY_PRINT_GRAMMAR_H_
#define MDEPKG_LIBRARY_PRINT_GRAMMAR_H_

#include "Base.h"

// Flag word of one format character.
#define PF_ALIGN_LEFT 0x0001u
#define PF_SHOW_PLUS 0x0002u
#define PF_SHOW_SPACE 0x0004u
#define PF_GROUP_THOUSANDS 0x0008u
#define PF_VALUE_64 0x0010u
#define PF_FILL_ZEROS 0x0020u
#define PF_BASE_16 0x0080u
#define PF_HAS_WIDTH 0x0200u
#define PF_TEXT_CHAR16 0x0400u
#define PF_HAS_PRECISION 0x0800u
#define PF_NUMBER_LAYOUT 0x1000u

namespace print_grammar {

// Directive characters besides the flags and conversions: '*' takes a UINTN
// width or precision from the arguments; a digit starts a number.
inline constexpr CHAR8 kStar = '*';
constexpr bool IsDigit(CHAR8 Character) { return Character >= '0' && Character <= '9'; }

struct FLAG_RULE {
  CHAR8 Character;
  UINT32 Bit;
};

inline constexpr FLAG_RULE kFlags[] = {
    {'-', PF_ALIGN_LEFT},      {'+', PF_SHOW_PLUS}, {' ', PF_SHOW_SPACE},    {',', PF_GROUP_THOUSANDS},
    {'L', PF_VALUE_64},        {'l', PF_VALUE_64},  {'.', PF_HAS_PRECISION},
};
inline constexpr UINTN kFlagCount = sizeof kFlags / sizeof kFlags[0];

// What a conversion takes from the argument list.
enum ARGUMENT : UINT8 {
  TAKES_NOTHING,
  TAKES_NUMBER,       // 32 bits, 64 with PF_VALUE_64: 'd' signed, 'x' and 'X' unsigned
  TAKES_ADDRESS,      // 32 bits, a number or a pointer; PF_VALUE_64 does not widen it
  TAKES_CHARACTER,    // a UINTN whose low 16 bits are the character
  TAKES_STATUS,       // an EFI_STATUS
  TAKES_TEXT,         // a pointer to a 1-byte text
  TAKES_CHAR16_TEXT,  // a pointer to a CHAR16 text
  TAKES_GUID,         // a pointer to an EFI_GUID
  TAKES_TIME,         // a pointer to an EFI_TIME
};

// Conversion classes, in the order of kConversions (checked below). The
// engine relies on the grouping: the numbers first, then the texts, 'c',
// the records and the line ends; any other character is CONVERT_OTHER, a
// one-character text of itself.
enum CONVERSION : UINTN {
  CONVERT_D, CONVERT_X, CONVERT_UPPER_X, CONVERT_P,  // numbers
  CONVERT_A, CONVERT_UPPER_S, CONVERT_S,             // texts
  CONVERT_C,
  CONVERT_G, CONVERT_T, CONVERT_R,                   // records
  CONVERT_LINE_FEED, CONVERT_CARRIAGE_RETURN,
  CONVERT_OTHER
};

struct CONVERSION_RULE {
  CHAR8 Character;
  CONVERSION Class;
  UINT32 Sets;  // flag bits the conversion adds
  ARGUMENT Takes;
};

inline constexpr CONVERSION_RULE kConversions[] = {
    {'d', CONVERT_D, 0, TAKES_NUMBER},
    {'x', CONVERT_X, PF_BASE_16, TAKES_NUMBER},
    {'X', CONVERT_UPPER_X, PF_BASE_16 | PF_FILL_ZEROS, TAKES_NUMBER},
    {'p', CONVERT_P, PF_BASE_16 | PF_FILL_ZEROS, TAKES_ADDRESS},  // also clears '+', ' ' and 'l'
    {'a', CONVERT_A, 0, TAKES_TEXT},
    {'S', CONVERT_UPPER_S, PF_TEXT_CHAR16, TAKES_CHAR16_TEXT},
    {'s', CONVERT_S, PF_TEXT_CHAR16, TAKES_CHAR16_TEXT},
    {'c', CONVERT_C, PF_TEXT_CHAR16, TAKES_CHARACTER},
    {'g', CONVERT_G, 0, TAKES_GUID},
    {'t', CONVERT_T, 0, TAKES_TIME},
    {'r', CONVERT_R, 0, TAKES_STATUS},
    {'\n', CONVERT_LINE_FEED, 0, TAKES_NOTHING},
    {'\r', CONVERT_CARRIAGE_RETURN, 0, TAKES_NOTHING},
};
inline constexpr UINTN kConversionCount = sizeof kConversions / sizeof kConversions[0];

// The flag bit a character sets as a flag, or 0.
constexpr UINT32 FlagBitOf(CHAR8 Character) {
  for (const FLAG_RULE &Flag : kFlags) {
    if (Flag.Character == Character) {
      return Flag.Bit;
    }
  }
  return 0;
}

// The class of a conversion character.
constexpr CONVERSION ClassOf(CHAR8 Character) {
  for (const CONVERSION_RULE &Rule : kConversions) {
    if (Rule.Character == Character) {
      return Rule.Class;
    }
  }
  return CONVERT_OTHER;
}

constexpr ARGUMENT TakesOf(UINTN Class) { return Class < kConversionCount ? kConversions[Class].Takes : TAKES_NOTHING; }

constexpr bool TakesPointer(UINTN Class) {
  const ARGUMENT Takes = TakesOf(Class);
  return Takes == TAKES_TEXT || Takes == TAKES_CHAR16_TEXT || Takes == TAKES_GUID || Takes == TAKES_TIME;
}

// The orderings the engine compares against.
consteval bool ClassesFollowTheTable() {
  for (UINTN Index = 0; Index < kConversionCount; Index++) {
    if (kConversions[Index].Class != Index) {
      return false;
    }
  }
  return CONVERT_OTHER == kConversionCount;
}
static_assert(ClassesFollowTheTable(), "each conversion class is its row in kConversions");

consteval bool GroupedAsTheEngineReadsThem() {
  for (UINTN Class = 0; Class < kConversionCount; Class++) {
    const ARGUMENT Takes = TakesOf(Class);
    const bool Number = Takes == TAKES_NUMBER || Takes == TAKES_ADDRESS;
    const bool Text = Takes == TAKES_TEXT || Takes == TAKES_CHAR16_TEXT;
    const bool Record = Takes == TAKES_GUID || Takes == TAKES_TIME || Takes == TAKES_STATUS;
    if (Number != (Class <= CONVERT_P) || Text != (Class >= CONVERT_A && Class <= CONVERT_S) ||
        (Takes == TAKES_CHARACTER) != (Class == CONVERT_C) || Record != (Class >= CONVERT_G && Class <= CONVERT_R) ||
        (Takes == TAKES_NOTHING) != (Class > CONVERT_R)) {
      return false;
    }
  }
  return true;
}
static_assert(GroupedAsTheEngineReadsThem(), "numbers, texts, 'c', records, line ends: in that order");

consteval bool NoCharacterIsTwoThings() {
  for (UINTN Character = 0; Character < 256; Character++) {
    const CHAR8 Each = static_cast<CHAR8>(Character);
    UINTN Meanings = (FlagBitOf(Each) != 0) + (ClassOf(Each) != CONVERT_OTHER) + IsDigit(Each) + (Each == kStar);
    if (Meanings > 1 || (Each == 0 && Meanings != 0)) {
      return false;
    }
  }
  return true;
}
static_assert(NoCharacterIsTwoThings(), "a directive character is a flag, a digit, '*' or a conversion");

}  // namespace print_grammar

#endif  // MDEPKG_LIBRARY_PRINT_GRAMMAR_H_
