// The foundation's view of the machine's address space under its paging:
// identity-mapped in 4 MiB pages, with flash read-only, a hole below the
// module's stack, and two pages of its own standing in for the platform
// records at 0xFED00000 and the LPC window at 0xFED08000. Read by C++ and by
// the page tables' assembly alike.
#ifndef QEMU_FOUNDATION_MEMORY_MAP_H_
#define QEMU_FOUNDATION_MEMORY_MAP_H_

#ifdef __ASSEMBLER__
#define MEMORY_MAP_U32(Value) Value
#else
#define MEMORY_MAP_U32(Value) Value##u
#endif

#define LARGE_PAGE_SIZE MEMORY_MAP_U32(0x00400000)
#define FLASH_BASE MEMORY_MAP_U32(0xFFC00000)  // the top 4 MiB, where the ROM lies: no store lands there

// The stack the PEIMs run on, with nothing mapped in the 4 MiB below it: a
// PEIM that runs off its bottom faults there instead of overwriting RAM.
#define MODULE_STACK_BASE MEMORY_MAP_U32(0x00800000)
#define MODULE_STACK_SIZE MEMORY_MAP_U32(0x00004000)
#define STACK_GUARD_BASE (MODULE_STACK_BASE - LARGE_PAGE_SIZE)

#define HIGH_TABLE_BASE MEMORY_MAP_U32(0xFEC00000)      // mapped in 4 KiB pages, uncached
#define PLATFORM_ANCHOR_PAGE MEMORY_MAP_U32(0xFED00000) // the page of the module's anchor
#define LPC_WINDOW_PAGE MEMORY_MAP_U32(0xFED08000)      // the page the LPC window opens at
#define LPC_WINDOW_CONTROL MEMORY_MAP_U32(0x88)         // in it: the word the module programs

// Page-table entry bits. Accessed and dirty are set in the tables in flash
// already: the processor would write them back otherwise, and flash takes no
// store.
#define PAGE_PRESENT MEMORY_MAP_U32(0x1)
#define PAGE_WRITABLE MEMORY_MAP_U32(0x2)
#define PAGE_UNCACHED MEMORY_MAP_U32(0x18)  // cache disabled, write-through
#define PAGE_ACCESSED MEMORY_MAP_U32(0x20)
#define PAGE_DIRTY MEMORY_MAP_U32(0x40)
#define PAGE_LARGE MEMORY_MAP_U32(0x80)     // a 4 MiB page

#ifndef __ASSEMBLER__
#include "Base.h"

// The tables (in flash, PageTables.S) and the two stand-in pages (in RAM).
extern "C" const UINT32 gPageDirectory[1024];
extern "C" UINT8 gAnchorPage[4096];  // seen at PLATFORM_ANCHOR_PAGE
extern "C" UINT8 gWindowPage[4096];  // seen at LPC_WINDOW_PAGE

inline bool InFlash(UINT32 Address) { return Address >= FLASH_BASE; }
inline bool InStackGuard(UINT32 Address) { return Address >= STACK_GUARD_BASE && Address < MODULE_STACK_BASE; }
#endif

#endif  // QEMU_FOUNDATION_MEMORY_MAP_H_
