#include "Machine.h"

#include "MemoryMap.h"

extern "C" void ReloadSegments();
extern "C" void DebugTaskEntry();
extern "C" void DoubleFaultTaskEntry();
#define DECLARE_FAULT(n) extern "C" void FaultStub##n();
DECLARE_FAULT(0) DECLARE_FAULT(2) DECLARE_FAULT(3) DECLARE_FAULT(4) DECLARE_FAULT(5) DECLARE_FAULT(6)
DECLARE_FAULT(7) DECLARE_FAULT(10) DECLARE_FAULT(11) DECLARE_FAULT(12) DECLARE_FAULT(13)
DECLARE_FAULT(14) DECLARE_FAULT(16) DECLARE_FAULT(17) DECLARE_FAULT(18) DECLARE_FAULT(19)

#define CODE_SELECTOR 0x08u
#define DATA_SELECTOR 0x10u
#define FOUNDATION_TSS_SELECTOR 0x18u
#define DEBUG_TSS_SELECTOR 0x20u
#define DOUBLE_FAULT_TSS_SELECTOR 0x28u

#define CR0_PAGING 0x80000000u
#define CR0_WRITE_PROTECT 0x00010000u  // read-only pages hold in ring 0 too
#define CR4_LARGE_PAGES 0x10u

namespace {

alignas(16) UINT64 mGdt[6];
alignas(16) UINT64 mIdt[32];
TASK_STATE mFoundationTask;
TASK_STATE mDebugTask;
TASK_STATE mDoubleFaultTask;
// Stacks are neither cleared nor copied.
alignas(16) __attribute__((section(".noinit"))) UINT8 mDebugStack[8192];
alignas(16) __attribute__((section(".noinit"))) UINT8 mDoubleFaultStack[2048];

struct __attribute__((packed)) DESCRIPTOR_POINTER {
  UINT16 Limit;
  UINT32 Base;
};

UINT64 SegmentDescriptor(UINT32 Base, UINT32 Limit, UINT8 Access, UINT8 Flags) {
  return (Limit & 0xFFFFull) | (UINT64(Base & 0xFFFFFF) << 16) | (UINT64(Access) << 40) |
         (UINT64((Limit >> 16) & 0xF) << 48) | (UINT64(Flags & 0xF) << 52) | (UINT64(Base >> 24) << 56);
}

UINT64 GateDescriptor(UINT32 Offset, UINT16 Selector, UINT8 Access) {
  return (Offset & 0xFFFFull) | (UINT64(Selector) << 16) | (UINT64(Access) << 40) | (UINT64(Offset >> 16) << 48);
}

void SetInterruptGate(int Vector, void (*Stub)()) {
  mIdt[Vector] = GateDescriptor(reinterpret_cast<UINT32>(Stub), CODE_SELECTOR, 0x8E);
}

// A task that starts at Entry on its own stack, in the flat segments.
void PrepareTask(TASK_STATE &Task, void (*Entry)(), UINT8 *Stack, UINT32 StackSize, UINT32 Cr3) {
  Task.IoMapBase = sizeof(TASK_STATE);
  Task.Cr3 = Cr3;  // a task switch saves no CR3 but loads it
  Task.Eip = reinterpret_cast<UINT32>(Entry);
  Task.Eflags = 0x2;
  Task.Esp = reinterpret_cast<UINT32>(Stack + StackSize);
  Task.Cs = CODE_SELECTOR;
  Task.Ss = Task.Ds = Task.Es = Task.Fs = Task.Gs = DATA_SELECTOR;
}

UINT32 mDr7;    // what DR7 holds
UINT32 mArmed;  // the enables of the breakpoints that have an address

}  // namespace

void EnablePaging() {
  UINT32 Cr4;
  __asm__ volatile("mov %%cr4, %0" : "=r"(Cr4));
  __asm__ volatile("mov %0, %%cr4" : : "r"(Cr4 | CR4_LARGE_PAGES));
  __asm__ volatile("mov %0, %%cr3" : : "r"(gPageDirectory) : "memory");
  UINT32 Cr0;
  __asm__ volatile("mov %%cr0, %0" : "=r"(Cr0));
  __asm__ volatile("mov %0, %%cr0" : : "r"(Cr0 | CR0_PAGING | CR0_WRITE_PROTECT) : "memory");
}

void InstallDescriptorTables() {
  mGdt[0] = 0;
  mGdt[1] = SegmentDescriptor(0, 0xFFFFF, 0x9A, 0xC);  // flat 4 GiB code
  mGdt[2] = SegmentDescriptor(0, 0xFFFFF, 0x92, 0xC);  // flat 4 GiB data
  mGdt[3] = SegmentDescriptor(reinterpret_cast<UINT32>(&mFoundationTask), sizeof(TASK_STATE) - 1, 0x89, 0);
  mGdt[4] = SegmentDescriptor(reinterpret_cast<UINT32>(&mDebugTask), sizeof(TASK_STATE) - 1, 0x89, 0);
  mGdt[5] = SegmentDescriptor(reinterpret_cast<UINT32>(&mDoubleFaultTask), sizeof(TASK_STATE) - 1, 0x89, 0);
  const DESCRIPTOR_POINTER Gdtr = {sizeof mGdt - 1, reinterpret_cast<UINT32>(mGdt)};
  __asm__ volatile("lgdt %0" : : "m"(Gdtr));
  ReloadSegments();

  UINT32 Cr3;
  __asm__ volatile("mov %%cr3, %0" : "=r"(Cr3));
  mFoundationTask.IoMapBase = sizeof(TASK_STATE);
  mFoundationTask.Cr3 = Cr3;
  PrepareTask(mDebugTask, DebugTaskEntry, mDebugStack, sizeof mDebugStack, Cr3);
  PrepareTask(mDoubleFaultTask, DoubleFaultTaskEntry, mDoubleFaultStack, sizeof mDoubleFaultStack, Cr3);
  __asm__ volatile("ltr %w0" : : "r"(FOUNDATION_TSS_SELECTOR));

  SetInterruptGate(0, FaultStub0);
  mIdt[1] = GateDescriptor(0, DEBUG_TSS_SELECTOR, 0x85);
  SetInterruptGate(2, FaultStub2);
  SetInterruptGate(3, FaultStub3);
  SetInterruptGate(4, FaultStub4);
  SetInterruptGate(5, FaultStub5);
  SetInterruptGate(6, FaultStub6);
  SetInterruptGate(7, FaultStub7);
  mIdt[8] = GateDescriptor(0, DOUBLE_FAULT_TSS_SELECTOR, 0x85);
  SetInterruptGate(10, FaultStub10);
  SetInterruptGate(11, FaultStub11);
  SetInterruptGate(12, FaultStub12);
  SetInterruptGate(13, FaultStub13);
  SetInterruptGate(14, FaultStub14);
  SetInterruptGate(16, FaultStub16);
  SetInterruptGate(17, FaultStub17);
  SetInterruptGate(18, FaultStub18);
  SetInterruptGate(19, FaultStub19);
  const DESCRIPTOR_POINTER Idtr = {sizeof mIdt - 1, reinterpret_cast<UINT32>(mIdt)};
  __asm__ volatile("lidt %0" : : "m"(Idtr));
}

TASK_STATE &InterruptedTask() { return mFoundationTask; }

const TASK_STATE &DoubleFaultedTask() {
  return mDoubleFaultTask.Link == DEBUG_TSS_SELECTOR ? mDebugTask : mFoundationTask;
}

// Global enables: a hardware task switch clears the local ones.
void SetBreakpoints(UINT32 Address0, UINT32 Address1) {
  __asm__ volatile("mov %0, %%dr0" : : "r"(Address0));
  __asm__ volatile("mov %0, %%dr1" : : "r"(Address1));
  mArmed = (Address0 != 0 ? 0x2u : 0u) | (Address1 != 0 ? 0x8u : 0u);
  mDr7 = mArmed;
  __asm__ volatile("mov %0, %%dr7" : : "r"(mDr7));
}

void EnableBreakpoint(int Index, bool Enable) {
  const UINT32 Bit = (Index == 0 ? 0x2u : 0x8u) & mArmed;
  mDr7 = Enable ? (mDr7 | Bit) : (mDr7 & ~Bit);
  __asm__ volatile("mov %0, %%dr7" : : "r"(mDr7));
}

UINT32 ReadAndClearDr6() {
  UINT32 Dr6;
  __asm__ volatile("mov %%dr6, %0" : "=r"(Dr6));
  __asm__ volatile("mov %0, %%dr6" : : "r"(0xFFFF0FF0u));
  return Dr6;
}

UINT32 ReadCr2() {
  UINT32 Cr2;
  __asm__ volatile("mov %%cr2, %0" : "=r"(Cr2));
  return Cr2;
}
