// Length and size of 1-byte strings, with the null and limit checks.
#include "Library/BaseLib.h"
#include "Library/DebugLib.h"

#define LENGTH_BLOCK 8u

namespace {

// The checked part of the measurement: a null string, and the characters
// from Length on, where the limit test is made before each one is counted.
// Kept apart so that the common path below carries none of its cost.
__attribute__((noinline)) UINTN CheckedLength(const CHAR8 *String, UINTN Length) {
  ASSERT(String != ((void *) 0));
  if (String == nullptr) {
    return 0;  // only reached when a debugger ends the halt: there is nothing to measure
  }
  while (String[Length] != 0) {
    ASSERT(Length < _gPcd_FixedAtBuild_PcdMaximumAsciiStringLength);
    Length++;
  }
  return Length;
}

}  // namespace

UINTN AsciiStrLength(const CHAR8 *String) {
  if (String == nullptr) {
    return CheckedLength(String, 0);
  }
  // Characters of a block that lies wholly below the limit cannot fail the
  // limit test, so only the block is tested; each byte is still read in order
  // and nothing after the terminator is read.
  const UINT8 *Bytes = reinterpret_cast<const UINT8 *>(String);
  UINTN Length = 0;
  while (Length <= _gPcd_FixedAtBuild_PcdMaximumAsciiStringLength - LENGTH_BLOCK) {
    const UINT8 *Block = Bytes + Length;
    if (Block[0] == 0) {
      return Length;
    }
    if (Block[1] == 0) {
      return Length + 1;
    }
    if (Block[2] == 0) {
      return Length + 2;
    }
    if (Block[3] == 0) {
      return Length + 3;
    }
    if (Block[4] == 0) {
      return Length + 4;
    }
    if (Block[5] == 0) {
      return Length + 5;
    }
    if (Block[6] == 0) {
      return Length + 6;
    }
    if (Block[7] == 0) {
      return Length + 7;
    }
    Length += LENGTH_BLOCK;
  }
  return CheckedLength(String, Length);
}
