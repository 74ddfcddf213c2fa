// The SoC pre-initialisation module: legacy serial set-up, the device-31 I/O
// base enable, and base addresses for the devices on the bus that
// BUS_INFO_PPI names.
#ifndef SOC_PRE_INIT_DXE_ZOD_ODO_RIDA_ZAR_H_
#define SOC_PRE_INIT_DXE_ZOD_ODO_RIDA_ZAR_H_

#include "Base.h"
#include "Layout/Guids.h"
#include "Pi/PeiServices.h"

// Records other firmware leaves in memory; only the fields named here are
// read. Pointers inside them are 32-bit physical addresses.
struct BUS_INFO_PPI {
  UINT8 Revision;
  UINT8 BusNumber;
};

struct PLATFORM_DATA {
  UINT8 Reserved[0x20];
  UINT32 Config;  // physical address of PLATFORM_CONFIG
};

struct PLATFORM_CONFIG {
  UINT8 Reserved[0x43];
  UINT8 SerialDivisorCode;
};

static_assert(__builtin_offsetof(BUS_INFO_PPI, BusNumber) == 1);
static_assert(__builtin_offsetof(PLATFORM_DATA, Config) == 0x20);
static_assert(__builtin_offsetof(PLATFORM_CONFIG, SerialDivisorCode) == 0x43);

#define PLATFORM_DATA_ANCHOR 0xFED00148u  // holds the physical address of PLATFORM_DATA

// Base of PCI Express memory-mapped configuration space.
inline constexpr UINT64 PcdPcieBase = 0xE0000000ull;

// gBusInfoPpiGuid, the PPI the module looks up, is in Layout/Guids.h.

// Fields of the UART line-control value; nothing writes them.
extern UINT8 UartParity;
extern UINT8 UartBreak;

extern "C" EFI_STATUS EFIAPI ModuleEntry(EFI_PEI_FILE_HANDLE FileHandle, const EFI_PEI_SERVICES **PeiServices);
EFI_STATUS LegacyUartInit();
void EnableD31IoBase();
EFI_STATUS SocPreInitEntry(const EFI_PEI_SERVICES **PeiServices);

#endif  // SOC_PRE_INIT_DXE_ZOD_ODO_RIDA_ZAR_H_
