// PE32 images: headers, sections and base relocations, read from the file.
#include "Layout/LittleEndian.h"
#include "Layout/Pe32.h"
#include "Library/PiLayoutLib.h"

namespace {

BOOLEAN Refuse(LAYOUT_FAULT &Fault, UINT32 Check, UINT64 At, UINT64 Value, UINT64 Low = 0, UINT64 High = 0) {
  Fault = {Check, At, 0, Value, Low, High};
  return false;
}

// True when [Offset, Offset + Length) lies inside Size, without wrapping.
BOOLEAN Inside(UINT64 Offset, UINT64 Length, UINT64 Size) { return Offset <= Size && Length <= Size - Offset; }

}  // namespace

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
  Section.RawOffset = ReadLe32(Header + section_header::PointerToRawData);
  Section.Characteristics = ReadLe32(Header + section_header::Characteristics);
  // VirtualSize 0 leaves the raw size as it is; a larger raw size (file
  // alignment padding) is cut to what the section holds.
  Section.LoadedSize = Section.VirtualSize != 0 && Section.RawSize > Section.VirtualSize ? Section.VirtualSize
                                                                                           : Section.RawSize;
  if (!Inside(Section.RawOffset, Section.RawSize, Size)) {
    return Refuse(Fault, PE_SECTION_RAW, Section.HeaderOffset, Section.RawOffset, Section.RawSize, Size);
  }
  if (!Inside(Section.VirtualAddress, Section.LoadedSize, Image.SizeOfImage)) {
    return Refuse(Fault, PE_SECTION_VIRTUAL, Section.HeaderOffset, Section.VirtualAddress, 0, Image.SizeOfImage);
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
    const UINT32 RawOffset = ReadLe32(Header + section_header::PointerToRawData);
    if (Rva >= VirtualAddress && Rva - VirtualAddress < RawSize) {
      const UINT64 At = static_cast<UINT64>(RawOffset) + (Rva - VirtualAddress);
      Offset = static_cast<UINT32>(At);
      return At < Size;
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
