// The foundation's page tables, built here at build time and kept in flash
// with their accessed and dirty bits set: identity paging of the 4 GiB in
// 4 MiB pages, flash read-only, no page in the 4 MiB below the module's
// stack, and the 4 MiB at HIGH_TABLE_BASE in 4 KiB uncached pages, two of
// them the stand-in pages below (in RAM). Nothing is computed at run time.
#include "MemoryMap.h"

        .set LARGE, PAGE_LARGE | PAGE_DIRTY | PAGE_ACCESSED | PAGE_WRITABLE | PAGE_PRESENT
        .set SMALL, PAGE_DIRTY | PAGE_ACCESSED | PAGE_WRITABLE | PAGE_PRESENT

        .section .rodata.pagetables, "a"
        .balign 4096
        .globl gPageDirectory
gPageDirectory:
        .set Index, 0
        .rept 1024
        .if Index == FLASH_BASE / LARGE_PAGE_SIZE
        .long   (Index * LARGE_PAGE_SIZE) | (LARGE & ~PAGE_WRITABLE)
        .elseif Index == STACK_GUARD_BASE / LARGE_PAGE_SIZE
        .long   0
        .elseif Index == HIGH_TABLE_BASE / LARGE_PAGE_SIZE
        .long   HighPageTable + (PAGE_ACCESSED | PAGE_WRITABLE | PAGE_PRESENT)
        .else
        .long   (Index * LARGE_PAGE_SIZE) | LARGE
        .endif
        .set Index, Index + 1
        .endr

HighPageTable:
        .set Index, 0
        .rept 1024
        .if HIGH_TABLE_BASE + Index * 4096 == PLATFORM_ANCHOR_PAGE
        .long   gAnchorPage + SMALL
        .elseif HIGH_TABLE_BASE + Index * 4096 == LPC_WINDOW_PAGE
        .long   gWindowPage + SMALL
        .else
        .long   (HIGH_TABLE_BASE + Index * 4096) | PAGE_UNCACHED | SMALL
        .endif
        .set Index, Index + 1
        .endr

// What the module finds at the platform record page and in the LPC window:
// RAM of the foundation's, neither cleared nor copied (QEMU's RAM reads 0 at
// reset); the foundation writes the words the module and the report read.
        .section .noinit, "aw", @nobits
        .balign 4096
        .globl gAnchorPage
gAnchorPage:
        .space  4096
        .globl gWindowPage
gWindowPage:
        .space  4096
