// Calling a PEIM as a PEI foundation does, and watching it as a debugger
// would: the module's SerialWrite and HaltProcessor through the debug
// registers (the debug task), its stack painted to measure it, a guard below
// that stack, flash that takes no store, and every other processor exception
// reported by name.
#include "Console.h"
#include "Foundation.h"
#include "FoundationProtocol.h"
#include "Machine.h"
#include "MemoryMap.h"
#include "PortIo.h"

#define STACK_PAINT 0xA5C3E1F7u
#define STACK_PAINT_GUARD 0x5A3C1E08u  // the word below the paint: still there, the paint was deep enough
#define SINK_BUFFER_LIMIT 4096u
#define RAM_TOP 0x04000000u  // QEMU's -m 64M

extern "C" UINT32 CallModuleEntry(UINT32 Entry, UINT32 FileHandle, UINT32 PeiServices, UINT32 StackTop);
extern "C" UINT32 gAfterCall[5];  // EBX, ESI, EDI, EBP, ESP after the entry returned

UINT64 gEntryTsc, gReturnTsc;

namespace {

UINT32 mSinkAddress, mHaltAddress;
UINT32 mReturnSlot;               // where the entry's return address sits on the module stack
const UINT8 *mRunningPeim;        // the PEIM whose entry runs, or null

void PrintError(const char *Text) {
  Print(foundation_protocol::kErrorKey);
  Print(" ");
  Print(Text);
}

// Ends an error line begun with PrintError ("Text 0x0000001F") and the run.
[[noreturn]] void EndError(const char *Text, UINT32 Value) {
  Print(Text);
  PrintHex(Value, 8);
  Print("\n");
  Finish(foundation_protocol::kOutcomeFailed, foundation_protocol::kExitFoundationError);
}

// "PEIM <GUID>" or "the foundation": who ran when a fault came.
void PrintWhoRan() {
  if (mRunningPeim == nullptr) {
    Print("the foundation");
    return;
  }
  Print("PEIM ");
  PrintGuid(mRunningPeim);
}

}  // namespace

bool DeepestStackUse(UINT32 &Bytes) {
  Bytes = 0;
  if (mReturnSlot == 0) {
    return true;  // no PEIM has run: nothing was used
  }
  const UINT32 *const Bottom = reinterpret_cast<const UINT32 *>(mReturnSlot - STACK_MEASURED);
  if (Bottom[-1] != STACK_PAINT_GUARD) {
    Bytes = STACK_MEASURED;
    return false;
  }
  const UINT32 *Word = Bottom;
  while (reinterpret_cast<UINT32>(Word) < mReturnSlot && *Word == STACK_PAINT) {
    Word++;
  }
  Bytes = mReturnSlot - reinterpret_cast<UINT32>(Word);
  return true;
}

UINT32 CallPeim(const UINT8 *Name, UINT32 Entry, UINT32 WatchBase) {
  mSinkAddress = WatchBase != 0 && gOptions.SinkRva != 0 ? WatchBase + gOptions.SinkRva : 0;
  mHaltAddress = WatchBase != 0 && gOptions.HaltRva != 0 ? WatchBase + gOptions.HaltRva : 0;
  SetBreakpoints(mSinkAddress, mHaltAddress);
  const UINT32 StackTop = MODULE_STACK_BASE + MODULE_STACK_SIZE;
  mReturnSlot = StackTop - 12;  // two arguments and the return address
  // Only the words the measurement reads are painted (a step of rep stosl
  // each), with the guard below them.
  UINT32 *Bottom = reinterpret_cast<UINT32 *>(mReturnSlot - STACK_MEASURED);
  Bottom[-1] = STACK_PAINT_GUARD;
  UINT32 Count = STACK_MEASURED / 4;
  __asm__ volatile("rep stosl" : "+D"(Bottom), "+c"(Count) : "a"(STACK_PAINT) : "memory");
  mRunningPeim = Name;
  gEntryTsc = ReadTsc();
  const UINT32 Status = CallModuleEntry(Entry, 0, reinterpret_cast<UINT32>(PeiServicesPointer()), StackTop);
  gReturnTsc = ReadTsc();
  mRunningPeim = nullptr;
  SetBreakpoints(0, 0);
  const UINT32 Expected[5] = {0x0B0B0B0Bu, 0x51515151u, 0xD1D1D1D1u, 0xB9B9B9B9u, StackTop - 8};
  const char *const Names[5] = {"EBX", "ESI", "EDI", "EBP", "ESP"};
  for (int Index = 0; Index < 5; Index++) {
    if (gAfterCall[Index] != Expected[Index]) {
      PrintError("entry changed ");
      Print(Names[Index]);
      EndError(" to ", gAfterCall[Index]);
    }
  }
  return Status;
}

// Runs in the debug task: the interrupted state is in the foundation's TSS.
extern "C" void OnDebugEvent() {
  TASK_STATE &Task = InterruptedTask();
  const UINT32 Dr6 = ReadAndClearDr6();
  if ((Dr6 & DR6_SINGLE_STEP) != 0) {  // stepped past the sink's first instruction
    Task.Eflags &= ~EFLAGS_TF;
    EnableBreakpoint(0, true);
    return;
  }
  if (Task.Eip == mSinkAddress) {
    const UINT32 Buffer = *reinterpret_cast<const UINT32 *>(Task.Esp + 4);
    const UINT32 Length = *reinterpret_cast<const UINT32 *>(Task.Esp + 8);
    if (Length > SINK_BUFFER_LIMIT || Buffer >= RAM_TOP || Length > RAM_TOP - Buffer) {
      Fail("SerialWrite given a bad buffer", Buffer);
    }
    Print(foundation_protocol::kSinkLineKey);
    Print(" ");
    PrintHexBytes(reinterpret_cast<const UINT8 *>(Buffer), Length);
    Print("\n");
    EnableBreakpoint(0, false);  // step over the breakpoint, then arm it again
    Task.Eflags |= EFLAGS_TF;
    return;
  }
  if (Task.Eip == mHaltAddress) {
    Print(foundation_protocol::kHaltLine);
    Print("\n");
    if (!gOptions.ReleaseHalts) {
      Finish(foundation_protocol::kOutcomeHalted, foundation_protocol::kExitModuleFailed);
    }
    // End the halt as a debugger's "return" does: back to the caller.
    Print(foundation_protocol::kReleaseLine);
    Print("\n");
    Task.Eip = *reinterpret_cast<const UINT32 *>(Task.Esp);
    Task.Esp += 4;
    return;
  }
  Fail("debug exception at", Task.Eip);
}

// Every exception but the debug one and the double fault, on the service
// stack: Frame holds the vector, the error code, EIP, CS and EFLAGS.
extern "C" void OnFault(const UINT32 *Frame) {
  const UINT32 Vector = Frame[0], Code = Frame[1], Eip = Frame[2];
  if (Vector == VECTOR_PAGE_FAULT) {
    const UINT32 Address = ReadCr2();
    if ((Code & PAGE_FAULT_WRITE) != 0 && InFlash(Address)) {
      // Flash is no RAM: a store there is a command to the flash part, at
      // best ignored, and whatever relies on it is broken.
      PrintError("");
      PrintWhoRan();
      Print(" stored into flash at ");
      PrintHex(Address, 8);
      EndError(", instruction at ", Eip);
    }
    if (InStackGuard(Address)) {
      PrintError("");
      PrintWhoRan();
      Print(" ran off the bottom of its stack at ");
      PrintHex(MODULE_STACK_BASE, 8);
      EndError(", instruction at ", Eip);
    }
  }
  PrintError("processor exception ");
  PrintDecimal(Vector);
  Print(" code ");
  PrintHex(Code, 8);
  EndError(" at ", Eip);
}

// Runs in the double-fault task: a fault while an exception was delivered,
// above all a push onto a stack that ran into the guard below it.
extern "C" void OnDoubleFault() {
  const TASK_STATE &Task = DoubleFaultedTask();
  if (InStackGuard(ReadCr2()) || InStackGuard(Task.Esp - 4)) {
    PrintError("");
    PrintWhoRan();
    Print(" ran off the bottom of its stack at ");
    PrintHex(MODULE_STACK_BASE, 8);
    EndError(", instruction at ", Task.Eip);
  }
  PrintError("double fault, ESP ");
  PrintHex(Task.Esp, 8);
  EndError(" at ", Task.Eip);
}
