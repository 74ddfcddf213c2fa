// The layout library's PE32 and TE checks on images built field by field:
// each bound at its edge (the last value that passes and the first that
// fails), and the rules of an image that executes in place.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "ImageBuilder.h"
#include "Layout/LittleEndian.h"
#include "Layout/Pe32.h"
#include "Layout/Te.h"
#include "Library/PiLayoutLib.h"

namespace {

using Bytes = std::vector<UINT8>;

constexpr UINT32 kOptional = 0x40 + pe32::kNtHeadersSize;  // where the default image's optional header lies

UINT32 HeaderCheck(const Bytes &File) {
  PE32_INFO Info;
  LAYOUT_FAULT Fault;
  CheckPe32Headers(File.data(), static_cast<UINT32>(File.size()), 16u << 20, Info, Fault);
  return Fault.Check;
}

// The first fault of walking the whole image: headers, sections, relocations.
UINT32 WalkCheck(const Bytes &File) {
  PE32_INFO Info;
  LAYOUT_FAULT Fault;
  const auto Size = static_cast<UINT32>(File.size());
  if (!CheckPe32Headers(File.data(), Size, 16u << 20, Info, Fault)) {
    return Fault.Check;
  }
  PE32_SECTION Section;
  for (UINT32 Index = 0; Index < Info.NumberOfSections; Index++) {
    if (!ReadPe32Section(File.data(), Size, Info, Index, Section, Fault)) {
      return Fault.Check;
    }
  }
  PE32_RELOCATION_CURSOR Cursor{};
  UINT32 Type, Target;
  while (NextPe32Relocation(File.data(), Size, Info, Cursor, Type, Target, Fault)) {
  }
  return Fault.Check;
}

struct Case {
  const char *Name;
  std::function<void(TestImage &)> Change;
  std::function<void(Bytes &)> Patch;
  UINT32 Check;
};

Bytes Built(const Case &Each) { return BuildTestImage(Each.Change, Each.Patch); }

TEST(Pe32Layout, HeaderFieldsAtTheirLimits) {
  using namespace pe32;
  const std::vector<Case> Cases = {
      {"the default image", nullptr, nullptr, LAYOUT_OK},
      {"a DOS header and no more", nullptr, [](Bytes &B) { B.resize(dos::Size); }, PE_LFANEW},
      {"shorter than a DOS header", nullptr, [](Bytes &B) { B.resize(dos::Size - 1); }, PE_DOS_CUT},
      {"no MZ", nullptr, [](Bytes &B) { B[0] = 'N'; }, PE_NO_MZ},
      // e_lfanew must leave room for the signature and the file header.
      {"e_lfanew with 24 bytes left", nullptr, [](Bytes &B) {
         WriteLe(&B[dos::Lfanew], 4, B.size() - kNtHeadersSize);
         WriteLe(&B[B.size() - kNtHeadersSize], 4, kSignature);
       }, PE_OPTIONAL_SIZE},
      {"e_lfanew with 23 bytes left", nullptr, [](Bytes &B) { WriteLe(&B[dos::Lfanew], 4, B.size() - kNtHeadersSize + 1); },
       PE_LFANEW},
      {"e_lfanew with room for the signature only", nullptr, [](Bytes &B) { WriteLe(&B[dos::Lfanew], 4, B.size() - 4); },
       PE_LFANEW},
      {"e_lfanew far past the file", nullptr, [](Bytes &B) { WriteLe(&B[dos::Lfanew], 4, 0xFFFFFFF0u); }, PE_LFANEW},
      {"no PE signature", nullptr, [](Bytes &B) { B[0x40] = 'Q'; }, PE_NO_SIGNATURE},
      // The optional header: at least its 96 bytes without directories.
      {"optional header of 96 bytes, no directories", [](TestImage &I) { I.Directories = 0; }, nullptr, LAYOUT_OK},
      {"optional header of 95 bytes", [](TestImage &I) {
         I.Directories = 0;
         I.OptionalSize = 95;
       }, nullptr, PE_OPTIONAL_SIZE},
      {"optional header past the file", [](TestImage &I) { I.OptionalSize = 0x400; }, nullptr, PE_OPTIONAL_SIZE},
      {"magic PE32+", nullptr, [](Bytes &B) { WriteLe(&B[kOptional], 2, 0x20B); }, PE_MAGIC},
      // At most 16 directories, and no more than the optional header holds.
      {"17 directories", [](TestImage &I) { I.Directories = 17; }, nullptr, PE_DIRECTORIES},
      {"16 directories in room for 15", [](TestImage &I) { I.OptionalSize = DirectoryOffset(15); }, nullptr, PE_DIRECTORIES},
      {"SizeOfImage 0", [](TestImage &I) { I.SizeOfImage = 0; }, nullptr, PE_SIZE_OF_IMAGE},
      {"SizeOfImage 16 MiB", [](TestImage &I) { I.SizeOfImage = 16u << 20; }, nullptr, LAYOUT_OK},
      {"SizeOfImage past 16 MiB", [](TestImage &I) { I.SizeOfImage = (16u << 20) + 1; }, nullptr, PE_SIZE_OF_IMAGE},
      {"SizeOfHeaders the whole image", [](TestImage &I) { I.SizeOfHeaders = 0x400; }, nullptr, LAYOUT_OK},
      {"SizeOfHeaders past the image", [](TestImage &I) { I.SizeOfHeaders = 0x401; }, nullptr, PE_SIZE_OF_HEADERS},
      // The entry point lies inside the image: its last byte at most.
      {"entry at the last byte", [](TestImage &I) { I.EntryPoint = 0x3FF; }, nullptr, LAYOUT_OK},
      {"entry at SizeOfImage", [](TestImage &I) { I.EntryPoint = 0x400; }, nullptr, PE_ENTRY},
      {"no sections", [](TestImage &I) { I.Sections.clear(); }, nullptr, PE_SECTION_COUNT},
      {"97 sections", nullptr, [](Bytes &B) { WriteLe(&B[0x40 + 4 + file_header::NumberOfSections], 2, 97); },
       PE_SECTION_COUNT},
      {"a section table past the file", nullptr, [](Bytes &B) { WriteLe(&B[0x40 + 4 + file_header::NumberOfSections], 2, 96); },
       PE_SECTION_COUNT},
  };
  for (const Case &Each : Cases) {
    SCOPED_TRACE(Each.Name);
    EXPECT_EQ(HeaderCheck(Built(Each)), Each.Check) << LayoutCheckText(HeaderCheck(Built(Each)));
  }
}

TEST(Pe32Layout, SectionsAndRelocationsAtTheirLimits) {
  using namespace pe32;
  const std::vector<Case> Cases = {
      // A section's raw data ends with the file at the latest.
      {"raw data to the end of the file", [](TestImage &I) { I.Sections[1].RawSize = 0x100; }, nullptr, LAYOUT_OK},
      {"raw data a byte past it", [](TestImage &I) { I.Sections[1].RawSize = 0x101; }, nullptr, PE_SECTION_RAW},
      {"raw data far past it", [](TestImage &I) { I.Sections[1].RawOffset = 0xFFFFFF00u; }, nullptr, PE_SECTION_RAW},
      // Its loaded part ends with the image at the latest.
      {"loaded to the end of the image", [](TestImage &I) { I.Sections[1].VirtualAddress = 0x300; }, nullptr, LAYOUT_OK},
      {"loaded a byte past it", [](TestImage &I) { I.Sections[1].VirtualAddress = 0x301; }, nullptr, PE_SECTION_VIRTUAL},
      // The relocation directory lies in the image.
      {"relocation directory past the image", nullptr,
       [](Bytes &B) { WriteLe(&B[kOptional + DirectoryOffset(data_directory::kBaseRelocation)], 4, 0x3F8); },
       PE_RELOC_DIRECTORY},
      // A block may fill what remains of the directory after it, not more.
      {"a block of the whole directory", [](TestImage &I) { I.RelocSize = 0x0C; }, nullptr, LAYOUT_OK},
      {"a block larger than what remains", [](TestImage &I) { I.RelocSize = 0x0A; }, nullptr, PE_RELOC_BLOCK_SIZE},
      {"a block of an odd size", nullptr, [](Bytes &B) { WriteLe(&B[0x300 + relocation_block::SizeOfBlock], 4, 0x0B); },
       PE_RELOC_BLOCK_SIZE},
      {"a block below its header's size", nullptr, [](Bytes &B) { WriteLe(&B[0x300 + relocation_block::SizeOfBlock], 4, 6); },
       PE_RELOC_BLOCK_SIZE},
      {"a block in no section", [](TestImage &I) { I.SizeOfImage = 0x500; },
       [](Bytes &B) { WriteLe(&B[kOptional + DirectoryOffset(data_directory::kBaseRelocation)], 4, 0x400); },
       PE_RELOC_BLOCK_LOST},
      // A HIGHLOW target's four bytes lie in the image: not one starting in its last three.
      {"a target ending with the image", [](TestImage &I) { I.Relocations[0].Rva = 0x3FC; }, nullptr, LAYOUT_OK},
      {"a target in the last three bytes", [](TestImage &I) { I.Relocations[0].Rva = 0x3FD; }, nullptr, PE_RELOC_TARGET},
      {"a target in the last two bytes", [](TestImage &I) { I.Relocations[0].Rva = 0x3FE; }, nullptr, PE_RELOC_TARGET},
      {"a target in the last byte", [](TestImage &I) { I.Relocations[0].Rva = 0x3FF; }, nullptr, PE_RELOC_TARGET},
      {"a target past the image", [](TestImage &I) { I.Relocations[0].Rva = 0x1210; }, nullptr, PE_RELOC_TARGET},
  };
  for (const Case &Each : Cases) {
    SCOPED_TRACE(Each.Name);
    EXPECT_EQ(WalkCheck(Built(Each)), Each.Check) << LayoutCheckText(WalkCheck(Built(Each)));
  }
}

UINT32 InPlaceCheck(const Bytes &File) {
  PE32_INFO Info;
  LAYOUT_FAULT Fault;
  const auto Size = static_cast<UINT32>(File.size());
  const bool Te = ReadLe16(File.data()) == te::kSignature;
  if (!(Te ? CheckTeHeaders(File.data(), Size, 16u << 20, Info, Fault)
           : CheckPe32Headers(File.data(), Size, 16u << 20, Info, Fault))) {
    return Fault.Check;
  }
  CheckExecutesInPlace(File.data(), Size, Info, Fault);
  return Fault.Check;
}

TEST(Pe32Layout, AnImageExecutesInPlaceOnlyWhenItRunsAsItLies) {
  const std::vector<Case> Cases = {
      {"the default image", nullptr, nullptr, LAYOUT_OK},
      {"a section not at its RVA", [](TestImage &I) { I.Sections[0].VirtualAddress = 0x220; }, nullptr, PE_NOT_IN_PLACE},
      {"a section larger in memory by a byte", [](TestImage &I) { I.Sections[0].VirtualSize = 0x101; }, nullptr,
       PE_SECTION_BEYOND_RAW},
      {"a section with no raw data", [](TestImage &I) { I.Sections[1].RawSize = 0; }, nullptr, PE_SECTION_BEYOND_RAW},
      {"an empty section", [](TestImage &I) { I.Sections.push_back({".bss", 0x400, 0, 0, 0}); }, nullptr, LAYOUT_OK},
      {"raw data padded past the section", [](TestImage &I) { I.Sections[0].VirtualSize = 0xF0; }, nullptr, LAYOUT_OK},
      {"an image as large as its file", nullptr, nullptr, LAYOUT_OK},
      // The bytes after the section table are no section of the image.
      {"header bytes after the table", nullptr,
       [](Bytes &B) { std::fill(B.begin() + 0x188, B.begin() + 0x188 + pe32::section_header::Size, 0xFF); }, LAYOUT_OK},
      {"an image a byte larger than its file", [](TestImage &I) { I.SizeOfImage = 0x401; }, nullptr, PE_IMAGE_BEYOND_FILE},
  };
  for (const Case &Each : Cases) {
    SCOPED_TRACE(Each.Name);
    EXPECT_EQ(InPlaceCheck(Built(Each)), Each.Check) << LayoutCheckText(InPlaceCheck(Built(Each)));
  }
}

// What a section puts into the image: its raw data, but never more than its
// virtual size says (the rest is file alignment); a virtual size of 0 means
// the raw size.
TEST(Pe32Layout, ASectionLoadsItsRawDataUpToItsVirtualSize) {
  for (const auto &[VirtualSize, Loaded] : {std::pair{0xF0u, 0xF0u}, {0x100u, 0x100u}, {0x120u, 0x100u}, {0u, 0x100u}}) {
    SCOPED_TRACE(VirtualSize);
    TestImage Image;
    Image.Sections[0].VirtualSize = VirtualSize;
    const Bytes File = BuildTestImage(Image);
    PE32_INFO Info;
    LAYOUT_FAULT Fault;
    ASSERT_TRUE(CheckPe32Headers(File.data(), static_cast<UINT32>(File.size()), 16u << 20, Info, Fault));
    PE32_SECTION Section;
    ASSERT_TRUE(ReadPe32Section(File.data(), static_cast<UINT32>(File.size()), Info, 0, Section, Fault));
    EXPECT_EQ(Section.LoadedSize, Loaded);
  }
}

// A TE image of the default PE32 image: its headers up to the section table
// replaced by the 40-byte TE header.
Bytes TeOf(const Bytes &Pe32) {
  const UINT32 Table = kOptional + pe32::DirectoryOffset(16);
  Bytes Te(te::Size, 0);
  WriteLe(&Te[te::Signature], 2, te::kSignature);
  WriteLe(&Te[te::Machine], 2, pe32::kMachineI386);
  Te[te::NumberOfSections] = 2;
  Te[te::Subsystem] = pe32::kSubsystemEfiBootServiceDriver;
  WriteLe(&Te[te::StrippedSize], 2, Table);
  WriteLe(&Te[te::AddressOfEntryPoint], 4, 0x200);
  WriteLe(&Te[te::RelocationDirectory], 4, 0x300);
  WriteLe(&Te[te::RelocationDirectory + 4], 4, 0x0C);
  Te.insert(Te.end(), Pe32.begin() + Table, Pe32.end());
  return Te;
}

TEST(Pe32Layout, TeHeadersAtTheirLimits) {
  const Bytes Te = TeOf(BuildTestImage({}));
  PE32_INFO Info;
  LAYOUT_FAULT Fault;
  ASSERT_TRUE(CheckTeHeaders(Te.data(), static_cast<UINT32>(Te.size()), 16u << 20, Info, Fault)) << LayoutCheckText(Fault.Check);
  EXPECT_EQ(Info.SizeOfImage, 0x400u);
  EXPECT_EQ(InPlaceCheck(Te), LAYOUT_OK);
  // The section table must lie in the file: cut inside it, or one section too many.
  const UINT32 TableEnd = te::Size + 2 * pe32::section_header::Size;
  EXPECT_TRUE(CheckTeHeaders(Te.data(), TableEnd, 16u << 20, Info, Fault));
  EXPECT_FALSE(CheckTeHeaders(Te.data(), TableEnd - 1, 16u << 20, Info, Fault));
  EXPECT_EQ(Fault.Check, PE_SECTION_COUNT);
  Bytes More = Te;
  More[te::NumberOfSections] = static_cast<UINT8>((Te.size() - te::Size) / pe32::section_header::Size + 1);
  EXPECT_FALSE(CheckTeHeaders(More.data(), static_cast<UINT32>(More.size()), 16u << 20, Info, Fault));
  EXPECT_EQ(Fault.Check, PE_SECTION_COUNT);
  // The file holds RVAs up to its size plus what the TE header stands for.
  Bytes Cut = Te;
  Cut.pop_back();
  EXPECT_EQ(InPlaceCheck(Cut), PE_SECTION_RAW);
  EXPECT_FALSE(CheckTeHeaders(Te.data(), te::Size - 1, 16u << 20, Info, Fault));
  EXPECT_EQ(Fault.Check, TE_CUT);
}

}  // namespace
