// The foundation's view of the machine's address space under its paging:
// identity-mapped in 4 MiB pages, with flash read-only, a hole below the
// module's stack, and two pages of its own standing in for the platform
// records at 0xFED00000 and the LPC window at 0xFED08000.
#ifndef QEMU_FOUNDATION_MEMORY_MAP_H_
#define QEMU_FOUNDATION_MEMORY_MAP_H_

#include "Base.h"
#include "Layout/RomLayout.h"

#define LARGE_PAGE_SIZE 0x00400000u
#define FLASH_BASE 0xFFC00000u  // the top 4 MiB, where the ROM lies: no store lands there

// The stack the PEIMs run on, with nothing mapped in the 4 MiB below it: a
// PEIM that runs off its bottom faults there instead of overwriting RAM.
#define MODULE_STACK_BASE 0x00800000u
#define MODULE_STACK_SIZE 0x00004000u
#define STACK_GUARD_BASE (MODULE_STACK_BASE - LARGE_PAGE_SIZE)

#define HIGH_TABLE_BASE 0xFEC00000u      // mapped in 4 KiB pages, uncached
#define PLATFORM_ANCHOR_PAGE 0xFED00000u // the page of the module's anchor
#define LPC_WINDOW_PAGE 0xFED08000u      // the page the LPC window opens at
#define LPC_WINDOW_CONTROL 0x88u         // in it: the word the module programs

inline bool InFlash(UINT32 Address) { return Address >= FLASH_BASE; }
inline bool InStackGuard(UINT32 Address) { return Address >= STACK_GUARD_BASE && Address < MODULE_STACK_BASE; }

#endif  // QEMU_FOUNDATION_MEMORY_MAP_H_
