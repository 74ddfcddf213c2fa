// Length and size of 1-byte strings, with the null and limit checks.
#include "Library/BaseLib.h"
#include "Library/DebugLib.h"

UINTN AsciiStrLength(const CHAR8 *String) {
  ASSERT(String != ((void *) 0));
  if (String == nullptr) {
    return 0;  // only reached when a debugger ends the halt: there is nothing to measure
  }
  UINTN Length = 0;
  while (String[Length] != 0) {
    // Tested before each character is counted, so exactly the limit passes.
    ASSERT(Length < _gPcd_FixedAtBuild_PcdMaximumAsciiStringLength);
    Length++;
  }
  return Length;
}

UINTN AsciiStrSize(const CHAR8 *String) { return AsciiStrLength(String) + 1; }
