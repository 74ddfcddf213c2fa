// Memory-mapped register store.
#include "Library/IoLib.h"

#include "Library/DebugLib.h"
#include "PlatformOps.h"

FIRMWARE_ROUTINES_BEGIN

UINT32 MmioStore32(UINTN Address, UINT32 Value) {
  ASSERT((Address & 3) == 0);
  PlatformStore32(Address, Value);
  return Value;
}

FIRMWARE_ROUTINES_END
