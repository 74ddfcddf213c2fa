// The foundation from the ROM: the SEC has copied it to 1 MiB. The boot
// firmware volume is the ROM itself; its PEIMs run in place, in flash, each
// once its dependency expression holds, in passes until one dispatches
// nothing. The options are the ROM's defaults (a raw file in the volume),
// then what QEMU's fw_cfg file opt/socpreinit/options says.
#include "BoardSettingsPpi.h"
#include "FwCfg.h"
#include "Layout/FirmwareFile.h"
#include "Layout/Guids.h"
#include "Layout/Pe32.h"
#include "Library/PiLayoutLib.h"
#include "Foundation.h"
#include "Hardware.h"

#define ROM_VOLUME_BASE 0xFFFF0000u  // the boot firmware volume: the whole 64 KiB ROM
#define ROM_VOLUME_SIZE 0x00010000u
#define MAX_PEIMS 16u
#define OPTIONS_SIZE 256u

namespace {

struct PEIM {
  FILE_INFO File;
  const UINT8 *Depex;  // null: none
  UINT32 DepexSize;
  const UINT8 *Image;  // the PE32 or TE section's image
  UINT32 ImageSize;
  bool Te, Done;
};

const UINT8 *const kRom = reinterpret_cast<const UINT8 *>(ROM_VOLUME_BASE);
PEIM mPeims[MAX_PEIMS];
UINT32 mPeimCount;
char mOptionsText[OPTIONS_SIZE];
UINT64 mResetTsc;  // at the reset vector's first instruction after its jump
BOARD_SETTINGS_PPI mSettings;
EFI_PEI_PPI_DESCRIPTOR mSettingsDescriptor;

void ParseOptions(const char *From) {
  if (const char *Error = ParseFoundationOptions(mOptionsText, gOptions)) {
    Print("error ");
    Print(From);
    Print(": ");
    Print(Error);
    Print("\n");
    ExitQemu(0);
  }
}

// The volume's PEIMs, and the ROM's default options from its raw file.
void ReadVolume() {
  VOLUME_INFO Volume;
  LAYOUT_FAULT Fault;
  if (!CheckVolumeHeader(kRom, ROM_VOLUME_SIZE, Volume, Fault)) {
    Fail(LayoutCheckText(Fault.Check), Fault.Value);
  }
  const GUID_BYTES Options = GuidBytes(gRomOptionsFileGuid);
  UINT32 FileCursor = 0;
  FILE_INFO File;
  while (NextFile(kRom, Volume, FileCursor, File, Fault)) {
    if (File.Type == firmware_file::kTypeRaw && SameGuid(kRom + File.At, Options.Bytes)) {
      const UINT32 Length = File.Size - File.HeaderSize;
      for (UINT32 Index = 0; Index < Length && Index + 1 < OPTIONS_SIZE; Index++) {
        mOptionsText[Index] = static_cast<char>(kRom[File.At + File.HeaderSize + Index]);
      }
      continue;
    }
    if (File.Type != firmware_file::kTypePeim) {
      continue;
    }
    if (mPeimCount == MAX_PEIMS) {
      Fail("more PEIMs than the foundation keeps", MAX_PEIMS);
    }
    PEIM &Peim = mPeims[mPeimCount++];
    Peim = {File, nullptr, 0, nullptr, 0, false, false};
    UINT32 SectionCursor = 0;
    SECTION_INFO Section;
    while (NextSection(kRom, File, SectionCursor, Section, Fault)) {
      const UINT8 *Payload = kRom + File.At + Section.Offset + Section.HeaderSize;
      const UINT32 Size = Section.Size - Section.HeaderSize;
      if (Section.Type == section::kPeiDepex && Peim.Depex == nullptr) {
        Peim.Depex = Payload;
        Peim.DepexSize = Size;
      } else if ((Section.Type == section::kPe32 || Section.Type == section::kTe) && Peim.Image == nullptr) {
        Peim.Image = Payload;
        Peim.ImageSize = Size;
        Peim.Te = Section.Type == section::kTe;
      }
    }
    if (Fault.Check != LAYOUT_OK) {
      Fail(LayoutCheckText(Fault.Check), File.At);
    }
    if (Peim.Image == nullptr) {
      Fail("a PEIM file without a PE32 or TE section at", ROM_VOLUME_BASE + File.At);
    }
  }
  if (Fault.Check != LAYOUT_OK) {
    Fail(LayoutCheckText(Fault.Check), Fault.At);
  }
}

// Instructions since reset: under -icount shift=0 the time stamp counter
// counts instructions (a loop of 2,000 read 2,009 between two reads); the
// SEC read it at reset.
void ReportTsc(const char *Name, UINT64 Tsc) {
  Tsc -= mResetTsc;
  Print(Name);
  Print(" ");
  if ((Tsc >> 32) != 0) {
    Print("beyond 32 bits\n");
    return;
  }
  PrintDecimal(static_cast<UINT32>(Tsc));
  Print("\n");
}

// Calls a PEIM where it lies in flash: its image must have been rebased there
// and every section must lie at its RVA (nothing is copied or relocated now).
void Dispatch(PEIM &Peim) {
  const UINT8 *Name = kRom + Peim.File.At;
  PE32_INFO Info;
  LAYOUT_FAULT Fault;
  const bool Checked = Peim.Te ? CheckTeHeaders(Peim.Image, Peim.ImageSize, ROM_VOLUME_SIZE, Info, Fault)
                               : CheckPe32Headers(Peim.Image, Peim.ImageSize, ROM_VOLUME_SIZE, Info, Fault);
  if (!Checked) {
    Fail(LayoutCheckText(Fault.Check), Fault.Value);
  }
  if (Info.Machine != pe32::kMachineI386) {
    Fail("PEIM machine is not IA-32", Info.Machine);
  }
  const UINT32 InPlace = reinterpret_cast<UINT32>(Peim.Image) + Info.TeHeaderSize - Info.StrippedSize;
  PE32_SECTION Section;
  for (UINT32 Index = 0; Index < Info.NumberOfSections; Index++) {
    if (!ReadPe32Section(Peim.Image, Peim.ImageSize, Info, Index, Section, Fault)) {
      Fail(LayoutCheckText(Fault.Check), Fault.Value);
    }
    if (Section.RawSize != 0 && Section.PointerToRawData != Section.VirtualAddress) {
      Fail("PEIM section does not lie at its RVA (cannot execute in place), RVA", Section.VirtualAddress);
    }
  }
  if (Info.ImageBase != InPlace) {
    Print("refused ");
    PrintGuid(Name);
    Print(" image base ");
    PrintHex(Info.ImageBase, 8);
    Print(" is not its flash address ");
    PrintHex(InPlace, 8);
    Print("\n");
    Fail("PEIM image base is not its flash address", Info.ImageBase);
  }
  Print("dispatch ");
  PrintGuid(Name);
  Print("\n");
  const GUID_BYTES Module = GuidBytes(gSocPreInitFileGuid);
  if (!SameGuid(Name, Module.Bytes)) {
    ReportWord("peim return", CallPeim(InPlace + Info.EntryPoint, 0));
    return;
  }
  Print("image ");
  PrintHex(InPlace, 8);
  Print(" ");
  PrintHex(Info.SizeOfImage, 8);
  Print(" ");
  PrintHex(InPlace + Info.EntryPoint, 8);
  Print("\n");
  const UINT32 Status = CallPeim(InPlace + Info.EntryPoint, InPlace);
  ReportTsc("tsc module-entry", gEntryTsc);
  ReportTsc("tsc module-return", gReturnTsc);
  ReportWord("return", Status);
  Print("registers preserved\n");
}

}  // namespace

extern "C" void RomMain(UINT32 ResetTscLow, UINT32 ResetTscHigh) {
  mResetTsc = static_cast<UINT64>(ResetTscHigh) << 32 | ResetTscLow;
  Print("foundation start\nrom\n");
  ReadVolume();
  ParseOptions("the ROM's options");
  if (ReadFwCfgFile("opt/socpreinit/options", mOptionsText, OPTIONS_SIZE)) {
    ParseOptions("opt/socpreinit/options");
  }
  PrepareMachine();
  mSettings = {1, gOptions.Ppi == PPI_INSTALLED ? BusInfoDescriptor() : nullptr};
  mSettingsDescriptor = {EFI_PEI_PPI_DESCRIPTOR_PPI | EFI_PEI_PPI_DESCRIPTOR_TERMINATE_LIST, &gBoardSettingsPpiGuid,
                         &mSettings};
  RecordPpi(&mSettingsDescriptor);

  // Passes over the volume until one dispatches nothing.
  bool ModuleRan = false;
  for (bool Progress = true; Progress;) {
    Progress = false;
    for (UINT32 Index = 0; Index < mPeimCount; Index++) {
      PEIM &Peim = mPeims[Index];
      if (Peim.Done) {
        continue;
      }
      if (Peim.Depex != nullptr) {
        LAYOUT_FAULT Fault;
        const INT32 Holds = EvaluateDepex(Peim.Depex, Peim.DepexSize, PpiInstalled, nullptr, nullptr, Fault);
        if (Holds < 0) {
          Fail(LayoutCheckText(Fault.Check), Fault.At);
        }
        if (Holds == 0) {
          continue;
        }
      }
      Peim.Done = Progress = true;
      Dispatch(Peim);
      ModuleRan = ModuleRan || SameGuid(kRom + Peim.File.At, GuidBytes(gSocPreInitFileGuid).Bytes);
    }
  }
  // As a platform's debug build may be told to: the module regardless of its expression.
  const GUID_BYTES Module = GuidBytes(gSocPreInitFileGuid);
  for (UINT32 Index = 0; Index < mPeimCount && !gOptions.HonourModuleDepex; Index++) {
    if (!mPeims[Index].Done && SameGuid(kRom + mPeims[Index].File.At, Module.Bytes)) {
      Print("expression ignored\n");
      mPeims[Index].Done = ModuleRan = true;
      Dispatch(mPeims[Index]);
    }
  }
  for (UINT32 Index = 0; Index < mPeimCount; Index++) {
    if (!mPeims[Index].Done) {
      Print("neverdispatched ");
      PrintGuid(kRom + mPeims[Index].File.At);
      Print(" ");
      for (UINT32 Byte = 0; Byte < mPeims[Index].DepexSize; Byte++) {
        PrintChar("0123456789ABCDEF"[mPeims[Index].Depex[Byte] >> 4]);
        PrintChar("0123456789ABCDEF"[mPeims[Index].Depex[Byte] & 0xF]);
      }
      Print("\n");
    }
  }
  ReportTsc("tsc dispatch-end", ReadTsc());
  Finish(ModuleRan ? "returned" : "notdispatched");
}
