#include "PeLoad.h"

#include "Layout/LittleEndian.h"
#include "Layout/Pe32.h"
#include "Layout/Te.h"
#include "LoaderHardware.h"
#include "Library/PiLayoutLib.h"

const char *LoadPeImage(const UINT8 *File, UINT32 FileSize, UINT32 LoadBase, UINT32 MaxImageSize,
                        LOADED_IMAGE &Loaded) {
  PE32_INFO Info;
  LAYOUT_FAULT Fault;
  const BOOLEAN Te = FileSize >= 2 && ReadLe16(File) == te::kSignature;
  if (Te ? !CheckTeHeaders(File, FileSize, MaxImageSize, Info, Fault)
         : !CheckPe32Headers(File, FileSize, MaxImageSize, Info, Fault)) {
    return LayoutCheckText(Fault.Check);
  }
  // What a PEI foundation on IA-32 runs: an IA-32 PE32 boot service driver.
  if (Info.Machine != pe32::kMachineI386) {
    return "machine is not IA-32 (0x014C)";
  }
  if (Info.Subsystem != pe32::kSubsystemEfiBootServiceDriver) {
    return "subsystem is not EFI boot service driver (11)";
  }
  PE32_SECTION Section;
  for (UINT32 Index = 0; Index < Info.NumberOfSections; Index++) {  // every section checked before a byte moves
    if (!ReadPe32Section(File, FileSize, Info, Index, Section, Fault)) {
      return LayoutCheckText(Fault.Check);
    }
  }
  auto *Image = reinterpret_cast<UINT8 *>(LoadBase);
  memset(Image, 0, Info.SizeOfImage);
  memcpy(Image, File, Info.SizeOfHeaders);
  for (UINT32 Index = 0; Index < Info.NumberOfSections; Index++) {
    ReadPe32Section(File, FileSize, Info, Index, Section, Fault);
    memcpy(Image + Section.VirtualAddress, File + Section.RawOffset, Section.LoadedSize);
  }
  const UINT32 Delta = LoadBase - Info.ImageBase;
  PE32_RELOCATION_CURSOR Cursor{};
  UINT32 Type, Target;
  while (NextPe32Relocation(File, FileSize, Info, Cursor, Type, Target, Fault)) {
    if (Type != pe32::relocation_block::kHighLow) {
      return "relocation type other than HIGHLOW";
    }
    UINT32 Value;
    memcpy(&Value, Image + Target, 4);
    Value += Delta;
    memcpy(Image + Target, &Value, 4);
  }
  if (Fault.Check != LAYOUT_OK) {
    return LayoutCheckText(Fault.Check);
  }
  Loaded = {LoadBase, Info.SizeOfImage, LoadBase + Info.EntryPoint};
  return nullptr;
}
