// PE32 images: headers, sections and base relocations, read from the file.
#include "Layout/LittleEndian.h"
#include "Layout/Pe32.h"
#include "Layout/Te.h"
#include "Library/PiLayoutLib.h"

namespace {

BOOLEAN Refuse(LAYOUT_FAULT &Fault, UINT32 Check, UINT64 At, UINT64 Value, UINT64 Low = 0, UINT64 High = 0) {
  Fault = {Check, At, 0, Value, Low, High};
  return false;
}

// True when [Offset, Offset + Length) lies inside Size, without wrapping.
BOOLEAN Inside(UINT64 Offset, UINT64 Length, UINT64 Size) { return Offset <= Size && Length <= Size - Offset; }

// Where raw data the section header places at PointerToRawData lies in this
// file: there for PE32, moved by the headers a TE image stripped. False when
// it would lie before the start of the file.
BOOLEAN RawInFile(const PE32_INFO &Image, UINT32 PointerToRawData, UINT64 &Offset) {
  Offset = static_cast<UINT64>(PointerToRawData) + Image.TeHeaderSize;
  if (Offset < Image.StrippedSize) {
    return false;
  }
  Offset -= Image.StrippedSize;
  return true;
}

}  // namespace

BOOLEAN IsTeImage(const UINT8 *File, UINT32 Size) { return Size >= 2 && ReadLe16(File + te::Signature) == te::kSignature; }

BOOLEAN CheckImageHeaders(const UINT8 *File, UINT32 Size, UINT32 MaxImageSize, PE32_INFO &Image, LAYOUT_FAULT &Fault) {
  return IsTeImage(File, Size) ? CheckTeHeaders(File, Size, MaxImageSize, Image, Fault)
                               : CheckPe32Headers(File, Size, MaxImageSize, Image, Fault);
}

UINT32 RvaZeroAddress(const PE32_INFO &Image, UINT32 FileAddress) {
  return FileAddress + Image.TeHeaderSize - Image.StrippedSize;
}

BOOLEAN CheckPe32Headers(const UINT8 *File, UINT32 Size, UINT32 MaxImageSize, PE32_INFO &Image, LAYOUT_FAULT &Fault) {
  using namespace pe32;
  Image = {};
  if (Size < dos::Size) {
    return Refuse(Fault, PE_DOS_CUT, 0, Size);
  }
  if (ReadLe16(File + dos::Magic) != dos::kMagic) {
    return Refuse(Fault, PE_NO_MZ, 0, ReadLe16(File + dos::Magic));
  }
  Image.PeOffset = ReadLe32(File + dos::Lfanew);
  if (!Inside(Image.PeOffset, kNtHeadersSize, Size)) {
    return Refuse(Fault, PE_LFANEW, dos::Lfanew, Image.PeOffset, 0, Size);
  }
  if (ReadLe32(File + Image.PeOffset) != kSignature) {
    return Refuse(Fault, PE_NO_SIGNATURE, Image.PeOffset, Image.PeOffset);
  }
  const UINT8 *Coff = File + Image.PeOffset + kSignatureSize;
  Image.Machine = ReadLe16(Coff + file_header::Machine);
  Image.NumberOfSections = ReadLe16(Coff + file_header::NumberOfSections);
  Image.OptionalSize = ReadLe16(Coff + file_header::SizeOfOptionalHeader);
  Image.Characteristics = ReadLe16(Coff + file_header::Characteristics);
  Image.OptionalOffset = Image.PeOffset + kNtHeadersSize;
  if (Image.OptionalSize < optional_header::DataDirectory || !Inside(Image.OptionalOffset, Image.OptionalSize, Size)) {
    return Refuse(Fault, PE_OPTIONAL_SIZE, Image.OptionalOffset, Image.OptionalSize, optional_header::DataDirectory,
                  Size - Image.OptionalOffset);
  }
  const UINT8 *Optional = File + Image.OptionalOffset;
  Image.Magic = ReadLe16(Optional + optional_header::Magic);
  if (Image.Magic != kMagicPe32) {
    return Refuse(Fault, PE_MAGIC, Image.OptionalOffset, Image.Magic);
  }
  Image.EntryPoint = ReadLe32(Optional + optional_header::AddressOfEntryPoint);
  Image.ImageBase = ReadLe32(Optional + optional_header::ImageBase);
  Image.SectionAlignment = ReadLe32(Optional + optional_header::SectionAlignment);
  Image.FileAlignment = ReadLe32(Optional + optional_header::FileAlignment);
  Image.SizeOfImage = ReadLe32(Optional + optional_header::SizeOfImage);
  Image.SizeOfHeaders = ReadLe32(Optional + optional_header::SizeOfHeaders);
  Image.Subsystem = ReadLe16(Optional + optional_header::Subsystem);
  Image.DllCharacteristics = ReadLe16(Optional + optional_header::DllCharacteristics);
  Image.NumberOfDirectories = ReadLe32(Optional + optional_header::NumberOfRvaAndSizes);
  if (Image.NumberOfDirectories > data_directory::kMaxEntries ||
      DirectoryOffset(Image.NumberOfDirectories) > Image.OptionalSize) {
    return Refuse(Fault, PE_DIRECTORIES, Image.OptionalOffset, Image.NumberOfDirectories, Image.OptionalSize);
  }
  if (Image.SizeOfImage == 0 || Image.SizeOfImage > MaxImageSize) {
    return Refuse(Fault, PE_SIZE_OF_IMAGE, Image.OptionalOffset, Image.SizeOfImage, 1, MaxImageSize);
  }
  if (Image.SizeOfHeaders > Image.SizeOfImage || Image.SizeOfHeaders > Size) {
    return Refuse(Fault, PE_SIZE_OF_HEADERS, Image.OptionalOffset, Image.SizeOfHeaders, 0, Image.SizeOfImage);
  }
  if (Image.EntryPoint >= Image.SizeOfImage) {
    return Refuse(Fault, PE_ENTRY, Image.OptionalOffset, Image.EntryPoint, 0, Image.SizeOfImage);
  }
  if (Image.NumberOfDirectories > data_directory::kImport) {
    const UINT8 *Entry = Optional + DirectoryOffset(data_directory::kImport);
    Image.ImportRva = ReadLe32(Entry + data_directory::VirtualAddress);
    Image.ImportSize = ReadLe32(Entry + data_directory::Size);
  }
  if (Image.NumberOfDirectories > data_directory::kBaseRelocation) {
    const UINT8 *Entry = Optional + DirectoryOffset(data_directory::kBaseRelocation);
    Image.RelocRva = ReadLe32(Entry + data_directory::VirtualAddress);
    Image.RelocSize = ReadLe32(Entry + data_directory::Size);
  }
  Image.SectionTable = Image.OptionalOffset + Image.OptionalSize;
  if (Image.NumberOfSections == 0 || Image.NumberOfSections > section_header::kMaxCount ||
      !Inside(Image.SectionTable, static_cast<UINT64>(section_header::Size) * Image.NumberOfSections, Size)) {
    return Refuse(Fault, PE_SECTION_COUNT, Image.PeOffset, Image.NumberOfSections, 1, section_header::kMaxCount);
  }
  Fault = {LAYOUT_OK, 0, 0, 0, 0, 0};
  return true;
}

BOOLEAN ReadPe32Section(const UINT8 *File, UINT32 Size, const PE32_INFO &Image, UINT32 Index, PE32_SECTION &Section,
                        LAYOUT_FAULT &Fault) {
  using namespace pe32;
  Section.HeaderOffset = Image.SectionTable + Index * section_header::Size;
  const UINT8 *Header = File + Section.HeaderOffset;
  Section.VirtualSize = ReadLe32(Header + section_header::VirtualSize);
  Section.VirtualAddress = ReadLe32(Header + section_header::VirtualAddress);
  Section.RawSize = ReadLe32(Header + section_header::SizeOfRawData);
  Section.PointerToRawData = ReadLe32(Header + section_header::PointerToRawData);
  Section.Characteristics = ReadLe32(Header + section_header::Characteristics);
  UINT64 RawOffset = 0;
  const BOOLEAN Placed = RawInFile(Image, Section.PointerToRawData, RawOffset);
  Section.RawOffset = static_cast<UINT32>(RawOffset);
  // VirtualSize 0 leaves the raw size as it is; a larger raw size (file
  // alignment padding) is cut to what the section holds.
  Section.LoadedSize = Section.VirtualSize != 0 && Section.RawSize > Section.VirtualSize ? Section.VirtualSize
                                                                                           : Section.RawSize;
  if (!Placed || !Inside(RawOffset, Section.RawSize, Size)) {
    return Refuse(Fault, PE_SECTION_RAW, Section.HeaderOffset, Section.PointerToRawData, Section.RawSize, Size);
  }
  if (!Inside(Section.VirtualAddress, Section.LoadedSize, Image.SizeOfImage)) {
    return Refuse(Fault, PE_SECTION_VIRTUAL, Section.HeaderOffset, Section.VirtualAddress, 0, Image.SizeOfImage);
  }
  Fault = {LAYOUT_OK, 0, 0, 0, 0, 0};
  return true;
}

BOOLEAN CheckExecutesInPlace(const UINT8 *File, UINT32 Size, const PE32_INFO &Image, LAYOUT_FAULT &Fault) {
  PE32_SECTION Section;
  for (UINT32 Index = 0; Index < Image.NumberOfSections; Index++) {
    if (!ReadPe32Section(File, Size, Image, Index, Section, Fault)) {
      return false;
    }
    if (Section.RawSize != 0 && Section.PointerToRawData != Section.VirtualAddress) {
      return Refuse(Fault, PE_NOT_IN_PLACE, Section.HeaderOffset, Section.PointerToRawData, Section.VirtualAddress);
    }
    if (Section.VirtualSize > Section.RawSize) {
      return Refuse(Fault, PE_SECTION_BEYOND_RAW, Section.HeaderOffset, Section.VirtualSize, Section.RawSize);
    }
  }
  // The file holds the RVAs up to its size plus the headers a TE header stands for.
  const UINT64 Covered = static_cast<UINT64>(Size) + Image.StrippedSize - Image.TeHeaderSize;
  if (Image.SizeOfImage > Covered) {
    return Refuse(Fault, PE_IMAGE_BEYOND_FILE, Image.OptionalOffset, Image.SizeOfImage, 0, Covered);
  }
  Fault = {LAYOUT_OK, 0, 0, 0, 0, 0};
  return true;
}

BOOLEAN Pe32FileOffset(const UINT8 *File, UINT32 Size, const PE32_INFO &Image, UINT32 Rva, UINT32 &Offset) {
  using namespace pe32;
  for (UINT32 Index = 0; Index < Image.NumberOfSections; Index++) {
    const UINT8 *Header = File + Image.SectionTable + Index * section_header::Size;
    const UINT32 VirtualAddress = ReadLe32(Header + section_header::VirtualAddress);
    const UINT32 RawSize = ReadLe32(Header + section_header::SizeOfRawData);
    UINT64 At = 0;
    if (Rva >= VirtualAddress && Rva - VirtualAddress < RawSize) {
      const BOOLEAN Placed = RawInFile(Image, ReadLe32(Header + section_header::PointerToRawData), At);
      At += Rva - VirtualAddress;
      Offset = static_cast<UINT32>(At);
      return Placed && At < Size;
    }
  }
  Offset = Rva;
  return Rva < Image.SizeOfHeaders && Rva < Size;
}

BOOLEAN NextPe32Relocation(const UINT8 *File, UINT32 Size, const PE32_INFO &Image, PE32_RELOCATION_CURSOR &Cursor,
                           UINT32 &Type, UINT32 &TargetRva, LAYOUT_FAULT &Fault) {
  using namespace pe32::relocation_block;
  const UINT64 End = static_cast<UINT64>(Image.RelocRva) + Image.RelocSize;
  Fault = {LAYOUT_OK, 0, 0, 0, 0, 0};
  if (!Cursor.Started) {
    Cursor = {Image.RelocRva, 0, 0, 0, 0, true};
    if (Image.RelocSize == 0) {
      return false;
    }
    if (End > Image.SizeOfImage) {
      return Refuse(Fault, PE_RELOC_DIRECTORY, 0, Image.RelocRva, Image.RelocSize, Image.SizeOfImage);
    }
  }
  for (;;) {
    if (Cursor.Entry == 0) {  // at the start of a block
      if (static_cast<UINT64>(Cursor.BlockRva) + HeaderSize > End) {
        return false;
      }
      if (!Pe32FileOffset(File, Size, Image, Cursor.BlockRva, Cursor.BlockFileOffset)) {
        return Refuse(Fault, PE_RELOC_BLOCK_LOST, 0, Cursor.BlockRva);
      }
      if (!Inside(Cursor.BlockFileOffset, HeaderSize, Size)) {
        return Refuse(Fault, PE_RELOC_BLOCK_CUT, Cursor.BlockFileOffset, Cursor.BlockRva);
      }
      Cursor.PageRva = ReadLe32(File + Cursor.BlockFileOffset + PageRva);
      Cursor.BlockSize = ReadLe32(File + Cursor.BlockFileOffset + SizeOfBlock);
      if (Cursor.BlockSize < HeaderSize || Cursor.BlockSize > End - Cursor.BlockRva || Cursor.BlockSize % 2 != 0) {
        return Refuse(Fault, PE_RELOC_BLOCK_SIZE, Cursor.BlockFileOffset, Cursor.BlockSize, Cursor.BlockRva,
                      End - Cursor.BlockRva);
      }
      Cursor.Entry = HeaderSize;
    }
    if (Cursor.Entry + EntrySize > Cursor.BlockSize) {
      Cursor.BlockRva += Cursor.BlockSize;
      Cursor.Entry = 0;
      continue;
    }
    const UINT64 EntryAt = static_cast<UINT64>(Cursor.BlockFileOffset) + Cursor.Entry;
    if (!Inside(EntryAt, EntrySize, Size)) {
      return Refuse(Fault, PE_RELOC_BLOCK_CUT, Cursor.BlockFileOffset, Cursor.BlockRva);
    }
    Cursor.Entry += EntrySize;
    const UINT32 Word = ReadLe16(File + EntryAt);
    Type = Word >> kTypeShift;
    const UINT64 Target = static_cast<UINT64>(Cursor.PageRva) + (Word & kOffsetMask);
    if (Type == kAbsolute) {
      continue;
    }
    if (Type == kHighLow && !Inside(Target, 4, Image.SizeOfImage)) {
      return Refuse(Fault, PE_RELOC_TARGET, Cursor.BlockFileOffset, Target, 0, Image.SizeOfImage);
    }
    TargetRva = static_cast<UINT32>(Target);
    return true;
  }
}

BOOLEAN CheckTeHeaders(const UINT8 *File, UINT32 Size, UINT32 MaxImageSize, PE32_INFO &Image, LAYOUT_FAULT &Fault) {
  Image = {};
  if (Size < te::Size) {
    return Refuse(Fault, TE_CUT, 0, Size);
  }
  if (ReadLe16(File + te::Signature) != te::kSignature) {
    return Refuse(Fault, TE_SIGNATURE, 0, ReadLe16(File + te::Signature));
  }
  Image.Machine = ReadLe16(File + te::Machine);
  Image.NumberOfSections = File[te::NumberOfSections];
  Image.Subsystem = File[te::Subsystem];
  Image.StrippedSize = ReadLe16(File + te::StrippedSize);
  Image.TeHeaderSize = te::Size;
  Image.EntryPoint = ReadLe32(File + te::AddressOfEntryPoint);
  Image.ImageBase = static_cast<UINT32>(ReadLe64(File + te::ImageBase));
  Image.RelocRva = ReadLe32(File + te::RelocationDirectory + pe32::data_directory::VirtualAddress);
  Image.RelocSize = ReadLe32(File + te::RelocationDirectory + pe32::data_directory::Size);
  Image.NumberOfDirectories = pe32::data_directory::kBaseRelocation + 1;
  Image.SectionTable = te::Size;
  const UINT64 TableEnd = te::Size + static_cast<UINT64>(pe32::section_header::Size) * Image.NumberOfSections;
  if (Image.NumberOfSections == 0 || Image.NumberOfSections > pe32::section_header::kMaxCount ||
      !Inside(te::Size, TableEnd - te::Size, Size)) {
    return Refuse(Fault, PE_SECTION_COUNT, 0, Image.NumberOfSections, 1, pe32::section_header::kMaxCount);
  }
  // The stripped headers: at least a DOS header, the PE headers and a PE32
  // optional header; and no more than puts the first raw data at the end of
  // the section table.
  constexpr UINT32 kSmallest = pe32::dos::Size + pe32::kNtHeadersSize + pe32::optional_header::DataDirectory;
  UINT64 Extent = 0, FirstRaw = ~0ull;
  for (UINT32 Index = 0; Index < Image.NumberOfSections; Index++) {
    const UINT8 *Header = File + te::Size + Index * pe32::section_header::Size;
    const UINT32 VirtualSize = ReadLe32(Header + pe32::section_header::VirtualSize);
    const UINT32 RawSize = ReadLe32(Header + pe32::section_header::SizeOfRawData);
    const UINT64 End = static_cast<UINT64>(ReadLe32(Header + pe32::section_header::VirtualAddress)) +
                       (VirtualSize > RawSize ? VirtualSize : RawSize);
    Extent = End > Extent ? End : Extent;
    const UINT32 Raw = ReadLe32(Header + pe32::section_header::PointerToRawData);
    FirstRaw = RawSize != 0 && Raw < FirstRaw ? Raw : FirstRaw;
  }
  const UINT64 Largest = FirstRaw == ~0ull              ? kSmallest
                         : FirstRaw + te::Size < TableEnd ? 0
                                                          : FirstRaw + te::Size - TableEnd;
  if (Image.StrippedSize < kSmallest || Image.StrippedSize > Largest) {
    return Refuse(Fault, TE_STRIPPED_SIZE, 0, Image.StrippedSize, kSmallest, Largest);
  }
  if (Extent == 0 || Extent > MaxImageSize) {
    return Refuse(Fault, PE_SIZE_OF_IMAGE, 0, Extent, 1, MaxImageSize);
  }
  Image.SizeOfImage = static_cast<UINT32>(Extent);
  if (Image.EntryPoint >= Image.SizeOfImage) {
    return Refuse(Fault, PE_ENTRY, 0, Image.EntryPoint, 0, Image.SizeOfImage);
  }
  Fault = {LAYOUT_OK, 0, 0, 0, 0, 0};
  return true;
}
