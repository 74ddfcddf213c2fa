// The build steps refuse what they cannot do instead of writing something
// that looks right: pe-compact, the rebase and the TE form, the file and
// volume builders, the ROM builder and pei-rom, pei-pack. Each refusal names
// the fault, exits 1 and leaves no output behind.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "CommandRun.h"
#include "FileBytes.h"
#include "FirmwarePacking.h"
#include "ImageBuilder.h"
#include "ImageForms.h"
#include "Layout/LittleEndian.h"
#include "Layout/Te.h"
#include "PeCompaction.h"
#include "RomImage.h"
#include "Scratch.h"
#include "TestFiles.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// The folder holds nothing but what the test put there: no output, no
// temporary file of a step that failed.
std::vector<std::string> FilesIn(const std::string &Folder) {
  std::vector<std::string> Names;
  for (const auto &Entry : std::filesystem::directory_iterator(Folder)) {
    Names.push_back(Entry.path().filename().string());
  }
  std::sort(Names.begin(), Names.end());
  return Names;
}

std::string FreshFolder(const std::string &Name) {
  const std::string Folder = ScratchPath(Name);
  std::filesystem::remove_all(Folder);
  std::filesystem::create_directories(Folder);
  return Folder;
}

TEST(PeCompact, MovesEverySectionRvaAndAddressDownByTheBytesSaved) {
  std::string Error;
  const auto Compacted = CompactImage(BuildTestImage({}), Error);
  ASSERT_TRUE(Compacted) << Error;
  // 64 + 24 + 152 (7 directories) + 2 sections of 40: 0x128, to 0x140.
  ASSERT_EQ(Compacted->Saved, 0x200u - 0x140u);
  const Bytes &Out = Compacted->Image;
  PE32_INFO Info;
  ASSERT_TRUE(ReadImageHeaders(Out, Info, Error)) << Error;
  EXPECT_EQ(Info.NumberOfDirectories, 7u);
  EXPECT_EQ(Info.SizeOfHeaders, 0x140u);
  EXPECT_EQ(Info.SizeOfImage, 0x400u - 0xC0u);  // and not a byte more than the file
  EXPECT_EQ(Info.SizeOfImage, Out.size());
  EXPECT_EQ(Info.EntryPoint, 0x200u - 0xC0u);
  EXPECT_EQ(Info.RelocRva, 0x300u - 0xC0u);
  EXPECT_EQ(ReadLe32(&Out[kTestSite - 0xC0]), kTestTarget - 0xC0);  // the site moved, and its address with it
  LAYOUT_FAULT Fault;
  EXPECT_TRUE(CheckExecutesInPlace(Out.data(), static_cast<UINT32>(Out.size()), Info, Fault)) << LayoutCheckText(Fault.Check);
  PE32_RELOCATION_CURSOR Cursor{};
  UINT32 Type, Target;
  ASSERT_TRUE(NextPe32Relocation(Out.data(), static_cast<UINT32>(Out.size()), Info, Cursor, Type, Target, Fault));
  EXPECT_EQ(Target, kTestSite - 0xC0);
  EXPECT_FALSE(NextPe32Relocation(Out.data(), static_cast<UINT32>(Out.size()), Info, Cursor, Type, Target, Fault));
  EXPECT_EQ(Fault.Check, LAYOUT_OK);
}

TEST(PeCompact, RefusesWhatItCannotMove) {
  struct Case {
    const char *Name;
    std::function<void(TestImage &)> Change;
    std::function<void(Bytes &)> Patch;
    const char *Words;
  };
  const std::vector<Case> Cases = {
      {"six directories", [](TestImage &I) { I.Directories = 6; }, nullptr, "holds 6 data directories"},
      {"a directory past the debug one", nullptr,
       [](Bytes &B) { WriteLe(&B[0x40 + 24 + pe32::DirectoryOffset(8)], 4, 0x300); }, "data directory 8 is in use"},
      {"file alignment 0x30", [](TestImage &I) { I.FileAlignment = 0x30; }, nullptr, "FileAlignment 0x30"},
      {"a section not at its RVA", [](TestImage &I) { I.Sections[0].VirtualAddress = 0x220; }, nullptr,
       "section .text's file offset 0x200 is not its RVA 0x220: the image cannot be made to execute in place"},
      {"a section larger in memory", [](TestImage &I) { I.Sections[0].VirtualSize = 0x101; }, nullptr,
       "section .text is larger in memory (0x101 bytes) than in the file (0x100)"},
      {"a gap between sections",
       [](TestImage &I) { I.Sections[1] = {".reloc", 0x320, 0xE0, 0x320, 0xE0}; }, nullptr,
       "sections do not follow one another"},
      {"a relocation of another type", [](TestImage &I) { I.Relocations[0].Type = 10; }, nullptr,
       "a base relocation of type 10"},
      {"a relocation in the headers", [](TestImage &I) { I.Relocations[0].Rva = 0x80; }, nullptr,
       "the base relocation at RVA 0x80 has no place"},
      {"a relocation past the sections",
       [](TestImage &I) {
         I.FileSize = I.SizeOfImage = 0x500;
         I.Relocations[0].Rva = 0x4FC;
       },
       nullptr, "the base relocation at RVA 0x4FC has no place in the compacted image"},
      {"an address in the headers", nullptr, [](Bytes &B) { WriteLe(&B[kTestSite], 4, 0xBF); },
       "the address at RVA 0x210 (0xBF) lies in the headers that go"},
      {"an entry point in the headers", [](TestImage &I) { I.EntryPoint = 0x10; }, nullptr,
       "AddressOfEntryPoint 0x10 lies in the headers"},
      {"headers that would grow",  // the PE headers inside the DOS header: the compact ones start later
       [](TestImage &I) {
         I.Lfanew = 0x20;
         I.Directories = 7;
         I.SizeOfHeaders = 0x120;
       },
       nullptr, "would be larger than the linked ones"},
      {"not an image", nullptr, [](Bytes &B) { B.resize(0x20); }, "shorter than a DOS header"},
  };
  for (const Case &Each : Cases) {
    SCOPED_TRACE(Each.Name);
    std::string Error;
    EXPECT_FALSE(CompactImage(BuildTestImage(Each.Change, Each.Patch), Error));
    EXPECT_NE(Error.find(Each.Words), std::string::npos) << Error;
  }
}

TEST(PeCompact, TheMapMovesWithTheImageAndAMapWithoutSymbolsIsRefused) {
  const std::string Map = " Address  Publics by Value  Rva+Base  Lib:Object\n"
                          " 0001:00000010       _ModuleEntry               0000000000000210     a.obj\n"
                          " entry point at         0001:00000010\n";
  std::string Error;
  const auto Moved = MoveLinkMapDown(Map, 0xC0, Error);
  ASSERT_TRUE(Moved) << Error;
  EXPECT_NE(Moved->find("_ModuleEntry               0000000000000150     a.obj"), std::string::npos) << *Moved;
  EXPECT_NE(Moved->find("entry point at         0001:00000010"), std::string::npos);
  EXPECT_FALSE(MoveLinkMapDown(Map, 0x211, Error));
  EXPECT_NE(Error.find("_ModuleEntry (0x210) lies in the headers that go"), std::string::npos) << Error;
  EXPECT_FALSE(MoveLinkMapDown("no symbols\n", 0xC0, Error));
  EXPECT_EQ(Error, "no symbol in the link map");
}

// The steps as the build runs them: usage 2; 1 with one line naming the file
// and nothing written for a missing input, a refused input or an output that
// cannot be written; 0 with every output written.
TEST(BuildSteps, ExitStatusesAndNothingWrittenOnFailure) {
  const std::string Folder = FreshFolder("steps");
  const std::string Image = WriteScratchFile("steps/in.efi", BuildTestImage({}));
  const std::string Map = ScratchPath("steps/in.map");
  std::string Error;
  ASSERT_TRUE(WriteFileText(Map, " 0001:00000010       _E   0000000000000210     a.obj\n", Error)) << Error;
  const std::string Broken = WriteScratchFile("steps/broken.efi", Bytes(0x20, 0));
  const std::vector<std::string> Inputs = FilesIn(Folder);
  struct Case {
    const char *Name;
    const char *Program;
    std::vector<std::string> Args;
    int Exit;
    const char *Words;
  } Cases[] = {
      {"pe-compact usage", PE_COMPACT_PATH, {Image}, 2, "usage: pe-compact IN.efi OUT.efi [IN.map OUT.map]"},
      {"pe-compact no input", PE_COMPACT_PATH, {Folder + "/none.efi", Folder + "/out.efi"}, 1, "none.efi: cannot be opened"},
      {"pe-compact no map", PE_COMPACT_PATH, {Image, Folder + "/out.efi", Folder + "/none.map", Folder + "/out.map"}, 1,
       "none.map: cannot be opened"},
      {"pe-compact refused", PE_COMPACT_PATH, {Broken, Folder + "/out.efi"}, 1,
       "broken.efi: file of 32 bytes is shorter than a DOS header (64)"},
      {"pe-compact cannot write", PE_COMPACT_PATH, {Image, Folder + "/no/out.efi"}, 1, "no/out.efi: cannot be written"},
      {"pei-pack usage", PEI_PACK_PATH, {Image}, 2, "usage: pei-pack"},
      {"pei-pack refused", PEI_PACK_PATH, {Broken, "1", Folder + "/o.ffs", Folder + "/o.fv"}, 1, "broken.efi: not a PE32 image"},
      {"pei-pack a TE image", PEI_PACK_PATH, {ARTIFACT_TE, "1", Folder + "/o.ffs", Folder + "/o.fv"}, 1, "not a PE32 image: a TE image"},
      {"pei-pack cannot write", PEI_PACK_PATH, {MODULE_IMAGE, "1", Folder + "/o.ffs", Folder + "/no/o.fv"}, 1,
       "no/o.fv: cannot be written"},
      {"pei-rom usage", PEI_ROM_PATH, {Image}, 2, "usage: pei-rom"},
      {"pei-rom no symbols", PEI_ROM_PATH,
       {Folder + "/o.rom", MODULE_IMAGE, Map, ROM_PARTS "/BusInfoPei.efi", ROM_PARTS "/Foundation.bin", ROM_PARTS "/Sec.bin", "1"}, 1,
       "in.map: no _SerialWrite in the link map: the foundation could not watch it"},
      {"pei-rom no foundation", PEI_ROM_PATH,
       {Folder + "/o.rom", MODULE_IMAGE, MODULE_MAP, ROM_PARTS "/BusInfoPei.efi", Folder + "/none.bin", ROM_PARTS "/Sec.bin", "1"}, 1,
       "none.bin: cannot be opened"},
      {"pei-rom refused", PEI_ROM_PATH,
       {Folder + "/o.rom", Broken, MODULE_MAP, ROM_PARTS "/BusInfoPei.efi", ROM_PARTS "/Foundation.bin", ROM_PARTS "/Sec.bin", "1"}, 1,
       "SocPreInit: "},
      {"pei-rom cannot write", PEI_ROM_PATH,
       {Folder + "/no/o.rom", MODULE_IMAGE, MODULE_MAP, ROM_PARTS "/BusInfoPei.efi", ROM_PARTS "/Foundation.bin",
        ROM_PARTS "/Sec.bin", "1"},
       1, "no/o.rom: cannot be written"},
  };
  for (const Case &Each : Cases) {
    SCOPED_TRACE(Each.Name);
    const CommandResult Run = RunCommandLine(Each.Program, Each.Args);
    EXPECT_EQ(Run.Exit, Each.Exit) << Run.Err;
    EXPECT_NE(Run.Err.find(Each.Words), std::string::npos) << Run.Err;
    EXPECT_EQ(std::count(Run.Err.begin(), Run.Err.end(), '\n'), 1) << Run.Err;
    EXPECT_EQ(FilesIn(Folder), Inputs);
  }
  // And when all is well, every output.
  EXPECT_EQ(RunCommandLine(PE_COMPACT_PATH, {MODULE_IMAGE ".linked", Folder + "/m.efi", MODULE_MAP ".linked", Folder + "/m.map"}).Exit, 0);
  EXPECT_EQ(ReadBytes(Folder + "/m.efi"), ReadBytes(MODULE_IMAGE));
  EXPECT_EQ(ReadBytes(Folder + "/m.map"), ReadBytes(MODULE_MAP));
  EXPECT_EQ(RunCommandLine(PEI_PACK_PATH, {MODULE_IMAGE, "0.9.0", Folder + "/m.ffs", Folder + "/m.fv", Folder + "/m.te"}).Exit, 0);
  EXPECT_EQ(ReadBytes(Folder + "/m.ffs"), ReadBytes(ARTIFACT_FFS));
  EXPECT_EQ(ReadBytes(Folder + "/m.te"), ReadBytes(ARTIFACT_TE));
}

TEST(ImageForms, RebaseAppliesEverySiteAndRefusesWhatItCannotApply) {
  std::string Error;
  const auto Moved = RebaseImage(BuildTestImage({}), 0x00200000, Error);
  ASSERT_TRUE(Moved) << Error;
  EXPECT_EQ(ReadLe32(&(*Moved)[kTestSite]), 0x00200000u + kTestTarget);
  PE32_INFO Info;
  ASSERT_TRUE(ReadImageHeaders(*Moved, Info, Error));
  EXPECT_EQ(Info.ImageBase, 0x00200000u);

  // Without relocations the base may stay, but not move.
  TestImage Bare;
  Bare.Relocations.clear();
  EXPECT_TRUE(RebaseImage(BuildTestImage(Bare), 0, Error)) << Error;
  EXPECT_FALSE(RebaseImage(BuildTestImage(Bare), 0x1000, Error));
  EXPECT_EQ(Error, "no base relocations: the image cannot be moved from 0x00000000 to 0x00001000");

  TestImage Other;
  Other.Relocations[0].Type = 10;
  EXPECT_FALSE(RebaseImage(BuildTestImage(Other), 0x1000, Error));
  EXPECT_NE(Error.find("(type 10, RVA 528)"), std::string::npos) << Error;

  // A site's four bytes must lie in the file: the image here is larger than
  // its file, so the layout library passes sites the file does not hold.
  for (const auto &[Site, Applies] : {std::pair{0x3FCu, true}, {0x3FDu, false}, {0x3FEu, false}, {0x3FFu, false}}) {
    SCOPED_TRACE(Site);
    TestImage Cut;
    Cut.SizeOfImage = 0x500;
    Cut.Relocations[0].Rva = Site;
    EXPECT_EQ(RebaseImage(BuildTestImage(Cut), 0x1000, Error).has_value(), Applies) << Error;
  }
}

TEST(ImageForms, TheTeFormRefusesHeadersItCannotHold) {
  // StrippedSize is 16 bits: the section table may start at 0xFFFF at most.
  for (const auto &[Table, Holds] : {std::pair{0xFFFFu, true}, {0x10000u, false}}) {
    SCOPED_TRACE(Table);
    TestImage Far;
    Far.Lfanew = Table - pe32::kNtHeadersSize - pe32::DirectoryOffset(16);
    Far.SizeOfHeaders = 0x10200;
    Far.Sections = {{".text", 0x10200, 0x100, 0x10200, 0x100}, {".reloc", 0x10300, 0x100, 0x10300, 0x100}};
    Far.Relocations = {{pe32::relocation_block::kHighLow, 0x10210}};
    Far.EntryPoint = 0x10200;
    Far.SizeOfImage = Far.FileSize = 0x10400;
    std::string Error;
    EXPECT_EQ(ToTe(BuildTestImage(Far), Error).has_value(), Holds) << Error;
    if (!Holds) {
      EXPECT_EQ(Error, "section count, subsystem or header size does not fit a TE header");
    }
  }
  std::string Error;
  Bytes Subsystem = BuildTestImage({});
  WriteLe(&Subsystem[0x40 + 24 + pe32::optional_header::Subsystem], 2, 0x100);
  EXPECT_FALSE(ToTe(Subsystem, Error));
  EXPECT_FALSE(ToTe(Bytes(0x20, 0), Error));
  EXPECT_NE(Error.find("shorter than a DOS header"), std::string::npos) << Error;
}

TEST(FirmwareBuilders, SizesTheirFieldsCannotHoldAreRefused) {
  std::string Error;
  // A raw file may be 0xFFFFFF bytes, header included; not one more.
  EXPECT_TRUE(BuildRawFile(kBusInfoPpiGuid, Bytes(0xFFFFFF - 24), Error)) << Error;
  EXPECT_FALSE(BuildRawFile(kBusInfoPpiGuid, Bytes(0xFFFFFF - 23), Error));
  EXPECT_EQ(Error, "a file of 0x1000000 bytes does not fit a file header's size (at most 0xFFFFFF)");
  // A section's size 0xFFFFFF means "extended size": sections stop below it.
  EXPECT_FALSE(BuildPeim({kBusInfoPpiGuid, {}, Bytes(0xFFFFFB), "x", "1"}, Error));
  EXPECT_EQ(Error, "a section of 0xFFFFFF bytes does not fit a section header's size (below 0xFFFFFF)");
  EXPECT_FALSE(BuildPeim({kBusInfoPpiGuid, {}, Bytes(0xFFFFFA), "x", "1"}, Error));
  EXPECT_NE(Error.find("does not fit a file header's size"), std::string::npos) << Error;
  // A pad file holds at least its header.
  EXPECT_TRUE(BuildPadFile(24, Error));
  EXPECT_FALSE(BuildPadFile(23, Error));
  EXPECT_EQ(Error, "a pad file of 23 bytes has no room for its header");
  // Files in a volume: 8-aligned after the header, one after another, inside it.
  const Bytes File(0x18, 0x11);
  struct Case {
    std::vector<PlacedFile> Files;
    bool Builds;
  } Cases[] = {
      {{{0x48, File}, {0x60, File}}, true},
      {{{0x48, File}, {0x5C, File}}, false},  // overlaps
      {{{0x4C, File}}, false},                // not 8-aligned
      {{{0x40, File}}, false},                // in the header
      {{{0xFE8, File}}, true},                // ends with the volume
      {{{0xFF0, File}}, false},               // runs past it
      {{{0x2000, File}}, false},              // starts past it
  };
  for (const Case &Each : Cases) {
    SCOPED_TRACE(Each.Files.back().Offset);
    EXPECT_EQ(BuildVolumeOf(Each.Files, 0x1000, Error).has_value(), Each.Builds) << Error;
  }
}

RomParts ShippedParts() {
  RomParts Parts;
  Parts.Module = ReadBytes(MODULE_IMAGE);
  Parts.BusInfoPei = ReadBytes(ROM_PARTS "/BusInfoPei.efi");
  Parts.Foundation = ReadBytes(ROM_PARTS "/Foundation.bin");
  Parts.Sec = ReadBytes(ROM_PARTS "/Sec.bin");
  Parts.Options = "sink=0x1 halt=0x2";
  Parts.Version = "1";
  return Parts;
}

// A PEIM image whose code section is CodeSize bytes (a multiple of 0x20).
std::vector<std::uint8_t> PeimImageOfSize(std::uint32_t CodeSize) {
  TestImage Image;
  Image.Sections = {{".text", 0x200, CodeSize, 0x200, CodeSize}, {".reloc", 0x200 + CodeSize, 0x100, 0x200 + CodeSize, 0x100}};
  Image.SizeOfImage = Image.FileSize = 0x300 + CodeSize;
  return BuildTestImage(Image);
}

// The files follow one another up to the volume top file, which holds the
// foundation where it executes in place, whatever the size of the PEIMs and
// the options: a pad file fills a gap that can hold one, the options'
// trailing blanks one that cannot, and parts that do not fit are refused.
TEST(RomBuilder, FilesFollowOneAnotherUpToTheTopFile) {
  std::vector<RomFile> Shipped;
  std::string Error;
  ASSERT_TRUE(BuildRom(ShippedParts(), Shipped, Error)) << Error;
  ASSERT_EQ(Shipped.at(3).Name, "pad");
  const RomFile &Top = Shipped.at(4);
  EXPECT_EQ(kRomBase + Top.Offset + 24, rom_layout::kFoundationBase);  // the top file's data: the foundation
  EXPECT_EQ(Top.Offset + Top.Size, kRomSize);
  // BusInfoPei grown, 0x20 bytes at a time, until the gap is 64 to 95 bytes;
  // then the options, blanks at their end, close it to Gap bytes.
  RomParts Base = ShippedParts();
  std::uint32_t Code = 0x20;
  std::size_t Free = 0;
  for (;; Code += 0x20) {
    Base.BusInfoPei = PeimImageOfSize(Code);
    std::vector<RomFile> Layout;
    ASSERT_TRUE(BuildRom(Base, Layout, Error)) << Error;
    Free = Layout.size() == 5 ? Layout[3].Size : 0;
    if (Free < 96) {
      break;
    }
  }
  ASSERT_GE(Free, 64u);
  for (const std::size_t Gap : {std::size_t{32}, std::size_t{24}, std::size_t{16}, std::size_t{8}, std::size_t{0}}) {
    SCOPED_TRACE(Gap);
    RomParts Parts = Base;
    Parts.Options.append(Free - Gap, ' ');
    std::vector<RomFile> Layout;
    const auto Rom = BuildRom(Parts, Layout, Error);
    ASSERT_TRUE(Rom) << Error;
    ASSERT_TRUE(ParseFirmwareVolume(*Rom, Error)) << Error;
    std::size_t End = 0x48;
    for (const RomFile &Row : Layout) {
      EXPECT_EQ(Row.Offset, (End + 7) & ~std::size_t{7}) << Row.Name;
      End = Row.Offset + Row.Size;
    }
    EXPECT_EQ(End, kRomSize);
    const RomFile &Options = Layout.at(2);
    ASSERT_EQ(Options.Name, "options");
    const std::string Text(Rom->begin() + Options.Offset + 24, Rom->begin() + Options.Offset + Options.Size);
    EXPECT_EQ(Layout.size() == 5 && Layout[3].Name == "pad", Gap >= 24);
    EXPECT_EQ(Text.size() - Text.find_last_not_of(' ') - 1, Free - Gap + (Gap < 24 ? Gap : 0)) << Text;
  }

  std::vector<RomFile> Layout;
  RomParts Large = Base;
  Large.BusInfoPei = PeimImageOfSize(Code + 0x80);
  EXPECT_FALSE(BuildRom(Large, Layout, Error));
  EXPECT_EQ(Error, "the ROM's files do not fit below the foundation at 0xFFFF6000");
  RomParts Fat = ShippedParts();
  Fat.Foundation.resize(rom_layout::kFoundationLimit - rom_layout::kFoundationBase, 0x90);
  EXPECT_TRUE(BuildRom(Fat, Layout, Error)) << Error;  // up to the SEC
  Fat.Foundation.push_back(0x90);
  EXPECT_FALSE(BuildRom(Fat, Layout, Error));
  EXPECT_EQ(Error, "the foundation is 40705 bytes: from 0xFFFF6000 it must end by the SEC at 0xFFFFFF00 (40704 bytes)");
}

TEST(RomBuilder, RefusesPartsTheRomCannotBootFrom) {
  struct Case {
    const char *Name;
    std::function<void(RomParts &)> Change;
    const char *Words;
  };
  const std::vector<Case> Cases = {
      {"SEC ends before its reset vector", [](RomParts &P) { P.Sec.resize(0xF0); }, "the SEC is 240 bytes"},
      {"SEC over 256 bytes", [](RomParts &P) { P.Sec.resize(0x101); }, "the SEC is 257 bytes"},
      {"no foundation", [](RomParts &P) { P.Foundation.clear(); }, "the foundation is empty"},
      {"options too long", [](RomParts &P) { P.Options = std::string(241, 'x'); }, "the options (256 bytes) are longer than the 255"},
      {"module not an image", [](RomParts &P) { P.Module.resize(0x20); }, "SocPreInit: "},
      {"BusInfoPei without relocations", [](RomParts &P) {
         TestImage Bare;
         Bare.Relocations.clear();
         P.BusInfoPei = BuildTestImage(Bare);
       }, "BusInfoPei: no base relocations"},
  };
  for (const Case &Each : Cases) {
    SCOPED_TRACE(Each.Name);
    RomParts Parts = ShippedParts();
    Each.Change(Parts);
    std::vector<RomFile> Layout;
    std::string Error;
    EXPECT_FALSE(BuildRom(Parts, Layout, Error));
    EXPECT_NE(Error.find(Each.Words), std::string::npos) << Error;
  }
  RomParts Parts = ShippedParts();
  Parts.Sec.resize(0xF1, 0);
  std::vector<RomFile> Layout;
  std::string Error;
  EXPECT_TRUE(BuildRom(Parts, Layout, Error)) << Error;
}

}  // namespace
