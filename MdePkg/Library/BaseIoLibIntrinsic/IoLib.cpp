// Memory-mapped register store.
#include "Library/IoLib.h"

#include "Library/DebugLib.h"
#include "PlatformOps.h"

UINT32 MmioStore32(UINTN Address, UINT32 Value) {
  ASSERT((Address & 3) == 0);
  PlatformStore32(Address, Value);
  return Value;
}
