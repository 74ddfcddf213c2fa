// Scanning and copying helpers of the format engine: literal runs of the
// format, 1-byte and CHAR16 texts. Each reads nothing past the point where
// its answer is known.
// Included only by PrintLibInternal, the engine's translation unit: the larger
// helpers have internal linkage so that the compiler weighs their inlining
// as it would for its own local functions.
#ifndef MDEPKG_LIBRARY_BASE_PRINT_LIB_PRINT_SCAN_H_
#define MDEPKG_LIBRARY_BASE_PRINT_LIB_PRINT_SCAN_H_

#include "Base.h"

namespace print_internal {

// Format characters that end a run of literal text: the terminator, line
// ends and the start of a directive.
// All of them lie at or below '%', so most characters need one comparison.
inline bool EndsLiteralRun(CHAR8 Character) {
  const UINT8 Code = static_cast<UINT8>(Character);
  return Code <= '%' && (Code == 0 || Code == '%' || Code == '\n' || Code == '\r');
}

// Characters of literal text at Format, at most Room; reads nothing after
// the character that ends the run. Pointers rather than 32-bit indexes keep
// the loop free of widening on a 64-bit host.
static UINTN LiteralRunLength(const CHAR8 *Format, UINTN Room) {
  const CHAR8 *Cursor = Format;
  const CHAR8 *const Limit = Format + Room;
  while (Limit - Cursor >= 4) {
    if (EndsLiteralRun(Cursor[0])) {
      return static_cast<UINTN>(Cursor - Format);
    }
    if (EndsLiteralRun(Cursor[1])) {
      return static_cast<UINTN>(Cursor - Format) + 1;
    }
    if (EndsLiteralRun(Cursor[2])) {
      return static_cast<UINTN>(Cursor - Format) + 2;
    }
    if (EndsLiteralRun(Cursor[3])) {
      return static_cast<UINTN>(Cursor - Format) + 3;
    }
    Cursor += 4;
  }
  while (Cursor != Limit && !EndsLiteralRun(*Cursor)) {
    Cursor++;
  }
  return static_cast<UINTN>(Cursor - Format);
}

// Short copies are cheaper inline than through a call.
inline void CopyBytes(CHAR8 *Destination, const CHAR8 *Source, UINTN Count) {
  if (Count <= 16) {
    for (UINTN Index = 0; Index < Count; Index++) {
      Destination[Index] = Source[Index];
    }
  } else {
    __builtin_memcpy(Destination, Source, Count);
  }
}

// Units of a 1-byte text before its terminator, at most Limit; reads nothing
// beyond either.
static UINTN TextLength(const CHAR8 *Text, UINTN Limit) {
  const CHAR8 *Cursor = Text;
  // Limit may be the largest UINTN ("no precision"): compare counts, not pointers.
  UINTN Left = Limit;
  while (Left >= 4) {
    if (Cursor[0] == 0) {
      return static_cast<UINTN>(Cursor - Text);
    }
    if (Cursor[1] == 0) {
      return static_cast<UINTN>(Cursor - Text) + 1;
    }
    if (Cursor[2] == 0) {
      return static_cast<UINTN>(Cursor - Text) + 2;
    }
    if (Cursor[3] == 0) {
      return static_cast<UINTN>(Cursor - Text) + 3;
    }
    Cursor += 4;
    Left -= 4;
  }
  while (Left != 0 && *Cursor != 0) {
    Cursor++;
    Left--;
  }
  return static_cast<UINTN>(Cursor - Text);
}

// The 16-bit little-endian unit at Text, read byte by byte: CHAR16 texts may
// lie at any alignment.
inline UINT16 WideUnitAt(const CHAR8 *Text) {
  const UINT8 *Bytes = reinterpret_cast<const UINT8 *>(Text);
  return static_cast<UINT16>(Bytes[0] | (Bytes[1] << 8));
}


}  // namespace print_internal

#endif  // MDEPKG_LIBRARY_BASE_PRINT_LIB_PRINT_SCAN_H_
