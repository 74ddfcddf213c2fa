// Port output.
#include "Library/DebugLib.h"
#include "Library/IoLib.h"
#include "PlatformOps.h"

FIRMWARE_ROUTINES_BEGIN

UINT32 PortWrite32(UINTN Port, UINT32 Value) {
  ASSERT((Port & 3) == 0);
  PlatformPortOut32(static_cast<UINT16>(Port & 0xFFFFu), Value);
  return Value;
}

void PortWrite8(UINT16 Port, UINT8 Value) { PlatformPortOut8(Port, Value); }

FIRMWARE_ROUTINES_END
