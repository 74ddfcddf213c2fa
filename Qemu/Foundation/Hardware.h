// What the PEI foundation does to the machine itself: port I/O, legacy PCI
// configuration access, identity paging, its GDT/TSS/IDT, the debug
// registers, the debug console and the exit device.
#ifndef QEMU_FOUNDATION_HARDWARE_H_
#define QEMU_FOUNDATION_HARDWARE_H_

#include "Base.h"

// 32-bit TSS; the debug task gate saves the interrupted state here.
struct TASK_STATE {
  UINT32 Link, Esp0, Ss0, Esp1, Ss1, Esp2, Ss2, Cr3, Eip, Eflags;
  UINT32 Eax, Ecx, Edx, Ebx, Esp, Ebp, Esi, Edi;
  UINT32 Es, Cs, Ss, Ds, Fs, Gs, Ldt;
  UINT16 Trap, IoMapBase;
};
static_assert(sizeof(TASK_STATE) == 104);

#define EFLAGS_TF 0x100u
#define DR6_SINGLE_STEP 0x4000u

void OutByte(UINT16 Port, UINT8 Value);
void OutWord(UINT16 Port, UINT16 Value);
void OutDword(UINT16 Port, UINT32 Value);
UINT8 InByte(UINT16 Port);
UINT32 InDword(UINT16 Port);

UINT32 PciRead32(UINT32 Bus, UINT32 Device, UINT32 Function, UINT32 Register);
void PciWrite32(UINT32 Bus, UINT32 Device, UINT32 Function, UINT32 Register, UINT32 Value);

// Identity paging of the whole 4 GiB, with the two given 4 KiB pages of the
// foundation's RAM standing in at 0xFED00000 and 0xFED08000.
void EnableIdentityPaging(UINT32 AnchorPage, UINT32 WindowPage);

// GDT with the foundation's TSS and the debug TSS, an IDT whose vector 1 is a
// task gate to the debug task and whose other exceptions end the run.
void InstallDescriptorTables();
TASK_STATE &InterruptedTask();  // the state the debug task returns to

// Execute breakpoints 0 and 1 (0: no breakpoint); each can be set apart.
void SetBreakpoints(UINT32 Address0, UINT32 Address1);
void EnableBreakpoint(int Index, bool Enable);
UINT32 ReadAndClearDr6();

// The time stamp counter: under QEMU's -icount shift=0 it counts instructions.
UINT64 ReadTsc();

// Debug console (port 0xE9).
void Print(const char *Text);
void PrintHex(UINT32 Value, int Digits);
void PrintDecimal(UINT32 Value);
void PrintChar(char Character);

// Ends QEMU through isa-debug-exit.
[[noreturn]] void ExitQemu(UINT8 Code);

extern "C" void *memset(void *Destination, int Value, __SIZE_TYPE__ Size);
extern "C" void *memcpy(void *Destination, const void *Source, __SIZE_TYPE__ Size);

#endif  // QEMU_FOUNDATION_HARDWARE_H_
