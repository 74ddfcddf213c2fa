// Length and size of 1-byte strings, with the null and limit checks.
#include "Library/BaseLib.h"
#include "Library/DebugLib.h"

FIRMWARE_ROUTINES_BEGIN

UINTN AsciiStrLength(const CHAR8 *String) {
  ASSERT(String != ((void *) 0));
  if (String == nullptr) {
    return 0;  // only reached when a debugger ends the halt: there is nothing to measure
  }
  // No character below the limit can fail the limit test, so the terminator
  // is looked for there at once (memchr stops at it: nothing after it is
  // read). Only a string that reaches the limit is counted on, one checked
  // character at a time.
  const void *Terminator = __builtin_memchr(String, 0, _gPcd_FixedAtBuild_PcdMaximumAsciiStringLength);
  if (Terminator != nullptr) {
    return static_cast<UINTN>(static_cast<const CHAR8 *>(Terminator) - String);
  }
  UINTN Length = _gPcd_FixedAtBuild_PcdMaximumAsciiStringLength;
  while (String[Length] != 0) {
    ASSERT(Length < _gPcd_FixedAtBuild_PcdMaximumAsciiStringLength);
    Length++;
  }
  return Length;
}

FIRMWARE_ROUTINES_END
