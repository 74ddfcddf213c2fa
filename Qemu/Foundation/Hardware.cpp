#include "Hardware.h"

extern "C" void ReloadSegments();
extern "C" void DebugTaskEntry();
#define DECLARE_FAULT(n) extern "C" void FaultStub##n();
DECLARE_FAULT(0) DECLARE_FAULT(2) DECLARE_FAULT(3) DECLARE_FAULT(4) DECLARE_FAULT(5) DECLARE_FAULT(6)
DECLARE_FAULT(7) DECLARE_FAULT(8) DECLARE_FAULT(10) DECLARE_FAULT(11) DECLARE_FAULT(12) DECLARE_FAULT(13)
DECLARE_FAULT(14) DECLARE_FAULT(16) DECLARE_FAULT(17) DECLARE_FAULT(18) DECLARE_FAULT(19)

#define DEBUG_CONSOLE_PORT 0xE9u
#define DEBUG_EXIT_PORT 0xF4u
#define CODE_SELECTOR 0x08u
#define DATA_SELECTOR 0x10u
#define LOADER_TSS_SELECTOR 0x18u
#define DEBUG_TSS_SELECTOR 0x20u

namespace {

alignas(4096) UINT32 mPageDirectory[1024];
alignas(4096) UINT32 mHighPageTable[1024];  // 0xFEC00000-0xFEFFFFFF in 4 KiB pages
alignas(16) UINT64 mGdt[5];
alignas(16) UINT64 mIdt[32];
TASK_STATE mFoundationTask;
TASK_STATE mDebugTask;
alignas(16) UINT8 mDebugStack[8192];

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

UINT32 mDr7;    // what DR7 holds
UINT32 mArmed;  // the enables of the breakpoints that have an address

}  // namespace

void OutByte(UINT16 Port, UINT8 Value) { __asm__ volatile("outb %0, %1" : : "a"(Value), "Nd"(Port)); }
UINT64 ReadTsc() {
  UINT32 Low, High;
  __asm__ volatile("rdtsc" : "=a"(Low), "=d"(High));
  return static_cast<UINT64>(High) << 32 | Low;
}

void OutWord(UINT16 Port, UINT16 Value) { __asm__ volatile("outw %0, %1" : : "a"(Value), "Nd"(Port)); }
void OutDword(UINT16 Port, UINT32 Value) { __asm__ volatile("outl %0, %1" : : "a"(Value), "Nd"(Port)); }
UINT8 InByte(UINT16 Port) {
  UINT8 Value;
  __asm__ volatile("inb %1, %0" : "=a"(Value) : "Nd"(Port));
  return Value;
}
UINT32 InDword(UINT16 Port) {
  UINT32 Value;
  __asm__ volatile("inl %1, %0" : "=a"(Value) : "Nd"(Port));
  return Value;
}

static UINT32 LegacyAddress(UINT32 Bus, UINT32 Device, UINT32 Function, UINT32 Register) {
  return 0x80000000u | (Bus << 16) | (Device << 11) | (Function << 8) | (Register & 0xFCu);
}

UINT32 PciRead32(UINT32 Bus, UINT32 Device, UINT32 Function, UINT32 Register) {
  OutDword(0xCF8, LegacyAddress(Bus, Device, Function, Register));
  return InDword(0xCFC);
}

void PciWrite32(UINT32 Bus, UINT32 Device, UINT32 Function, UINT32 Register, UINT32 Value) {
  OutDword(0xCF8, LegacyAddress(Bus, Device, Function, Register));
  OutDword(0xCFC, Value);
}

void EnableIdentityPaging(UINT32 AnchorPage, UINT32 WindowPage) {
  const UINT32 kPresentWritable = 0x3, kLargePage = 0x80, kUncached = 0x18;
  for (UINT32 Index = 0; Index < 1024; Index++) {
    mPageDirectory[Index] = (Index << 22) | kLargePage | kPresentWritable;
    mHighPageTable[Index] = (0xFEC00000u + (Index << 12)) | kUncached | kPresentWritable;
  }
  mHighPageTable[(0xFED00000u - 0xFEC00000u) >> 12] = AnchorPage | kPresentWritable;
  mHighPageTable[(0xFED08000u - 0xFEC00000u) >> 12] = WindowPage | kPresentWritable;
  mPageDirectory[0xFEC00000u >> 22] = reinterpret_cast<UINT32>(mHighPageTable) | kPresentWritable;
  UINT32 Cr4;
  __asm__ volatile("mov %%cr4, %0" : "=r"(Cr4));
  __asm__ volatile("mov %0, %%cr4" : : "r"(Cr4 | 0x10u));  // PSE: 4 MiB pages
  __asm__ volatile("mov %0, %%cr3" : : "r"(mPageDirectory) : "memory");
  UINT32 Cr0;
  __asm__ volatile("mov %%cr0, %0" : "=r"(Cr0));
  __asm__ volatile("mov %0, %%cr0" : : "r"(Cr0 | 0x80000000u) : "memory");
}

void InstallDescriptorTables() {
  mGdt[0] = 0;
  mGdt[1] = SegmentDescriptor(0, 0xFFFFF, 0x9A, 0xC);
  mGdt[2] = SegmentDescriptor(0, 0xFFFFF, 0x92, 0xC);
  mGdt[3] = SegmentDescriptor(reinterpret_cast<UINT32>(&mFoundationTask), sizeof(TASK_STATE) - 1, 0x89, 0);
  mGdt[4] = SegmentDescriptor(reinterpret_cast<UINT32>(&mDebugTask), sizeof(TASK_STATE) - 1, 0x89, 0);
  const DESCRIPTOR_POINTER Gdtr = {sizeof mGdt - 1, reinterpret_cast<UINT32>(mGdt)};
  __asm__ volatile("lgdt %0" : : "m"(Gdtr));
  ReloadSegments();

  mFoundationTask.IoMapBase = sizeof(TASK_STATE);
  mDebugTask.IoMapBase = sizeof(TASK_STATE);
  // A task switch saves no CR3 but loads it: both tasks name the page directory.
  __asm__ volatile("mov %%cr3, %0" : "=r"(mDebugTask.Cr3));
  mFoundationTask.Cr3 = mDebugTask.Cr3;
  mDebugTask.Eip = reinterpret_cast<UINT32>(&DebugTaskEntry);
  mDebugTask.Eflags = 0x2;
  mDebugTask.Esp = reinterpret_cast<UINT32>(mDebugStack + sizeof mDebugStack);
  mDebugTask.Cs = CODE_SELECTOR;
  mDebugTask.Ss = mDebugTask.Ds = mDebugTask.Es = mDebugTask.Fs = mDebugTask.Gs = DATA_SELECTOR;
  __asm__ volatile("ltr %w0" : : "r"(LOADER_TSS_SELECTOR));

  SetInterruptGate(0, FaultStub0);
  mIdt[1] = GateDescriptor(0, DEBUG_TSS_SELECTOR, 0x85);
  SetInterruptGate(2, FaultStub2);
  SetInterruptGate(3, FaultStub3);
  SetInterruptGate(4, FaultStub4);
  SetInterruptGate(5, FaultStub5);
  SetInterruptGate(6, FaultStub6);
  SetInterruptGate(7, FaultStub7);
  SetInterruptGate(8, FaultStub8);
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

void PrintChar(char Character) { OutByte(DEBUG_CONSOLE_PORT, static_cast<UINT8>(Character)); }

void Print(const char *Text) {
  while (*Text != 0) {
    PrintChar(*Text++);
  }
}

void PrintHex(UINT32 Value, int Digits) {
  Print("0x");
  for (int Shift = (Digits - 1) * 4; Shift >= 0; Shift -= 4) {
    PrintChar("0123456789ABCDEF"[(Value >> Shift) & 0xF]);
  }
}

void PrintDecimal(UINT32 Value) {
  char Digits[10];
  int Count = 0;
  do {
    Digits[Count++] = static_cast<char>('0' + Value % 10);
    Value /= 10;
  } while (Value != 0);
  while (Count > 0) {
    PrintChar(Digits[--Count]);
  }
}

void ExitQemu(UINT8 Code) {
  OutDword(DEBUG_EXIT_PORT, Code);
  for (;;) {
    __asm__ volatile("cli; hlt");
  }
}

extern "C" void *memset(void *Destination, int Value, __SIZE_TYPE__ Size) {
  auto *Bytes = static_cast<UINT8 *>(Destination);
  for (__SIZE_TYPE__ Index = 0; Index < Size; Index++) {
    Bytes[Index] = static_cast<UINT8>(Value);
  }
  return Destination;
}

extern "C" void *memcpy(void *Destination, const void *Source, __SIZE_TYPE__ Size) {
  auto *To = static_cast<UINT8 *>(Destination);
  const auto *From = static_cast<const UINT8 *>(Source);
  for (__SIZE_TYPE__ Index = 0; Index < Size; Index++) {
    To[Index] = From[Index];
  }
  return Destination;
}
