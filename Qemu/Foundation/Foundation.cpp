// The core of the PEI foundation that runs the module on QEMU, entered from
// the ROM (RomMain.cpp) or as a multiboot kernel (MultibootMain.cpp): it lays
// out the platform records, moves ECAM to the module's PcdPcieBase, serves a
// PEI services table with a PPI database, and calls PEIMs; a debug task
// watches the module's SerialWrite and HaltProcessor through the debug
// registers, as a debugger would. Afterwards it reads the hardware state back
// from QEMU's devices and reports it on the debug console, then ends QEMU.
#include "Foundation.h"

#include "Hardware.h"
#include "Layout/Guids.h"
#include "Pi/PeiServices.h"

#define PCIE_BASE 0xE0000000u
#define STACK_PAINT 0xA5C3E1F7u
#define SERVICE_SLOTS 28u             // InstallPpi ... FreePages
#define INSTALL_PPI_SLOT 0u
#define LOCATE_PPI_SLOT 2u
#define PPI_DATABASE_SIZE 16u

extern "C" UINT32 CallModuleEntry(UINT32 Entry, UINT32 FileHandle, UINT32 PeiServices, UINT32 StackTop);
extern "C" EFI_STATUS LocatePpiService();
extern "C" EFI_STATUS InstallPpiService();
extern "C" UINT32 gAfterCall[5];  // EBX, ESI, EDI, EBP, ESP after the entry returned

FOUNDATION_OPTIONS gOptions;
UINT64 gEntryTsc, gReturnTsc;

namespace {

struct SERVICES_TABLE {
  EFI_TABLE_HEADER Hdr;
  void *Slots[SERVICE_SLOTS];
};

alignas(4096) UINT8 mAnchorPage[4096];  // seen at 0xFED00000
alignas(4096) UINT8 mWindowPage[4096];  // seen at 0xFED08000
alignas(16) UINT8 mPlatformData[0x100];
alignas(16) UINT8 mPlatformConfig[0x100];
alignas(16) UINT8 mBusInfoPpi[16];
EFI_PEI_PPI_DESCRIPTOR mBusInfoDescriptor;
SERVICES_TABLE mServices;
const SERVICES_TABLE *mServicesPointer = &mServices;
alignas(16) UINT32 mModuleStack[16384 / 4];

const GUID_BYTES kBusInfoPpiGuid = GuidBytes(gBusInfoPpiGuid);
const EFI_PEI_PPI_DESCRIPTOR *mPpis[PPI_DATABASE_SIZE];
UINT32 mPpiCount;

UINT32 mSinkAddress, mHaltAddress;
UINT32 mReturnSlot;  // where the entry's return address sits on the module stack

UINT32 ModuleStackTop() { return reinterpret_cast<UINT32>(mModuleStack + sizeof mModuleStack / 4); }

}  // namespace

void PrintGuid(const UINT8 *Guid) {
  const int Order[16] = {3, 2, 1, 0, -1, 5, 4, -1, 7, 6, -1, 8, 9, -1, 10, 11};
  for (int Index : Order) {
    if (Index < 0) {
      PrintChar('-');
      continue;
    }
    PrintChar("0123456789ABCDEF"[Guid[Index] >> 4]);
    PrintChar("0123456789ABCDEF"[Guid[Index] & 0xF]);
  }
  for (int Index = 12; Index < 16; Index++) {
    PrintChar("0123456789ABCDEF"[Guid[Index] >> 4]);
    PrintChar("0123456789ABCDEF"[Guid[Index] & 0xF]);
  }
}

namespace {

UINT32 DeepestStackUse() {
  const UINT32 *Word = mModuleStack;
  while (reinterpret_cast<UINT32>(Word) < mReturnSlot && *Word == STACK_PAINT) {
    Word++;
  }
  return mReturnSlot - reinterpret_cast<UINT32>(Word);
}

void ReportUart(const char *Name, UINT16 Base) {
  const UINT8 LineControl = InByte(Base + 3);
  OutByte(Base + 3, LineControl | 0x80);
  const UINT8 Low = InByte(Base + 0);
  const UINT8 High = InByte(Base + 1);
  OutByte(Base + 3, LineControl);
  Print("state ");
  Print(Name);
  Print(" ");
  PrintHex(LineControl, 2);
  Print(" ");
  PrintHex(Low, 2);
  Print(" ");
  PrintHex(High, 2);
  Print("\n");
}

}  // namespace

void ReportWord(const char *Name, UINT32 Value) {
  Print(Name);
  Print(" ");
  PrintHex(Value, 8);
  Print("\n");
}

// The hardware state after the run, read back from the machine's devices,
// and the completion marker; then QEMU ends.
[[noreturn]] void Finish(const char *Outcome) {
  Print("outcome ");
  Print(Outcome);
  Print("\nstack ");
  PrintDecimal(DeepestStackUse());
  Print("\n");
  ReportUart("com1", 0x3F8);
  ReportUart("com2", 0x2F8);
  ReportWord("state lpc40", PciRead32(0, 31, 0, 0x40));
  ReportWord("state lpc50", PciRead32(0, 31, 0, 0x50));
  ReportWord("state lpc80", PciRead32(0, 31, 0, 0x80));
  ReportWord("state window88", *reinterpret_cast<volatile UINT32 *>(mWindowPage + 0x88));
  ReportWord("state base22", PciRead32(gOptions.Bus, 22, 0, 0x10));
  ReportWord("state base23", PciRead32(gOptions.Bus, 23, 0, 0x24));
  ReportWord("state base24", PciRead32(gOptions.Bus, 24, 0, 0x24));
  // As later firmware would: memory decode on for each device on bus 0 whose
  // base register now holds an address (a device left at 0 would answer there).
  // First a marker in QEMU's trace: 0 into 00:1F.0 register 0x44 (0 at reset,
  // never the module's), after which no write is the module's.
  PciWrite32(0, 31, 0, 0x44, 0);
  const UINT32 Devices[3] = {22, 23, 24};
  for (const UINT32 Device : Devices) {
    if (PciRead32(0, Device, 0, Device == 22 ? 0x10 : 0x24) != 0) {
      PciWrite32(0, Device, 0, 0x04, PciRead32(0, Device, 0, 0x04) | 0x2u);
    }
  }
  ReportWord("device edu", *reinterpret_cast<volatile UINT32 *>(0xF0100000u));
  ReportWord("device ahci23", *reinterpret_cast<volatile UINT32 *>(0xF0200010u));
  ReportWord("device ahci24", *reinterpret_cast<volatile UINT32 *>(0xF0300010u));
  Print("foundation done\n");
  ExitQemu(0);
}

[[noreturn]] void Fail(const char *Text, UINT32 Value) {
  Print("error ");
  Print(Text);
  Print(" ");
  PrintHex(Value, 8);
  Print("\n");
  Finish("failed");
}

namespace {

template <UINT32 Slot>
EFI_STATUS EFIAPI UnexpectedService() {
  Print("error unexpected service ");
  PrintDecimal(Slot);
  Print("\n");
  Finish("failed");
}

template <UINT32... Slots>
void FillServiceSlots(void **Table) {
  ((Table[Slots] = reinterpret_cast<void *>(&UnexpectedService<Slots>)), ...);
}

}  // namespace

void BuildServicesTable() {
  mServices.Hdr.Signature = PEI_SERVICES_SIGNATURE;
  mServices.Hdr.Revision = (1u << 16) | 70u;
  mServices.Hdr.HeaderSize = sizeof mServices;
  FillServiceSlots<0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25,
                   26, 27>(mServices.Slots);
  mServices.Slots[INSTALL_PPI_SLOT] = reinterpret_cast<void *>(&InstallPpiService);
  mServices.Slots[LOCATE_PPI_SLOT] = reinterpret_cast<void *>(&LocatePpiService);
}

const void *PeiServicesPointer() { return &mServicesPointer; }
const EFI_PEI_PPI_DESCRIPTOR *BusInfoDescriptor() { return &mBusInfoDescriptor; }

void RecordPpi(const EFI_PEI_PPI_DESCRIPTOR *Descriptor) {
  if (mPpiCount == PPI_DATABASE_SIZE) {
    Fail("PPI database full", mPpiCount);
  }
  mPpis[mPpiCount++] = Descriptor;
}

BOOLEAN PpiInstalled(const UINT8 *Guid, void *) {
  for (UINT32 Index = 0; Index < mPpiCount; Index++) {
    if (SameGuid(Guid, reinterpret_cast<const UINT8 *>(mPpis[Index]->Guid))) {
      return true;
    }
  }
  return false;
}

// The records earlier firmware leaves, and the decode state the board starts in.
void PreparePlatform() {
  const UINT32 Data = reinterpret_cast<UINT32>(mPlatformData);
  const UINT32 Config = reinterpret_cast<UINT32>(mPlatformConfig);
  memcpy(mAnchorPage + 0x148, &Data, 4);
  memcpy(mPlatformData + 0x20, &Config, 4);
  mPlatformConfig[0x43] = gOptions.DivisorCode;
  mBusInfoPpi[0] = 1;  // revision
  mBusInfoPpi[1] = gOptions.Bus;
  mBusInfoDescriptor = {EFI_PEI_PPI_DESCRIPTOR_PPI | EFI_PEI_PPI_DESCRIPTOR_TERMINATE_LIST, &gBusInfoPpiGuid, mBusInfoPpi};

  PciWrite32(0, 0, 0, 0x64, 0);  // PCIEXBAR: 256 MiB of ECAM at PcdPcieBase
  PciWrite32(0, 0, 0, 0x60, PCIE_BASE | 1u);
  PciWrite32(0, 31, 0, 0x40, gOptions.Reg40);
  PciWrite32(0, 31, 0, 0x80, 0);  // SeaBIOS leaves 0x00030000 here; the board starts at 0
  const UINT32 Bars[3][2] = {{22, 0x10}, {23, 0x24}, {24, 0x24}};
  for (const auto &Bar : Bars) {
    PciWrite32(0, Bar[0], 0, Bar[1], 0);
  }
}


extern "C" EFI_STATUS LocatePpiOnServiceStack(const void *PeiServices, const UINT8 *Guid, UINTN Instance,
                                              EFI_PEI_PPI_DESCRIPTOR **Descriptor, void **Ppi) {
  if (PeiServices != &mServicesPointer || Guid == nullptr || Ppi == nullptr) {
    Fail("LocatePpi called with a bad pointer", reinterpret_cast<UINT32>(Guid));
  }
  EFI_STATUS Status = EFI_NOT_FOUND;
  if (gOptions.Ppi == PPI_FAILS && SameGuid(Guid, kBusInfoPpiGuid.Bytes)) {
    Status = gOptions.PpiStatus;
  } else {
    // Instance N is the N+1-th installed descriptor with this GUID, in the order installed.
    UINTN Seen = 0;
    for (UINT32 Index = 0; Index < mPpiCount && Status == EFI_NOT_FOUND; Index++) {
      if (SameGuid(Guid, reinterpret_cast<const UINT8 *>(mPpis[Index]->Guid)) && Seen++ == Instance) {
        Status = EFI_SUCCESS;
        *Ppi = mPpis[Index]->Ppi;
        if (Descriptor != nullptr) {
          *Descriptor = const_cast<EFI_PEI_PPI_DESCRIPTOR *>(mPpis[Index]);
        }
      }
    }
  }
  Print("locateppi ");
  PrintGuid(Guid);
  Print(" ");
  PrintHex(Status, 8);
  Print("\n");
  return Status;
}

// InstallPpi: a list of descriptors, the last with the terminate flag.
extern "C" EFI_STATUS InstallPpiOnServiceStack(const void *PeiServices, const EFI_PEI_PPI_DESCRIPTOR *List) {
  if (PeiServices != &mServicesPointer || List == nullptr) {
    Fail("InstallPpi called with a bad pointer", reinterpret_cast<UINT32>(List));
  }
  for (UINT32 Count = 0;; Count++, List++) {
    if (Count == PPI_DATABASE_SIZE || (List->Flags & EFI_PEI_PPI_DESCRIPTOR_PPI) == 0 || List->Guid == nullptr) {
      Print("installppi invalid\n");
      return EFI_INVALID_PARAMETER;
    }
    RecordPpi(List);
    Print("installppi ");
    PrintGuid(reinterpret_cast<const UINT8 *>(List->Guid));
    Print("\n");
    if ((List->Flags & EFI_PEI_PPI_DESCRIPTOR_TERMINATE_LIST) != 0) {
      return EFI_SUCCESS;
    }
  }
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
    if (Length > 4096 || Buffer >= 0x04000000u || Length > 0x04000000u - Buffer) {
      Fail("SerialWrite given a bad buffer", Buffer);
    }
    Print("sink ");
    for (UINT32 Index = 0; Index < Length; Index++) {
      const UINT8 Byte = reinterpret_cast<const UINT8 *>(Buffer)[Index];
      PrintChar("0123456789ABCDEF"[Byte >> 4]);
      PrintChar("0123456789ABCDEF"[Byte & 0xF]);
    }
    Print("\n");
    EnableBreakpoint(0, false);  // step over the breakpoint, then arm it again
    Task.Eflags |= EFLAGS_TF;
    return;
  }
  if (Task.Eip == mHaltAddress) {
    Print("halt\n");
    if (!gOptions.ReleaseHalts) {
      Finish("halted");
    }
    // End the halt as a debugger's "return" does: back to the caller.
    Print("release\n");
    Task.Eip = *reinterpret_cast<const UINT32 *>(Task.Esp);
    Task.Esp += 4;
    return;
  }
  Fail("debug exception at", Task.Eip);
}

extern "C" void OnFault(const UINT32 *Frame) {
  Print("error processor exception ");
  PrintDecimal(Frame[0]);
  Print(" code ");
  PrintHex(Frame[1], 8);
  Fail("at", Frame[2]);
}


void PrepareMachine() {
  EnableIdentityPaging(reinterpret_cast<UINT32>(mAnchorPage), reinterpret_cast<UINT32>(mWindowPage));
  InstallDescriptorTables();  // the debug task takes the page directory from CR3
  PreparePlatform();
  BuildServicesTable();
}

UINT32 CallPeim(UINT32 Entry, UINT32 WatchBase) {
  mSinkAddress = WatchBase != 0 && gOptions.SinkRva != 0 ? WatchBase + gOptions.SinkRva : 0;
  mHaltAddress = WatchBase != 0 && gOptions.HaltRva != 0 ? WatchBase + gOptions.HaltRva : 0;
  SetBreakpoints(mSinkAddress, mHaltAddress);
  const UINT32 StackTop = ModuleStackTop();
  mReturnSlot = StackTop - 12;  // two arguments and the return address
  for (UINT32 &Word : mModuleStack) {
    Word = STACK_PAINT;
  }
  gEntryTsc = ReadTsc();
  const UINT32 Status = CallModuleEntry(Entry, 0, reinterpret_cast<UINT32>(&mServicesPointer), StackTop);
  gReturnTsc = ReadTsc();
  SetBreakpoints(0, 0);
  const UINT32 Expected[5] = {0x0B0B0B0Bu, 0x51515151u, 0xD1D1D1D1u, 0xB9B9B9B9u, StackTop - 8};
  const char *const Names[5] = {"EBX", "ESI", "EDI", "EBP", "ESP"};
  for (int Index = 0; Index < 5; Index++) {
    if (gAfterCall[Index] != Expected[Index]) {
      Print("error entry changed ");
      Print(Names[Index]);
      Fail("to", gAfterCall[Index]);
    }
  }
  return Status;
}
