// The foundation from the ROM, executing in place in flash. The boot
// firmware volume is the ROM itself; its PEIMs run in place, in flash, each
// once its dependency expression holds, in passes until one dispatches
// nothing. The options are the ROM's defaults (a raw file in the volume),
// then what QEMU's fw_cfg file says.
#include "BoardSettingsPpi.h"
#include "Console.h"
#include "Foundation.h"
#include "FoundationProtocol.h"
#include "FwCfg.h"
#include "Layout/FirmwareFile.h"
#include "Layout/Guids.h"
#include "Layout/Pe32.h"
#include "Library/PiLayoutLib.h"
#include "PortIo.h"
#include "Layout/RomLayout.h"

#define MAX_PEIMS 16u
#define OPTIONS_CAPACITY (foundation_protocol::kMaxOptionsText + 1)

namespace {

using namespace foundation_protocol;

struct PEIM {
  FILE_INFO File;
  const UINT8 *Depex;  // null: none
  UINT32 DepexSize;
  const UINT8 *Image;  // the PE32 or TE section's image
  UINT32 ImageSize;
  bool Te, Done;
};

const UINT8 *const kRom = reinterpret_cast<const UINT8 *>(rom_layout::kRomBase);
PEIM mPeims[MAX_PEIMS];
UINT32 mPeimCount;
char mOptionsText[OPTIONS_CAPACITY];
UINT64 mResetTsc;  // at the reset vector's first instruction after its jump
BOARD_SETTINGS_PPI mSettings;
EFI_PEI_PPI_DESCRIPTOR mSettingsDescriptor;
UINT32 mModuleStatus;  // what the module's entry returned

// Options refused before the machine is prepared: a line, and QEMU ends.
[[noreturn]] void RefuseOptions(const char *From, const char *Error) {
  Print(kErrorKey);
  Print(" ");
  Print(From);
  Print(": ");
  Print(Error);
  Print("\n");
  ExitQemu(kExitFoundationError);
}

void ParseOptions(const char *From) {
  if (const char *Error = ParseFoundationOptions(mOptionsText, gOptions)) {
    RefuseOptions(From, Error);
  }
}

bool IsModule(const UINT8 *Name) {
  const GUID_BYTES Module = GuidBytes(gSocPreInitFileGuid);
  return SameGuid(Name, Module.Bytes);
}

// A PEIM file's dependency expression and image sections, the first of each.
void ReadPeim(const FILE_INFO &File) {
  if (mPeimCount == MAX_PEIMS) {
    Fail("more PEIMs than the foundation keeps", MAX_PEIMS);
  }
  PEIM &Peim = mPeims[mPeimCount++];
  Peim = {File, nullptr, 0, nullptr, 0, false, false};
  UINT32 Cursor = 0;
  SECTION_INFO Section;
  LAYOUT_FAULT Fault;
  while (NextSection(kRom, File, Cursor, Section, Fault)) {
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
    Fail(LayoutCheckText(Fault.Check), rom_layout::kRomBase + File.At);
  }
  if (Peim.Image == nullptr) {
    Fail("a PEIM file without a PE32 or TE section at", rom_layout::kRomBase + File.At);
  }
}

// The volume's PEIMs, and the ROM's default options from its raw file.
void ReadVolume() {
  VOLUME_INFO Volume;
  LAYOUT_FAULT Fault;
  if (!CheckVolumeHeader(kRom, rom_layout::kRomSize, Volume, Fault)) {
    Fail(LayoutCheckText(Fault.Check), Fault.Value);
  }
  const GUID_BYTES Options = GuidBytes(gRomOptionsFileGuid);
  UINT32 Cursor = 0;
  FILE_INFO File;
  while (NextFile(kRom, Volume, Cursor, File, Fault)) {
    if (File.Type == firmware_file::kTypeRaw && SameGuid(kRom + File.At, Options.Bytes)) {
      // Blanks may pad the file past what the foundation reads; nothing else may.
      const UINT32 Length = File.Size - File.HeaderSize;
      for (UINT32 Index = 0; Index < Length; Index++) {
        const char Character = static_cast<char>(kRom[File.At + File.HeaderSize + Index]);
        if (Index < kMaxOptionsText) {
          mOptionsText[Index] = Character;
        } else if (Character != ' ') {
          RefuseOptions("the ROM's options", "longer than 255 bytes");
        }
      }
    } else if (File.Type == firmware_file::kTypePeim) {
      ReadPeim(File);
    }
  }
  if (Fault.Check != LAYOUT_OK) {
    Fail(LayoutCheckText(Fault.Check), rom_layout::kRomBase + static_cast<UINT32>(Fault.At));
  }
}

// Instructions since reset: under -icount shift=0 the time stamp counter
// counts instructions (a loop of 2,000 read 2,009 between two reads); the
// SEC read it at reset.
void ReportTsc(const char *Name, UINT64 Tsc) {
  Tsc -= mResetTsc;
  Print(kTscKey);
  Print(" ");
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
// and run as it lies (nothing is copied or relocated now).
void Dispatch(PEIM &Peim) {
  const UINT8 *Name = kRom + Peim.File.At;
  PE32_INFO Info;
  LAYOUT_FAULT Fault;
  if (Peim.Te != IsTeImage(Peim.Image, Peim.ImageSize)) {
    Fail("PEIM image is not of its section's kind, at", reinterpret_cast<UINT32>(Peim.Image));
  }
  if (!CheckImageHeaders(Peim.Image, Peim.ImageSize, rom_layout::kRomSize, Info, Fault)) {
    Fail(LayoutCheckText(Fault.Check), static_cast<UINT32>(Fault.Value));
  }
  if (Info.Machine != pe32::kMachineI386) {
    Fail("PEIM machine is not IA-32", Info.Machine);
  }
  if (!CheckExecutesInPlace(Peim.Image, Peim.ImageSize, Info, Fault)) {
    Print(kErrorKey);
    Print(" PEIM ");
    PrintGuid(Name);
    Print(" cannot execute in place: ");
    Print(LayoutCheckText(Fault.Check));
    Print(" ");
    PrintHex(static_cast<UINT32>(Fault.Value), 8);
    Print("\n");
    Finish(kOutcomeFailed, kExitFoundationError);
  }
  const UINT32 InPlace = RvaZeroAddress(Info, reinterpret_cast<UINT32>(Peim.Image));
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
  Print(kDispatchKey);
  Print(" ");
  PrintGuid(Name);
  Print("\n");
  if (!IsModule(Name)) {
    const UINT32 Status = CallPeim(Name, InPlace + Info.EntryPoint, 0);
    ReportTsc(kTscPeimEntry, gEntryTsc);
    ReportTsc(kTscPeimReturn, gReturnTsc);
    ReportWord(kPeimReturnKey, Status);
    return;
  }
  Print(kImageKey);
  Print(" ");
  PrintHex(InPlace, 8);
  Print(" ");
  PrintHex(Info.SizeOfImage, 8);
  Print(" ");
  PrintHex(InPlace + Info.EntryPoint, 8);
  Print("\n");
  const UINT32 Status = CallPeim(Name, InPlace + Info.EntryPoint, InPlace);
  ReportTsc(kTscModuleEntry, gEntryTsc);
  ReportTsc(kTscModuleReturn, gReturnTsc);
  ReportWord(kReturnKey, Status);
  Print(kRegistersLine);
  Print("\n");
  mModuleStatus = Status;
}

}  // namespace

extern "C" void RomMain(UINT32 ResetTscLow, UINT32 ResetTscHigh, UINT32 EntryTscLow, UINT32 EntryTscHigh) {
  mResetTsc = static_cast<UINT64>(ResetTscHigh) << 32 | ResetTscLow;
  Print(kStartLine);
  Print("\nrom\n");
  ReportTsc(kTscFoundationEntry, static_cast<UINT64>(EntryTscHigh) << 32 | EntryTscLow);
  ReadVolume();
  ParseOptions("the ROM's options");
  switch (ReadFwCfgFile(kOptionsFile, mOptionsText, OPTIONS_CAPACITY)) {
    case FW_CFG_READ_WHOLE: ParseOptions(kOptionsFile); break;
    case FW_CFG_TOO_LONG: RefuseOptions(kOptionsFile, "longer than 255 bytes");
    case FW_CFG_NO_DMA: RefuseOptions(kOptionsFile, "fw_cfg cannot transfer by DMA");
    case FW_CFG_DEVICE_ERROR: RefuseOptions(kOptionsFile, "fw_cfg reported a DMA error");
    case FW_CFG_ABSENT: break;
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
          Fail(LayoutCheckText(Fault.Check), static_cast<UINT32>(Fault.At));
        }
        if (Holds == 0) {
          continue;
        }
      }
      Peim.Done = Progress = true;
      Dispatch(Peim);
      ModuleRan = ModuleRan || IsModule(kRom + Peim.File.At);
    }
  }
  // As a platform's debug build may be told to: the module regardless of its expression.
  for (UINT32 Index = 0; Index < mPeimCount && !gOptions.HonourModuleDepex; Index++) {
    if (!mPeims[Index].Done && IsModule(kRom + mPeims[Index].File.At)) {
      Print("expression ignored\n");
      mPeims[Index].Done = ModuleRan = true;
      Dispatch(mPeims[Index]);
    }
  }
  for (UINT32 Index = 0; Index < mPeimCount; Index++) {
    if (!mPeims[Index].Done) {
      Print(kNeverDispatchedKey);
      Print(" ");
      PrintGuid(kRom + mPeims[Index].File.At);
      Print(" ");
      PrintHexBytes(mPeims[Index].Depex, mPeims[Index].DepexSize);
      Print("\n");
    }
  }
  ReportTsc(kTscDispatchEnd, ReadTsc());
  if (!ModuleRan) {
    Finish(kOutcomeNotDispatched, kExitModuleFailed);
  }
  Finish(kOutcomeReturned, EFI_ERROR(mModuleStatus) ? kExitModuleFailed : kExitSuccess);
}
