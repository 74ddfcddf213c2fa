// Port and memory-mapped register access of the module.
#ifndef MDEPKG_LIBRARY_IO_LIB_H_
#define MDEPKG_LIBRARY_IO_LIB_H_

#include "Base.h"

FIRMWARE_ROUTINES_BEGIN

// 32-bit store to a physical address; Address must be a multiple of 4.
UINT32 MmioStore32(UINTN Address, UINT32 Value);

// 32-bit output to the port in the low 16 bits of Port, a multiple of 4.
UINT32 PortWrite32(UINTN Port, UINT32 Value);

// 8-bit output to a port; no check.
void PortWrite8(UINT16 Port, UINT8 Value);

FIRMWARE_ROUTINES_END

#endif  // MDEPKG_LIBRARY_IO_LIB_H_
