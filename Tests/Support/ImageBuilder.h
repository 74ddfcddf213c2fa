// Small PE32 images built field by field, so that a test can put one field
// exactly at its limit: the headers as lld-link lays them out (a DOS header,
// 16 data directories, headers padded to 0x200), a code section and a base
// relocation section, each at its file offset as its RVA.
#ifndef TESTS_SUPPORT_IMAGE_BUILDER_H_
#define TESTS_SUPPORT_IMAGE_BUILDER_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Layout/LittleEndian.h"
#include "Layout/Pe32.h"

struct TestSection {
  std::string Name;
  std::uint32_t VirtualAddress = 0, VirtualSize = 0, RawOffset = 0, RawSize = 0;
  std::uint32_t Characteristics = pe32::section_flags::kCode | pe32::section_flags::kExecute |
                                  pe32::section_flags::kRead | pe32::section_flags::kWrite;
};

struct TestRelocation {
  std::uint32_t Type = pe32::relocation_block::kHighLow;
  std::uint32_t Rva = 0;
};

struct TestImage {
  std::uint32_t Lfanew = 0x40;
  std::uint16_t Machine = pe32::kMachineI386;
  std::uint32_t Directories = 16;
  std::uint32_t OptionalSize = 0;  // 0: the size of the directories
  std::uint32_t EntryPoint = 0x200;
  std::uint32_t ImageBase = 0;
  std::uint32_t SizeOfImage = 0x400;
  std::uint32_t SizeOfHeaders = 0x200;
  std::uint32_t FileAlignment = 0x20, SectionAlignment = 0x20;
  std::vector<TestSection> Sections = {{".text", 0x200, 0x100, 0x200, 0x100},
                                       {".reloc", 0x300, 0x100, 0x300, 0x100}};
  // Written as one block per 4 KiB page into the section named .reloc; the
  // directory names them (RelocSize 0: their size).
  std::vector<TestRelocation> Relocations = {{pe32::relocation_block::kHighLow, 0x210}};
  std::uint32_t RelocSize = 0;
  std::uint32_t FileSize = 0x400;
};

// A 32-bit address that the default image's relocation names: RVA 0x210
// holds 0x280, the address of its code at 0x280.
inline constexpr std::uint32_t kTestSite = 0x210, kTestTarget = 0x280;

inline std::vector<std::uint8_t> BuildTestImage(const TestImage &Image) {
  using namespace pe32;
  std::vector<std::uint8_t> File(Image.FileSize, 0);
  auto Put = [&File](std::size_t At, std::uint32_t Size, std::uint64_t Value) {
    if (At + Size <= File.size()) {
      WriteLe(&File[At], Size, Value);
    }
  };
  Put(dos::Magic, 2, dos::kMagic);
  Put(dos::Lfanew, 4, Image.Lfanew);
  Put(Image.Lfanew, 4, kSignature);
  const std::size_t Coff = Image.Lfanew + kSignatureSize, Optional = Image.Lfanew + kNtHeadersSize;
  const std::uint32_t OptionalSize = Image.OptionalSize != 0 ? Image.OptionalSize : DirectoryOffset(Image.Directories);
  Put(Coff + file_header::Machine, 2, Image.Machine);
  Put(Coff + file_header::NumberOfSections, 2, Image.Sections.size());
  Put(Coff + file_header::SizeOfOptionalHeader, 2, OptionalSize);
  Put(Optional + optional_header::Magic, 2, kMagicPe32);
  Put(Optional + optional_header::AddressOfEntryPoint, 4, Image.EntryPoint);
  Put(Optional + optional_header::BaseOfCode, 4, Image.Sections.empty() ? 0 : Image.Sections[0].VirtualAddress);
  Put(Optional + optional_header::ImageBase, 4, Image.ImageBase);
  Put(Optional + optional_header::SectionAlignment, 4, Image.SectionAlignment);
  Put(Optional + optional_header::FileAlignment, 4, Image.FileAlignment);
  Put(Optional + optional_header::SizeOfImage, 4, Image.SizeOfImage);
  Put(Optional + optional_header::SizeOfHeaders, 4, Image.SizeOfHeaders);
  Put(Optional + optional_header::Subsystem, 2, kSubsystemEfiBootServiceDriver);
  Put(Optional + optional_header::NumberOfRvaAndSizes, 4, Image.Directories);
  const std::size_t Table = Optional + OptionalSize;
  const TestSection *Reloc = nullptr;
  for (std::size_t Index = 0; Index < Image.Sections.size(); Index++) {
    const TestSection &Section = Image.Sections[Index];
    const std::size_t Header = Table + Index * section_header::Size;
    for (std::size_t Char = 0; Char < Section.Name.size() && Char < section_header::NameSize; Char++) {
      Put(Header + Char, 1, static_cast<std::uint8_t>(Section.Name[Char]));
    }
    Put(Header + section_header::VirtualSize, 4, Section.VirtualSize);
    Put(Header + section_header::VirtualAddress, 4, Section.VirtualAddress);
    Put(Header + section_header::SizeOfRawData, 4, Section.RawSize);
    Put(Header + section_header::PointerToRawData, 4, Section.RawOffset);
    Put(Header + section_header::Characteristics, 4, Section.Characteristics);
    Reloc = Section.Name == ".reloc" ? &Section : Reloc;
  }
  // The code's address: what the default relocation names.
  Put(kTestSite, 4, Image.ImageBase + kTestTarget);
  if (Reloc != nullptr && !Image.Relocations.empty()) {
    std::size_t At = Reloc->RawOffset;
    for (std::size_t First = 0; First < Image.Relocations.size();) {
      const std::uint32_t Page = Image.Relocations[First].Rva & ~relocation_block::kOffsetMask;
      std::size_t Last = First;
      while (Last < Image.Relocations.size() && (Image.Relocations[Last].Rva & ~relocation_block::kOffsetMask) == Page) {
        Last++;
      }
      const std::size_t Entries = (Last - First + 1) & ~std::size_t{1};
      const std::uint32_t BlockSize = static_cast<std::uint32_t>(relocation_block::HeaderSize + Entries * relocation_block::EntrySize);
      Put(At + relocation_block::PageRva, 4, Page);
      Put(At + relocation_block::SizeOfBlock, 4, BlockSize);
      for (std::size_t Index = First; Index < Last; Index++) {
        Put(At + relocation_block::HeaderSize + (Index - First) * relocation_block::EntrySize, 2,
            Image.Relocations[Index].Type << relocation_block::kTypeShift |
                (Image.Relocations[Index].Rva & relocation_block::kOffsetMask));
      }
      At += BlockSize;
      First = Last;
    }
    const std::size_t Directory = Optional + DirectoryOffset(data_directory::kBaseRelocation);
    if (Image.Directories > data_directory::kBaseRelocation) {
      Put(Directory + data_directory::VirtualAddress, 4, Reloc->VirtualAddress);
      Put(Directory + data_directory::Size, 4,
          Image.RelocSize != 0 ? Image.RelocSize : static_cast<std::uint32_t>(At - Reloc->RawOffset));
    }
  }
  return File;
}

// The default image changed field by field before it is built (Change), then
// byte by byte (Patch); either may be empty.
inline std::vector<std::uint8_t> BuildTestImage(const std::function<void(TestImage &)> &Change,
                                                const std::function<void(std::vector<std::uint8_t> &)> &Patch) {
  TestImage Image;
  if (Change) {
    Change(Image);
  }
  std::vector<std::uint8_t> File = BuildTestImage(Image);
  if (Patch) {
    Patch(File);
  }
  return File;
}

#endif  // TESTS_SUPPORT_IMAGE_BUILDER_H_
