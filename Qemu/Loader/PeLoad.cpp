#include "PeLoad.h"

#include "LoaderHardware.h"

namespace {

UINT16 Read16(const UINT8 *At) { return static_cast<UINT16>(At[0] | At[1] << 8); }
UINT32 Read32(const UINT8 *At) { return At[0] | At[1] << 8 | At[2] << 16 | static_cast<UINT32>(At[3]) << 24; }

// True when [Offset, Offset + Length) lies inside Size, without wrapping.
bool Inside(UINT32 Offset, UINT32 Length, UINT32 Size) { return Offset <= Size && Length <= Size - Offset; }

#define PE_MACHINE_I386 0x014Cu
#define PE32_MAGIC 0x010Bu
#define SUBSYSTEM_EFI_BOOT_SERVICE_DRIVER 11u
#define RELOCATION_ABSOLUTE 0u
#define RELOCATION_HIGHLOW 3u

const char *ApplyRelocations(const UINT8 *Image, UINT32 Size, UINT32 Rva, UINT32 Length, UINT32 Delta) {
  if (!Inside(Rva, Length, Size)) {
    return "base relocation directory outside the image";
  }
  UINT32 Offset = 0;
  while (Offset + 8 <= Length) {
    const UINT32 PageRva = Read32(Image + Rva + Offset);
    const UINT32 BlockSize = Read32(Image + Rva + Offset + 4);
    if (BlockSize < 8 || BlockSize > Length - Offset) {
      return "relocation block size out of range";
    }
    for (UINT32 Entry = 8; Entry + 2 <= BlockSize; Entry += 2) {
      const UINT16 Word = Read16(Image + Rva + Offset + Entry);
      const UINT32 Type = Word >> 12;
      if (Type == RELOCATION_ABSOLUTE) {
        continue;
      }
      if (Type != RELOCATION_HIGHLOW) {
        return "relocation type other than HIGHLOW";
      }
      const UINT32 Target = PageRva + (Word & 0xFFFu);
      if (Target < PageRva || !Inside(Target, 4, Size)) {
        return "relocation target outside the image";
      }
      auto *Place = const_cast<UINT8 *>(Image) + Target;
      const UINT32 Value = Read32(Place) + Delta;
      memcpy(Place, &Value, 4);
    }
    Offset += BlockSize;
  }
  return nullptr;
}

}  // namespace

const char *LoadPeImage(const UINT8 *File, UINT32 FileSize, UINT32 LoadBase, UINT32 MaxImageSize,
                        LOADED_IMAGE &Loaded) {
  if (FileSize < 0x40 || Read16(File) != 0x5A4D) {
    return "no MZ header";
  }
  const UINT32 PeOffset = Read32(File + 0x3C);
  if (!Inside(PeOffset, 24, FileSize) || Read32(File + PeOffset) != 0x00004550) {
    return "no PE signature";
  }
  const UINT8 *Coff = File + PeOffset + 4;
  if (Read16(Coff) != PE_MACHINE_I386) {
    return "machine is not IA-32 (0x014C)";
  }
  const UINT32 Sections = Read16(Coff + 2);
  const UINT32 OptionalSize = Read16(Coff + 16);
  const UINT32 OptionalOffset = PeOffset + 24;
  if (OptionalSize < 96 || !Inside(OptionalOffset, OptionalSize, FileSize)) {
    return "optional header truncated";
  }
  const UINT8 *Optional = File + OptionalOffset;
  if (Read16(Optional) != PE32_MAGIC) {
    return "optional header magic is not PE32 (0x10B)";
  }
  if (Read16(Optional + 68) != SUBSYSTEM_EFI_BOOT_SERVICE_DRIVER) {
    return "subsystem is not EFI boot service driver (11)";
  }
  const UINT32 EntryRva = Read32(Optional + 16);
  const UINT32 ImageBase = Read32(Optional + 28);
  const UINT32 SizeOfImage = Read32(Optional + 56);
  const UINT32 SizeOfHeaders = Read32(Optional + 60);
  const UINT32 Directories = Read32(Optional + 92);
  if (SizeOfImage == 0 || SizeOfImage > MaxImageSize) {
    return "SizeOfImage out of range";
  }
  if (SizeOfHeaders > SizeOfImage || SizeOfHeaders > FileSize) {
    return "SizeOfHeaders out of range";
  }
  if (EntryRva >= SizeOfImage) {
    return "entry point outside the image";
  }
  const UINT32 SectionTable = OptionalOffset + OptionalSize;
  if (Sections == 0 || !Inside(SectionTable, Sections * 40, FileSize)) {
    return "section table truncated";
  }

  auto *Image = reinterpret_cast<UINT8 *>(LoadBase);
  memset(Image, 0, SizeOfImage);
  memcpy(Image, File, SizeOfHeaders);
  for (UINT32 Index = 0; Index < Sections; Index++) {
    const UINT8 *Header = File + SectionTable + Index * 40;
    const UINT32 VirtualSize = Read32(Header + 8);
    const UINT32 Rva = Read32(Header + 12);
    UINT32 RawSize = Read32(Header + 16);
    const UINT32 RawOffset = Read32(Header + 20);
    if (VirtualSize != 0 && RawSize > VirtualSize) {
      RawSize = VirtualSize;
    }
    if (!Inside(RawOffset, RawSize, FileSize) || !Inside(Rva, RawSize, SizeOfImage)) {
      return "section outside the file or the image";
    }
    memcpy(Image + Rva, File + RawOffset, RawSize);
  }
  if (Directories > 5 && OptionalSize >= 96 + 6 * 8) {
    const UINT32 RelocRva = Read32(Optional + 96 + 5 * 8);
    const UINT32 RelocSize = Read32(Optional + 96 + 5 * 8 + 4);
    if (RelocSize != 0) {
      if (const char *Error = ApplyRelocations(Image, SizeOfImage, RelocRva, RelocSize, LoadBase - ImageBase)) {
        return Error;
      }
    }
  }
  Loaded = {LoadBase, SizeOfImage, LoadBase + EntryRva};
  return nullptr;
}
