// Digit generation of the format engine: decimal digits two at a time,
// hexadecimal digits by shifts, and the 64-by-32 division where a value does
// not fit in 32 bits. Digits are written after a position, least significant
// first, as ValueToText lays them out.
// Included only by PrintLibInternal, the engine's translation unit: the larger
// helpers have internal linkage so that the compiler weighs their inlining
// as it would for its own local functions.
#ifndef MDEPKG_LIBRARY_BASE_PRINT_LIB_PRINT_DIGITS_H_
#define MDEPKG_LIBRARY_BASE_PRINT_LIB_PRINT_DIGITS_H_

#include "Base.h"
#include "Library/BaseLib.h"

namespace print_internal {

inline constexpr CHAR8 mDigits[] = "0123456789ABCDEF";

// Writes two decimal digits of Pair (below 100) after Scratch, least
// significant first. The tens of a value below 100 are (Pair * 103) >> 10,
// exact for every value below 179.
inline CHAR8 *PutPair(CHAR8 *Scratch, UINT32 Pair) {
  const UINT32 Tens = (Pair * 103) >> 10;
  Scratch[1] = static_cast<CHAR8>('0' + Pair - Tens * 10);
  Scratch[2] = static_cast<CHAR8>('0' + Tens);
  return Scratch + 2;
}

// Writes the decimal digits of Value after Scratch, least significant first;
// returns the last position written. Two digits per division by 100.
static CHAR8 *PutDecimal(CHAR8 *Scratch, UINT32 Value) {
  for (; Value >= 100; Value /= 100) {
    Scratch = PutPair(Scratch, Value % 100);
  }
  if (Value >= 10) {
    return PutPair(Scratch, Value);
  }
  *++Scratch = static_cast<CHAR8>('0' + Value);
  return Scratch;
}

// Exactly nine digits of Chunk (below 10^9), leading zeros included.
static CHAR8 *PutNineDigits(CHAR8 *Scratch, UINT32 Chunk) {
  for (UINT32 Pair = 0; Pair < 4; Pair++, Chunk /= 100) {
    Scratch = PutPair(Scratch, Chunk % 100);
  }
  *++Scratch = static_cast<CHAR8>('0' + Chunk);
  return Scratch;
}

// ValueToText, inline where the engine itself renders a number.
inline CHAR8 *WriteDigits(CHAR8 *Scratch, UINT64 Value, UINT32 Base) {
  *Scratch = 0;
  if (Base == 16) {
    // Hexadecimal digits are groups of four bits: no division at all.
    for (; (Value >> 32) != 0; Value >>= 4) {
      *++Scratch = mDigits[static_cast<UINT32>(Value) & 0xFu];
    }
    UINT32 Low = static_cast<UINT32>(Value);
    do {
      *++Scratch = mDigits[Low & 0xFu];
      Low >>= 4;
    } while (Low != 0);
    return Scratch;
  }
  if (Base == 10) {
    // Above 2^32 the value is split into chunks of nine decimal digits with
    // the 64-by-32 division (at most twice); each chunk, and a value below
    // 2^32, then takes 32-bit divisions by constants, which become
    // multiplications. The digits are the same as one division per digit.
    while ((Value >> 32) != 0) {
      UINT32 Chunk;
      Value = DivU64x32Remainder(Value, 1000000000u, &Chunk);
      Scratch = PutNineDigits(Scratch, Chunk);
    }
    return PutDecimal(Scratch, static_cast<UINT32>(Value));
  }
  do {
    UINT32 Remainder;
    Value = DivU64x32Remainder(Value, Base, &Remainder);
    *++Scratch = mDigits[Remainder];
  } while (Value != 0);
  return Scratch;
}

}  // namespace print_internal

#endif  // MDEPKG_LIBRARY_BASE_PRINT_LIB_PRINT_DIGITS_H_
