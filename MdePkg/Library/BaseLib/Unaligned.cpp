// Reads at any alignment, byte by byte.
#include "Library/BaseLib.h"
#include "Library/DebugLib.h"

FIRMWARE_ROUTINES_BEGIN

UINT16 LoadUnaligned16(const void *Buffer) {
  ASSERT(Buffer != ((void *) 0));
  if (Buffer == nullptr) {
    return 0;  // only reached when a debugger ends the halt
  }
  const UINT8 *Bytes = static_cast<const UINT8 *>(Buffer);
  return static_cast<UINT16>(Bytes[0] | (Bytes[1] << 8));
}

FIRMWARE_ROUTINES_END
