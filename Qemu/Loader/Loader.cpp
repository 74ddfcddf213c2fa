// The QEMU PEI loader: plays the part of earlier platform firmware and the
// PEI foundation for one module. It lays out the platform records, moves ECAM
// to the module's PcdPcieBase, builds a PEI services table, loads the PE32
// module handed over as multiboot module 0 and calls its entry point; a
// debug task watches SerialWrite and HaltProcessor through the debug
// registers, as a debugger would. Afterwards it reads the hardware state back
// from QEMU's devices and reports it on the debug console, then ends QEMU.
#include "LoaderHardware.h"
#include "LoaderOptions.h"
#include "PeLoad.h"
#include "VolumeWalk.h"
#include "Layout/Guids.h"
#include "Library/PiLayoutLib.h"
#include "Pi/PeiServices.h"

#define MULTIBOOT_BOOT_MAGIC 0x2BADB002u
#define IMAGE_LOAD_LIMIT 0x00100000u  // largest image laid out at the load base
#define PCIE_BASE 0xE0000000u
#define STACK_PAINT 0xA5C3E1F7u
#define SERVICE_SLOTS 28u             // InstallPpi ... FreePages
#define LOCATE_PPI_SLOT 2u

extern "C" UINT32 CallModuleEntry(UINT32 Entry, UINT32 FileHandle, UINT32 PeiServices, UINT32 StackTop);
extern "C" EFI_STATUS LocatePpiService();
extern "C" UINT32 gAfterCall[5];  // EBX, ESI, EDI, EBP, ESP after the entry returned

namespace {

struct MULTIBOOT_INFO {
  UINT32 Flags, MemLower, MemUpper, BootDevice, CommandLine, ModuleCount, Modules;
};
struct MULTIBOOT_MODULE {
  UINT32 Start, End, Text, Reserved;
};

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

LOADER_OPTIONS mOptions;
UINT32 mSinkAddress, mHaltAddress;
UINT32 mReturnSlot;  // where the entry's return address sits on the module stack

UINT32 ModuleStackTop() { return reinterpret_cast<UINT32>(mModuleStack + sizeof mModuleStack / 4); }

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
  ReportWord("state base22", PciRead32(mOptions.Bus, 22, 0, 0x10));
  ReportWord("state base23", PciRead32(mOptions.Bus, 23, 0, 0x24));
  ReportWord("state base24", PciRead32(mOptions.Bus, 24, 0, 0x24));
  ReportWord("device edu", *reinterpret_cast<volatile UINT32 *>(0xF0100000u));
  ReportWord("device ahci23", *reinterpret_cast<volatile UINT32 *>(0xF0200010u));
  ReportWord("device ahci24", *reinterpret_cast<volatile UINT32 *>(0xF0300010u));
  Print("peiloader done\n");
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

void BuildServicesTable() {
  mServices.Hdr.Signature = PEI_SERVICES_SIGNATURE;
  mServices.Hdr.Revision = (1u << 16) | 70u;
  mServices.Hdr.HeaderSize = sizeof mServices;
  FillServiceSlots<0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25,
                   26, 27>(mServices.Slots);
  mServices.Slots[LOCATE_PPI_SLOT] = reinterpret_cast<void *>(&LocatePpiService);
}

// The records earlier firmware leaves, and the decode state the board starts in.
void PreparePlatform() {
  const UINT32 Data = reinterpret_cast<UINT32>(mPlatformData);
  const UINT32 Config = reinterpret_cast<UINT32>(mPlatformConfig);
  memcpy(mAnchorPage + 0x148, &Data, 4);
  memcpy(mPlatformData + 0x20, &Config, 4);
  mPlatformConfig[0x43] = mOptions.DivisorCode;
  mBusInfoPpi[0] = 1;  // revision
  mBusInfoPpi[1] = mOptions.Bus;
  mBusInfoDescriptor = {0x80000010u, &gBusInfoPpiGuid, mBusInfoPpi};

  PciWrite32(0, 0, 0, 0x64, 0);  // PCIEXBAR: 256 MiB of ECAM at PcdPcieBase
  PciWrite32(0, 0, 0, 0x60, PCIE_BASE | 1u);
  PciWrite32(0, 31, 0, 0x40, mOptions.Reg40);
  PciWrite32(0, 31, 0, 0x80, 0);  // SeaBIOS leaves 0x00030000 here; the board starts at 0
  const UINT32 Bars[3][2] = {{22, 0x10}, {23, 0x24}, {24, 0x24}};
  for (const auto &Bar : Bars) {
    PciWrite32(0, Bar[0], 0, Bar[1], 0);
  }
}

// The dispatcher's answer for a PUSH: only BUS_INFO_PPI is ever installed.
BOOLEAN BusInfoPpiInstalled(const UINT8 *Guid, void *) {
  return mOptions.Ppi == PPI_INSTALLED && SameGuid(Guid, kBusInfoPpiGuid.Bytes);
}

}  // namespace

extern "C" EFI_STATUS LocatePpiOnServiceStack(const void *PeiServices, const UINT8 *Guid, UINTN Instance,
                                              EFI_PEI_PPI_DESCRIPTOR **Descriptor, void **Ppi) {
  if (PeiServices != &mServicesPointer || Guid == nullptr || Ppi == nullptr) {
    Fail("LocatePpi called with a bad pointer", reinterpret_cast<UINT32>(Guid));
  }
  EFI_STATUS Status = EFI_NOT_FOUND;
  if (mOptions.Ppi == PPI_FAILS) {
    Status = mOptions.PpiStatus;
  } else if (mOptions.Ppi == PPI_INSTALLED && Instance == 0 && SameGuid(Guid, kBusInfoPpiGuid.Bytes)) {
    Status = EFI_SUCCESS;
    *Ppi = mBusInfoPpi;
    if (Descriptor != nullptr) {
      *Descriptor = &mBusInfoDescriptor;
    }
  }
  Print("locateppi ");
  PrintGuid(Guid);
  Print(" ");
  PrintHex(Status, 8);
  Print("\n");
  return Status;
}

// Runs in the debug task: the interrupted state is in the loader's TSS.
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
    if (!mOptions.ReleaseHalts) {
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

extern "C" void LoaderMain(UINT32 Magic, const MULTIBOOT_INFO *Info) {
  Print("peiloader start\n");
  if (Magic != MULTIBOOT_BOOT_MAGIC || (Info->Flags & 0x8u) == 0 || Info->ModuleCount < 1) {
    Print("error no multiboot module\n");
    ExitQemu(0);
  }
  const char *CommandLine = (Info->Flags & 0x4u) != 0 ? reinterpret_cast<const char *>(Info->CommandLine) : "";
  if (const char *Error = ParseLoaderOptions(CommandLine, mOptions)) {
    Print("error ");
    Print(Error);
    Print("\n");
    ExitQemu(0);
  }
  EnableIdentityPaging(reinterpret_cast<UINT32>(mAnchorPage), reinterpret_cast<UINT32>(mWindowPage));
  InstallDescriptorTables();  // the debug task takes the page directory from CR3
  PreparePlatform();
  BuildServicesTable();

  const auto *Module = reinterpret_cast<const MULTIBOOT_MODULE *>(Info->Modules);
  const UINT32 LoadBase = mOptions.LoadBase;
  if (Module->End <= Module->Start || (Module->End > LoadBase && Module->Start < LoadBase + IMAGE_LOAD_LIMIT)) {
    Fail("module file overlaps the load area", Module->Start);
  }
  // A volume is walked as the PEI foundation walks the boot firmware volume:
  // its PEIM is called only when its dependency expression holds.
  const UINT8 *Pe32 = reinterpret_cast<const UINT8 *>(Module->Start);
  UINT32 Pe32Size = Module->End - Module->Start;
  if (LooksLikeVolume(Pe32, Pe32Size)) {
    VOLUME_PEIM Peim;
    if (const char *Error = FindPeimInVolume(Pe32, Pe32Size, Peim)) {
      Fail(Error, 0);
    }
    Print("volume peim found\n");
    if (Peim.Depex != nullptr) {
      LAYOUT_FAULT Fault;
      const INT32 Holds = EvaluateDepex(Peim.Depex, Peim.DepexSize, BusInfoPpiInstalled, nullptr, nullptr, Fault);
      if (Holds < 0) {
        Fail(LayoutCheckText(Fault.Check), Fault.At);
      }
      if (Holds == 0) {
        Finish("notdispatched");
      }
    }
    Pe32 = Peim.Pe32;
    Pe32Size = Peim.Pe32Size;
  }
  LOADED_IMAGE Image;
  if (const char *Error = LoadPeImage(Pe32, Pe32Size, LoadBase, IMAGE_LOAD_LIMIT, Image)) {
    Fail(Error, 0);
  }
  Print("image ");
  PrintHex(Image.Base, 8);
  Print(" ");
  PrintHex(Image.Size, 8);
  Print(" ");
  PrintHex(Image.Entry, 8);
  Print("\n");

  mSinkAddress = mOptions.SinkRva != 0 ? Image.Base + mOptions.SinkRva : 0;
  mHaltAddress = mOptions.HaltRva != 0 ? Image.Base + mOptions.HaltRva : 0;
  SetBreakpoints(mSinkAddress, mHaltAddress);

  const UINT32 StackTop = ModuleStackTop();
  mReturnSlot = StackTop - 12;  // two arguments and the return address
  for (UINT32 &Word : mModuleStack) {
    Word = STACK_PAINT;
  }
  const UINT32 Status = CallModuleEntry(Image.Entry, 0, reinterpret_cast<UINT32>(&mServicesPointer), StackTop);
  SetBreakpoints(0, 0);
  ReportWord("return", Status);
  const UINT32 Expected[5] = {0x0B0B0B0Bu, 0x51515151u, 0xD1D1D1D1u, 0xB9B9B9B9u, StackTop - 8};
  const char *const Names[5] = {"EBX", "ESI", "EDI", "EBP", "ESP"};
  for (int Index = 0; Index < 5; Index++) {
    if (gAfterCall[Index] != Expected[Index]) {
      Print("error entry changed ");
      Print(Names[Index]);
      Fail("to", gAfterCall[Index]);
    }
  }
  Print("registers preserved\n");
  Finish("returned");
}
