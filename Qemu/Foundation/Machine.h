// What the foundation sets up in the processor itself: paging, its GDT with
// three tasks (its own, the debug task and the double-fault task), the IDT,
// and the debug registers that watch the module.
#ifndef QEMU_FOUNDATION_MACHINE_H_
#define QEMU_FOUNDATION_MACHINE_H_

#include "Base.h"

// 32-bit TSS; a task gate saves the interrupted state in the outgoing task's TSS.
struct TASK_STATE {
  UINT32 Link, Esp0, Ss0, Esp1, Ss1, Esp2, Ss2, Cr3, Eip, Eflags;
  UINT32 Eax, Ecx, Edx, Ebx, Esp, Ebp, Esi, Edi;
  UINT32 Es, Cs, Ss, Ds, Fs, Gs, Ldt;
  UINT16 Trap, IoMapBase;
};
static_assert(sizeof(TASK_STATE) == 104);

#define EFLAGS_TF 0x100u
#define DR6_SINGLE_STEP 0x4000u
#define PAGE_FAULT_WRITE 0x2u  // in a page fault's error code: the access was a store
#define VECTOR_PAGE_FAULT 14u

// Paging with the tables built at build time (MemoryMap.h, PageTables.S);
// stores are checked in every mode.
void EnablePaging();

// GDT with the three tasks; an IDT whose vector 1 is a task gate to the debug
// task, vector 8 one to the double-fault task (a fault while pushing onto a
// stack that ran off its end needs a stack of its own), and whose other
// exceptions end the run.
void InstallDescriptorTables();
TASK_STATE &InterruptedTask();  // the state the debug task returns to
// The state a double fault interrupted: the task its TSS links back to.
const TASK_STATE &DoubleFaultedTask();

// Execute breakpoints 0 and 1 (0: no breakpoint); each can be set apart.
void SetBreakpoints(UINT32 Address0, UINT32 Address1);
void EnableBreakpoint(int Index, bool Enable);
UINT32 ReadAndClearDr6();
UINT32 ReadCr2();  // the address a page fault was about

#endif  // QEMU_FOUNDATION_MACHINE_H_
