// The symbol files: built beside every image without changing the shipped
// image's bytes, holding exactly the image's code, with plain names for gdb;
// and pe-symbols refusing a DWARF link that is not the image's.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "CommandRun.h"
#include "ImageForms.h"
#include "Layout/LittleEndian.h"
#include "Layout/Pe32.h"
#include "Scratch.h"
#include "TestFiles.h"
#include "SymbolFile.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::string Beside(const std::string &Image, const std::string &Extension) {
  return Image.substr(0, Image.rfind('.')) + Extension;
}

// The header fields of a section by its name, long names included.
struct SectionPlace {
  std::size_t Header = 0, Raw = 0, Size = 0, Rva = 0;
};
SectionPlace FindSection(const Bytes &File, const std::string &Name) {
  const std::uint32_t Pe = ReadLe32(&File[pe32::dos::Lfanew]);
  const std::uint8_t *FileHeader = &File[Pe + pe32::kSignatureSize];
  const std::size_t Strings = ReadLe32(FileHeader + pe32::file_header::PointerToSymbolTable) +
                              ReadLe32(FileHeader + pe32::file_header::NumberOfSymbols) * pe32::kCoffSymbolSize;
  const std::size_t Table = Pe + pe32::kNtHeadersSize + ReadLe16(FileHeader + pe32::file_header::SizeOfOptionalHeader);
  for (std::size_t Index = 0; Index < ReadLe16(FileHeader + pe32::file_header::NumberOfSections); Index++) {
    const std::size_t Header = Table + Index * pe32::section_header::Size;
    std::string Own(reinterpret_cast<const char *>(&File[Header]), strnlen(reinterpret_cast<const char *>(&File[Header]), 8));
    if (Own[0] == '/') {
      Own = reinterpret_cast<const char *>(&File[Strings + std::stoul(Own.substr(1))]);
    }
    if (Own == Name) {
      return {Header, ReadLe32(&File[Header + pe32::section_header::PointerToRawData]),
              ReadLe32(&File[Header + pe32::section_header::VirtualSize]),
              ReadLe32(&File[Header + pe32::section_header::VirtualAddress])};
    }
  }
  return {};
}

TEST(SymbolFile, TheShippedImageIsTheSameBytesWithoutSymbols) {
  const Bytes Shipped = ReadBytes(MODULE_IMAGE), Plain = ReadBytes(MODULE_WITHOUT_SYMBOLS);
  ASSERT_FALSE(Plain.empty());
  // If this fails, clang changed the code for -g: look for a call whose
  // argument pops became "add esp" (see FORWARDER_WITHOUT_DEBUG_INFO).
  EXPECT_TRUE(Shipped == Plain);
}

TEST(SymbolFile, EveryImageHasOneThatHoldsItsCode) {
  for (const char *Image : {MODULE_IMAGE, DEBUG_LEVEL_IMAGE, ENGINE_IMAGE}) {
    SCOPED_TRACE(Image);
    const Bytes Symbols = ReadBytes(Beside(Image, ".debug"));
    std::string Error;
    EXPECT_TRUE(SymbolFileDescribes(Symbols, ReadBytes(Image), Error)) << Error;
    EXPECT_NE(FindSection(Symbols, ".debug_info").Size, 0u);
    EXPECT_NE(FindSection(Symbols, ".debug_frame").Size, 0u);  // gdb unwinds frames without a frame pointer
  }
  std::string Error;
  EXPECT_FALSE(SymbolFileDescribes(ReadBytes(Beside(DEBUG_LEVEL_IMAGE, ".debug")), ReadBytes(MODULE_IMAGE), Error));
}

TEST(SymbolFile, LinkageNamesBecomeDescriptionsAndNothingElseChanges) {
  const Bytes Link = ReadBytes(MODULE_SYMBOLS_LINK), Image = ReadBytes(MODULE_IMAGE);
  std::string Error;
  const auto Symbols = MakeSymbolFile(Link, Image, Error);
  ASSERT_TRUE(Symbols) << Error;
  EXPECT_EQ(*Symbols, ReadBytes(Beside(MODULE_IMAGE, ".debug")));  // what the build wrote
  ASSERT_EQ(Symbols->size(), Link.size());
  const SectionPlace Abbrev = FindSection(Link, ".debug_abbrev");
  std::size_t Renamed = 0;
  for (std::size_t At = 0; At < Link.size(); At++) {
    if ((*Symbols)[At] != Link[At]) {
      EXPECT_TRUE(At >= Abbrev.Raw && At < Abbrev.Raw + Abbrev.Size) << At;
      EXPECT_EQ(Link[At], 0x6E);  // DW_AT_linkage_name
      EXPECT_EQ((*Symbols)[At], 0x5A);  // DW_AT_description
      Renamed++;
    }
  }
  // As llvm-dwarfdump reads the two: every linkage name is gone.
  const std::string Before = RunCommandLine("llvm-dwarfdump", {"--debug-abbrev", MODULE_SYMBOLS_LINK}).Out;
  const std::string After = RunCommandLine("llvm-dwarfdump", {"--debug-abbrev", Beside(MODULE_IMAGE, ".debug")}).Out;
  auto Count = [](const std::string &Text, const std::string &Word) {
    std::size_t N = 0;
    for (std::size_t At = Text.find(Word); At != std::string::npos; At = Text.find(Word, At + 1)) N++;
    return N;
  };
  EXPECT_GT(Renamed, 10u);
  EXPECT_EQ(Count(Before, "DW_AT_linkage_name"), Renamed);
  EXPECT_EQ(Count(After, "DW_AT_linkage_name"), 0u);
  EXPECT_EQ(Count(After, "DW_AT_description"), Renamed);
}

// Abbreviations as DWARF 5 may write them: a value held in the table itself
// (DW_FORM_implicit_const) must be stepped over to find the next attribute.
TEST(SymbolFile, AnImplicitConstantIsSteppedOver) {
  Bytes Link = ReadBytes(MODULE_SYMBOLS_LINK);
  const SectionPlace Abbrev = FindSection(Link, ".debug_abbrev");
  // code 1, DW_TAG_subprogram, no children; DW_AT_decl_line implicit_const
  // 0x6E (its value looks like the attribute); DW_AT_linkage_name strp; end;
  // code 2 with a linkage name after a two-byte value; end of the table.
  const Bytes Table = {0x01, 0x2E, 0x00, 0x3B, 0x21, 0x6E, 0x6E, 0x0E, 0x00, 0x00,
                       0x02, 0x2E, 0x00, 0x3B, 0x21, 0xEE, 0x00, 0x6E, 0x0E, 0x00, 0x00, 0x00};
  std::fill(Link.begin() + static_cast<long>(Abbrev.Raw), Link.begin() + static_cast<long>(Abbrev.Raw + Abbrev.Size), 0);
  std::copy(Table.begin(), Table.end(), Link.begin() + static_cast<long>(Abbrev.Raw));
  std::string Error;
  const auto Symbols = MakeSymbolFile(Link, ReadBytes(MODULE_IMAGE), Error);
  ASSERT_TRUE(Symbols) << Error;
  Bytes Expected = Table;
  Expected[6] = Expected[17] = 0x5A;  // the two linkage names, not the values
  EXPECT_TRUE(std::equal(Expected.begin(), Expected.end(), Symbols->begin() + static_cast<long>(Abbrev.Raw)));
}

// A base relocation entry of a PE32 file, by its index in the first block.
struct EntryRef {
  Bytes &File;
  std::size_t At;
  EntryRef &operator^=(std::uint16_t Bits) {
    WriteLe(&File[At], 2, ReadLe16(&File[At]) ^ Bits);
    return *this;
  }
  EntryRef &operator+=(std::uint16_t Add) {
    WriteLe(&File[At], 2, ReadLe16(&File[At]) + Add);
    return *this;
  }
};
EntryRef RelocationEntryOf(Bytes &File, std::size_t Index) {
  const SectionPlace Reloc = FindSection(File, ".reloc");
  return {File, Reloc.Raw + pe32::relocation_block::HeaderSize + Index * pe32::relocation_block::EntrySize};
}

TEST(SymbolFile, ALinkThatIsNotTheImagesIsRefusedByItsFirstDifference) {
  const Bytes Link = ReadBytes(MODULE_SYMBOLS_LINK), Image = ReadBytes(MODULE_IMAGE);
  const SectionPlace Text = FindSection(Image, ".text");
  const SectionPlace Abbrev = FindSection(Link, ".debug_abbrev");
  // The first relocation site of .text, from the image's own relocations.
  PE32_INFO Info;
  std::string Error;
  ASSERT_TRUE(ReadImageHeaders(Image, Info, Error));
  PE32_RELOCATION_CURSOR Cursor{};
  LAYOUT_FAULT Fault;
  UINT32 Type = 0, Site = 0;
  ASSERT_TRUE(NextPe32Relocation(Image.data(), static_cast<UINT32>(Image.size()), Info, Cursor, Type, Site, Fault));
  const std::size_t SiteInText = Site - Text.Rva;
  char SiteText[32];
  std::snprintf(SiteText, sizeof SiteText, ".text+0x%zX", SiteInText);
  const std::size_t Plain = SiteInText == 0 ? 4 : 0;  // a byte that is no relocation site

  struct Case {
    const char *Name;
    bool ChangeImage;
    std::function<void(Bytes &)> Change;
    std::string Expected;
  };
  const std::vector<Case> Cases = {
      {"a code byte", true, [&](Bytes &B) { B[Text.Raw + Plain] ^= 1; }, "the code differs at .text+0x" },
      {"the last byte of .text", true, [&](Bytes &B) { B[Text.Raw + Text.Size - 1] ^= 0x40; }, "the code differs at .text+0x"},
      {"an address at a site", true, [&](Bytes &B) { B[Text.Raw + SiteInText] ^= 4; },
       std::string("the address at ") + SiteText + " differs"},
      {"a site dropped", true, [&](Bytes &B) {
         const std::uint32_t Reloc = ReadLe32(&B[Info.OptionalOffset + pe32::DirectoryOffset(pe32::data_directory::kBaseRelocation)]);
         const SectionPlace RelocSection = FindSection(B, ".reloc");
         WriteLe(&B[RelocSection.Raw + (Reloc - RelocSection.Rva) + pe32::relocation_block::HeaderSize], 2, 0);
       }, "relocates other places of .text than the image"},
      {"no .debug_abbrev", false, [&](Bytes &B) {
         const std::size_t At = std::search(B.begin(), B.end(), std::begin(".debug_abbrev"), std::end(".debug_abbrev")) - B.begin();
         B[At + 12] = 'x';
       }, "has no .debug_abbrev section"},
      {"an unfinished abbreviation", false, [&](Bytes &B) {
         std::fill(B.begin() + static_cast<long>(Abbrev.Raw + Abbrev.Size - 6), B.begin() + static_cast<long>(Abbrev.Raw + Abbrev.Size), 0x81);
       }, "the DWARF abbreviations run past the end of .debug_abbrev"},
      // The table cut inside an abbreviation's code, then inside its tag.
      {"a cut code", false, [&](Bytes &B) {
         std::fill(B.begin() + static_cast<long>(Abbrev.Raw), B.begin() + static_cast<long>(Abbrev.Raw + Abbrev.Size), 0);
         B[Abbrev.Raw + Abbrev.Size - 1] = 0x81;
       }, "the DWARF abbreviations run past the end of .debug_abbrev"},
      {"a cut tag", false, [&](Bytes &B) {
         std::fill(B.begin() + static_cast<long>(Abbrev.Raw), B.begin() + static_cast<long>(Abbrev.Raw + Abbrev.Size), 0);
         B[Abbrev.Raw + Abbrev.Size - 2] = 0x01;
         B[Abbrev.Raw + Abbrev.Size - 1] = 0x81;
       }, "the DWARF abbreviations run past the end of .debug_abbrev"},
      {"a tag without its children flag", false, [&](Bytes &B) {
         std::fill(B.begin() + static_cast<long>(Abbrev.Raw), B.begin() + static_cast<long>(Abbrev.Raw + Abbrev.Size), 0);
         B[Abbrev.Raw + Abbrev.Size - 2] = 0x01;
         B[Abbrev.Raw + Abbrev.Size - 1] = 0x2E;
       }, "the DWARF abbreviations run past the end of .debug_abbrev"},
      // Its relocations: one of another kind, and one site moved by a byte
      // (as many sites as the image's, but not the same places).
      {"a relocation of another type", false, [&](Bytes &B) { RelocationEntryOf(B, 0) ^= 0x9000; },
       "the DWARF link: a base relocation of type 10"},
      {"a site moved", false, [&](Bytes &B) { RelocationEntryOf(B, 0) += 1; },
       "relocates other places of .text than the image"},
      {"not an image", true, [&](Bytes &B) { B.resize(100); }, "the image: "},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.Name);
    Bytes ChangedLink = Link, ChangedImage = Image;
    C.Change(C.ChangeImage ? ChangedImage : ChangedLink);
    Error.clear();
    EXPECT_FALSE(MakeSymbolFile(ChangedLink, ChangedImage, Error));
    EXPECT_NE(Error.find(C.Expected), std::string::npos) << Error;
  }
}

TEST(SymbolFile, TheOffsetIsTheSameForTheTeForm) {
  const Bytes Symbols = ReadBytes(Beside(MODULE_IMAGE, ".debug")), Image = ReadBytes(MODULE_IMAGE);
  std::string Error;
  const auto Te = ToTe(Image, Error);
  ASSERT_TRUE(Te) << Error;
  const auto FromPe = SymbolOffset(Symbols, Image, 0xFFFF0000, Error);
  const auto FromTe = SymbolOffset(Symbols, *Te, 0xFFFF0000, Error);
  ASSERT_TRUE(FromPe && FromTe) << Error;
  EXPECT_EQ(*FromPe, *FromTe);
  EXPECT_EQ(*FromPe, 0xFFFF0000u + FindSection(Image, ".text").Rva - FindSection(Symbols, ".text").Rva);
  EXPECT_FALSE(SymbolOffset(Bytes(64, 0), Image, 0, Error));
}

// A symbol file linked at another base holds the same code (its addresses
// moved with its base); the offset then takes that base away again.
TEST(SymbolFile, ASymbolFileAtAnotherBaseGetsItsOwnOffset) {
  const Bytes Symbols = ReadBytes(Beside(MODULE_IMAGE, ".debug")), Image = ReadBytes(MODULE_IMAGE);
  std::string Error;
  const auto Moved = RebaseImage(Symbols, 0x00400000, Error);
  ASSERT_TRUE(Moved) << Error;
  EXPECT_TRUE(SymbolFileDescribes(*Moved, Image, Error)) << Error;
  const auto AtZero = SymbolOffset(Symbols, Image, 0xFFFF0000, Error);
  const auto AtMoved = SymbolOffset(*Moved, Image, 0xFFFF0000, Error);
  ASSERT_TRUE(AtZero && AtMoved) << Error;
  EXPECT_EQ(*AtMoved, *AtZero - 0x00400000u);
}

TEST(SymbolFile, PeSymbolsSaysWhatIsWrongAndWritesNothing) {
  const CommandResult Usage = RunCommandLine(PE_SYMBOLS_PATH, {});
  EXPECT_EQ(Usage.Exit, 2);
  EXPECT_NE(Usage.Err.find("usage: pe-symbols DWARF_LINK IMAGE.efi OUT.debug"), std::string::npos);
  const std::string Out = ScratchPath("out.debug");
  const CommandResult Missing = RunCommandLine(PE_SYMBOLS_PATH, {ScratchPath("none"), MODULE_IMAGE, Out});
  EXPECT_EQ(Missing.Exit, 1);
  EXPECT_NE(Missing.Err.find("none: cannot be opened"), std::string::npos) << Missing.Err;
  const CommandResult Other = RunCommandLine(PE_SYMBOLS_PATH, {MODULE_SYMBOLS_LINK, DEBUG_LEVEL_IMAGE, Out});
  EXPECT_EQ(Other.Exit, 1);
  EXPECT_NE(Other.Err.find("pe-symbols: " MODULE_SYMBOLS_LINK " for " DEBUG_LEVEL_IMAGE ": the DWARF link's .text"),
            std::string::npos)
      << Other.Err;
  EXPECT_FALSE(std::filesystem::exists(Out));  // nothing written
  const CommandResult Made = RunCommandLine(PE_SYMBOLS_PATH, {MODULE_SYMBOLS_LINK, MODULE_IMAGE, Out});
  EXPECT_EQ(Made.Exit, 0) << Made.Err;
  EXPECT_EQ(ReadBytes(Out), ReadBytes(Beside(MODULE_IMAGE, ".debug")));
}

}  // namespace
