// The ROM's SEC: from the reset vector to the PEI foundation. The processor
// starts in real mode at 0xFFFFFFF0 with CS based at 0xFFFF0000; this code
// loads a flat GDT that lives here in flash, enters 32-bit protected mode and
// jumps to the foundation, which executes in place in flash at
// FOUNDATION_BASE (the build passes RomLayout.h's kFoundationBase), with the
// time stamp counter at reset in EBP:EBX. Nothing is copied: the foundation
// sets up its own stack and data.
        .set CODE_SELECTOR, 0x08
        .set DATA_SELECTOR, 0x10
        .set CS_BASE, 0xFFFF0000           // of the reset CS: 16-bit offsets are from it

        .section .sec, "ax"
        .code16
        .globl Reset16
Reset16:
        // The time stamp counter first: under QEMU's -icount it counts
        // instructions, but from when QEMU started, not from reset. EBX and
        // EBP carry it to the foundation, which counts from here.
        rdtsc
        mov     %eax, %ebx
        mov     %edx, %ebp
        cli
        cld
        // 0x66: a 32-bit GDT base (lgdtw keeps only 24 bits of it); CS
        // override: DS is based at 0, in RAM.
        lgdtl   %cs:(SecGdtr - CS_BASE)
        mov     %cr0, %eax
        or      $1, %eax
        mov     %eax, %cr0
        // ljmpl, not ljmp: a 32-bit offset (ljmp truncates it to 16 bits).
        ljmpl   $CODE_SELECTOR, $Start32

        .balign 8
// Flat 4 GiB code and data, with the accessed bit set: the processor writes
// a descriptor back when it sets that bit, and flash takes no writes.
SecGdt:
        .quad   0
        .quad   0x00CF9B000000FFFF
        .quad   0x00CF93000000FFFF
SecGdtr:
        .word   SecGdtr - SecGdt - 1
        .long   SecGdt

        .code32
Start32:
        mov     $DATA_SELECTOR, %ax
        mov     %ax, %ds
        mov     %ax, %es
        mov     %ax, %ss
        mov     %ax, %fs
        mov     %ax, %gs
        jmp     FOUNDATION_BASE

// The reset vector: the last 16 bytes of the 4 GiB space (the ROM builder
// pads the SEC to its 256 bytes; a section reaching 4 GiB is more than
// ld.lld takes).
        .section .resetvector, "ax"
        .code16
        jmp     Reset16
