// The PEI foundation of SocPreInit.rom, entered from its SEC: what its parts
// share. RomMain walks the boot firmware volume and dispatches its PEIMs;
// Services holds the PEI services table and the PPI database; PeimCall calls
// a PEIM with the debug task watching it; Report reads the hardware back and
// ends QEMU.
#ifndef QEMU_FOUNDATION_FOUNDATION_H_
#define QEMU_FOUNDATION_FOUNDATION_H_

#include "Base.h"
#include "Options.h"
#include "Pi/PeiServices.h"

#define EFI_PEI_PPI_DESCRIPTOR_PPI 0x00000010u
#define EFI_PEI_PPI_DESCRIPTOR_TERMINATE_LIST 0x80000000u
#define PPI_DATABASE_SIZE 16u

extern FOUNDATION_OPTIONS gOptions;

// Paging with the stand-in pages, descriptor tables and the tasks, the
// platform records and decode state, the PEI services table.
void PrepareMachine();

// --- Services.cpp
void BuildServicesTable();
const void *PeiServicesPointer();
// A descriptor the foundation installs itself (the run fails when the
// database is full), and the dependency-expression answer for a PUSH.
void RecordPpi(const EFI_PEI_PPI_DESCRIPTOR *Descriptor);
BOOLEAN PpiInstalled(const UINT8 *Guid, void *Context);

// --- Platform.cpp
// BUS_INFO_PPI, filled from the options: what the PEIM that provides it installs.
const EFI_PEI_PPI_DESCRIPTOR *BusInfoDescriptor();

// --- PeimCall.cpp
// Calls a PEIM's entry (FileHandle 0, the PEI services) on the module stack,
// painted first, and checks the callee-saved registers after the return.
// Name: the PEIM's file name (a GUID), to name it in a fault. WatchBase
// non-zero: the module's SerialWrite and HaltProcessor lie at their RVAs
// from it and are watched.
UINT32 CallPeim(const UINT8 *Name, UINT32 Entry, UINT32 WatchBase);
// The time stamp counter just before the last CallPeim's call and just after its return.
extern UINT64 gEntryTsc, gReturnTsc;
// The deepest the module stack was used, in bytes below its entry's return
// address, of the STACK_MEASURED bytes painted before each call; false (and
// Bytes STACK_MEASURED) when the use went deeper than the paint.
#define STACK_MEASURED 0x600u  // the image budget of 1,024 bytes and half as much again
bool DeepestStackUse(UINT32 &Bytes);

// --- Report.cpp
// The outcome, the hardware state read back, the completion marker, and the
// end of QEMU with one of the protocol's exit codes.
[[noreturn]] void Finish(const char *Outcome, UINT8 ExitCode);
// An error line ("error Text 0x...") and the end of the run as the
// foundation's error.
[[noreturn]] void Fail(const char *Text, UINT32 Value);

#endif  // QEMU_FOUNDATION_FOUNDATION_H_
