// What the two ways into the foundation share: from the ROM (RomMain.cpp)
// and as a multiboot kernel (MultibootMain.cpp).
#ifndef QEMU_FOUNDATION_FOUNDATION_H_
#define QEMU_FOUNDATION_FOUNDATION_H_

#include "Base.h"
#include "Options.h"
#include "Pi/PeiServices.h"

#define EFI_PEI_PPI_DESCRIPTOR_PPI 0x00000010u
#define EFI_PEI_PPI_DESCRIPTOR_TERMINATE_LIST 0x80000000u

extern FOUNDATION_OPTIONS gOptions;

// Paging with the stand-in pages, descriptor tables and the debug task, the
// platform records and decode state, the PEI services table.
void PrepareMachine();

// The PPI database: a descriptor installed by the foundation itself, and the
// dependency-expression answer for a PUSH.
void RecordPpi(const EFI_PEI_PPI_DESCRIPTOR *Descriptor);
BOOLEAN PpiInstalled(const UINT8 *Guid, void *Context);
// BUS_INFO_PPI, filled from the options: what the PEIM that provides it installs.
const EFI_PEI_PPI_DESCRIPTOR *BusInfoDescriptor();
const void *PeiServicesPointer();

// Calls a PEIM's entry (FileHandle 0, the PEI services) on the module stack,
// painted first, and checks the callee-saved registers after the return.
// WatchBase non-zero: the module's SerialWrite and HaltProcessor lie at their
// RVAs from it and are watched.
UINT32 CallPeim(UINT32 Entry, UINT32 WatchBase);
// The time stamp counter just before the last CallPeim's call and just after its return.
extern UINT64 gEntryTsc, gReturnTsc;

void PrintGuid(const UINT8 *Guid);
void ReportWord(const char *Name, UINT32 Value);
// The hardware state read back, the completion marker, the end of QEMU.
[[noreturn]] void Finish(const char *Outcome);
[[noreturn]] void Fail(const char *Text, UINT32 Value);

#endif  // QEMU_FOUNDATION_FOUNDATION_H_
