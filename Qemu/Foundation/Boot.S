// Entry of the PEI foundation (from the ROM's SEC), the call into a PEIM
// with the PI calling convention, the services' own stack, the debug task's
// loop and the exception stubs.
        .set MODULE_EBX, 0x0B0B0B0B        // values put into the callee-saved registers
        .set MODULE_ESI, 0x51515151        // before the call; the entry must hand
        .set MODULE_EDI, 0xD1D1D1D1        // them back unchanged
        .set MODULE_EBP, 0xB9B9B9B9

// The SEC jumps to the foundation's first byte, in flash.
        .section .romentry, "ax"
        jmp     RomStart

        .text
// From the SEC: the time stamp counter at entry, the initialised data into
// RAM, the zero-initialised variables cleared (four bytes a step: each step
// of a rep counts as an instruction), then the foundation's main on the
// foundation's stack, given the time stamp counter at reset (EBP:EBX) and at
// its own entry (EDX:EAX).
        .globl RomStart
RomStart:
        rdtsc
        cli
        cld
        mov     $FoundationStackTop, %esp  // .noinit: usable as it is
        push    %edx                       // the time stamp counter at entry
        push    %eax
        mov     $__data_load, %esi
        mov     $__data_start, %edi
        mov     $__data_words, %ecx
        rep movsl
        mov     $__bss_start, %edi
        mov     $__bss_words, %ecx
        xor     %eax, %eax
        rep stosl
        push    %ebp                       // the time stamp counter at reset, from the SEC
        push    %ebx
        call    RomMain
4:      hlt
        jmp     4b

// Reloads the segment registers after the foundation's GDT is in place.
        .globl ReloadSegments
ReloadSegments:
        ljmp    $0x08, $2f
2:      mov     $0x10, %ax
        mov     %ax, %ds
        mov     %ax, %es
        mov     %ax, %fs
        mov     %ax, %gs
        mov     %ax, %ss
        ret

// UINT32 CallModuleEntry(UINT32 Entry, UINT32 FileHandle, UINT32 PeiServices, UINT32 StackTop)
// Calls Entry(FileHandle, PeiServices) on a stack of its own with known values
// in EBX/ESI/EDI/EBP, then records what the registers and the stack pointer
// hold after the return (gAfterCall) and returns EAX.
        .globl CallModuleEntry
CallModuleEntry:
        push    %ebp
        push    %ebx
        push    %esi
        push    %edi
        mov     %esp, gFoundationEsp
        mov     20(%esp), %eax
        mov     24(%esp), %ecx
        mov     28(%esp), %edx
        mov     32(%esp), %esp
        push    %edx
        push    %ecx
        mov     $MODULE_EBX, %ebx
        mov     $MODULE_ESI, %esi
        mov     $MODULE_EDI, %edi
        mov     $MODULE_EBP, %ebp
        call    *%eax
        mov     %ebx, gAfterCall + 0
        mov     %esi, gAfterCall + 4
        mov     %edi, gAfterCall + 8
        mov     %ebp, gAfterCall + 12
        mov     %esp, gAfterCall + 16
        mov     gFoundationEsp, %esp
        pop     %edi
        pop     %esi
        pop     %ebx
        pop     %ebp
        ret

// LocatePpi as the module calls it (cdecl, five arguments). The service runs
// on the foundation's service stack, so the module's stack shows only what the
// module itself pushed.
        .globl LocatePpiService
LocatePpiService:
        mov     %esp, %eax
        mov     $ServiceStackTop, %esp
        push    %eax
        push    20(%eax)
        push    16(%eax)
        push    12(%eax)
        push    8(%eax)
        push    4(%eax)
        call    LocatePpiOnServiceStack
        add     $20, %esp
        pop     %esp
        ret

// InstallPpi as a PEIM calls it (cdecl, two arguments), on the service stack.
        .globl InstallPpiService
InstallPpiService:
        mov     %esp, %eax
        mov     $ServiceStackTop, %esp
        push    %eax
        push    8(%eax)
        push    4(%eax)
        call    InstallPpiOnServiceStack
        add     $8, %esp
        pop     %esp
        ret

// The debug task: entered through the task gate of vector 1 with the
// interrupted state saved in the foundation's TSS; IRET returns to it.
        .globl DebugTaskEntry
DebugTaskEntry:
        call    OnDebugEvent
        iret
        jmp     DebugTaskEntry

// The double-fault task: entered through the task gate of vector 8 on a
// stack of its own (the faulting one may be past its end); it ends the run.
        .globl DoubleFaultTaskEntry
DoubleFaultTaskEntry:
        call    OnDoubleFault
5:      hlt
        jmp     5b

// Every other exception: report the vector and the faulting address, end the run.
        .macro FAULT_STUB vector, has_code
        .globl FaultStub\vector
FaultStub\vector:
        .if \has_code == 0
        push    $0
        .endif
        push    $\vector
        jmp     FaultCommon
        .endm
        FAULT_STUB 0, 0
        FAULT_STUB 2, 0
        FAULT_STUB 3, 0
        FAULT_STUB 4, 0
        FAULT_STUB 5, 0
        FAULT_STUB 6, 0
        FAULT_STUB 7, 0
        FAULT_STUB 10, 1
        FAULT_STUB 11, 1
        FAULT_STUB 12, 1
        FAULT_STUB 13, 1
        FAULT_STUB 14, 1
        FAULT_STUB 16, 0
        FAULT_STUB 17, 1
        FAULT_STUB 18, 0
        FAULT_STUB 19, 0
FaultCommon:
        mov     $ServiceStackTop, %eax
        xchg    %eax, %esp
        push    %eax                       // points to vector, code, EIP, CS, EFLAGS
        call    OnFault
3:      hlt
        jmp     3b

// The foundation's and the services' stacks: never cleared, never copied.
        .section .noinit, "aw", @nobits
        .balign 16
        .space  16384
FoundationStackTop:
        .space  8192
ServiceStackTop:

        .bss
        .balign 4
        .globl gFoundationEsp
gFoundationEsp:
        .long   0
        .globl gAfterCall
gAfterCall:
        .space  20
