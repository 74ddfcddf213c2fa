// String measurement, 64-by-32 division and unaligned 16-bit reads.
#ifndef MDEPKG_LIBRARY_BASE_LIB_H_
#define MDEPKG_LIBRARY_BASE_LIB_H_

#include "Base.h"

FIRMWARE_ROUTINES_BEGIN

// Largest accepted length of a 1-byte string, in characters.
inline constexpr UINT32 _gPcd_FixedAtBuild_PcdMaximumAsciiStringLength = 1000000;

// Bytes before the terminating 0; checks for null and for the length limit.
UINTN AsciiStrLength(const CHAR8 *String);

// AsciiStrLength + 1, with all of its checks: the size including the terminator.
inline UINTN AsciiStrSize(const CHAR8 *String) { return AsciiStrLength(String) + 1; }

// Divides a 64-bit value by a 32-bit one with two 32-bit divisions, so that
// the 32-bit target needs no runtime helper. Remainder may be null.
UINT64 DivU64x32Remainder(UINT64 Dividend, UINT32 Divisor, UINT32 *Remainder);

// The 16-bit little-endian value of the two bytes at Buffer, at any alignment.
UINT16 LoadUnaligned16(const void *Buffer);

FIRMWARE_ROUTINES_END

#endif  // MDEPKG_LIBRARY_BASE_LIB_H_
