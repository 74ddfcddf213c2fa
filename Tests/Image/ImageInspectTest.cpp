// The built module image against its contract, read by pei-sim inspect and,
// independently, by llvm-readobj.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <regex>
#include <string>

#include "CommandRun.h"
#include "PeFields.h"
#include "Scratch.h"
#include "TestFiles.h"

namespace {

std::string Field(const std::string &Text, const std::string &Name) {
  std::smatch Match;
  const std::regex Pattern("\\n *" + Name + ": ([^\\n]*)");
  return std::regex_search(Text, Match, Pattern) ? Match[1].str() : "";
}

TEST(ImageInspect, ModuleImageMeetsItsContract) {
  const CommandResult Inspect = PeiSim({"inspect", MODULE_IMAGE});
  EXPECT_EQ(Inspect.Exit, 0) << Inspect.Out;
  EXPECT_NE(Inspect.Out.find("contract: ok"), std::string::npos);
  EXPECT_NE(Inspect.Out.find("entry point: "), std::string::npos);
  EXPECT_NE(Inspect.Out.find("(_ModuleEntry)"), std::string::npos);
  EXPECT_NE(Inspect.Out.find("imports: none"), std::string::npos);

  const CommandResult Readobj =
      RunCommandLine("llvm-readobj", {"--file-headers", "--sections", "--coff-imports", "--coff-basereloc", MODULE_IMAGE});
  ASSERT_EQ(Readobj.Exit, 0) << Readobj.Err;
  EXPECT_EQ(Field(Readobj.Out, "Machine"), "IMAGE_FILE_MACHINE_I386 (0x14C)");
  EXPECT_EQ(Field(Readobj.Out, "Subsystem"), "IMAGE_SUBSYSTEM_EFI_BOOT_SERVICE_DRIVER (0xB)");
  EXPECT_EQ(Field(Readobj.Out, "SectionAlignment"), "32");
  EXPECT_EQ(Field(Readobj.Out, "FileAlignment"), "32");
  EXPECT_EQ(Field(Readobj.Out, "ImageBase"), "0x0");
  EXPECT_EQ(Readobj.Out.find("Import {"), std::string::npos);
  // Exactly .text and .reloc.
  const std::regex SectionName("Name: (\\.[a-z]+) ");
  std::vector<std::string> Names;
  for (auto It = std::sregex_iterator(Readobj.Out.begin(), Readobj.Out.end(), SectionName); It != std::sregex_iterator();
       ++It) {
    Names.push_back((*It)[1].str());
  }
  EXPECT_EQ(Names, (std::vector<std::string>{".text", ".reloc"}));
  // Same number of HIGHLOW relocations as the project's reader finds, and no other kind but padding.
  std::size_t HighLow = 0, Other = 0, Pos = 0;
  while ((Pos = Readobj.Out.find("Type: ", Pos)) != std::string::npos) {
    const std::string Type = Readobj.Out.substr(Pos + 6, Readobj.Out.find('\n', Pos) - Pos - 6);
    HighLow += Type == "HIGHLOW";
    Other += Type != "HIGHLOW" && Type != "ABSOLUTE";
    Pos += 6;
  }
  EXPECT_GT(HighLow, 0u);
  EXPECT_EQ(Other, 0u);
  EXPECT_EQ(Field(Inspect.Out, "relocations"), std::to_string(HighLow) + " HIGHLOW");
}

// Every image we build executes in place: pei-sim says so, and python3-pefile,
// a reader of its own, finds each section at its RVA in the file, every base
// relocation inside the image, and the entry point inside .text.
TEST(ImageInspect, EveryImageExecutesInPlace) {
  const char *const kCheck =
      "import pefile, sys\n"
      "pe = pefile.PE(sys.argv[1])\n"
      "size = pe.OPTIONAL_HEADER.SizeOfImage\n"
      "for s in pe.sections:\n"
      "    if s.PointerToRawData != s.VirtualAddress: sys.exit('section at file offset %#x, RVA %#x' % (s.PointerToRawData, s.VirtualAddress))\n"
      "sites = [e.rva for b in pe.DIRECTORY_ENTRY_BASERELOC for e in b.entries if e.type == 3]\n"
      "if not sites or max(sites) + 4 > size: sys.exit('relocation outside the image')\n"
      "text = pe.sections[0]\n"
      "entry = pe.OPTIONAL_HEADER.AddressOfEntryPoint\n"
      "if not text.VirtualAddress <= entry < text.VirtualAddress + text.Misc_VirtualSize: sys.exit('entry outside .text')\n"
      "print(len(sites))\n";
  for (const char *Image : {MODULE_IMAGE, DEBUG_LEVEL_IMAGE, ENGINE_IMAGE}) {
    SCOPED_TRACE(Image);
    const CommandResult Inspect = PeiSim({"inspect", Image});
    EXPECT_EQ(Field(Inspect.Out, "executes in place"), "yes (every section's file offset is its RVA)");
    const CommandResult Pefile = RunCommandLine("/usr/bin/python3", {"-c", kCheck, Image});
    EXPECT_EQ(Pefile.Exit, 0) << Pefile.Err;
    EXPECT_EQ(Pefile.Out, Field(Inspect.Out, "relocations").substr(0, Pefile.Out.size() - 1) + "\n");
  }
}

TEST(ImageInspect, BrokenPropertiesAreNamed) {
  std::vector<std::uint8_t> Bytes = ReadBytes(MODULE_IMAGE);
  const PeFields Fields = FieldsOf(Bytes);
  Bytes.at(Fields.OptionalHeader(pe32::optional_header::Subsystem)) = 10;           // EFI application
  Bytes.at(Fields.OptionalHeader(pe32::optional_header::SectionAlignment)) = 0x40;  // 64
  Bytes.at(Fields.Section(0, pe32::section_header::VirtualAddress)) -= 0x20;  // .text no longer at its file offset
  const std::string Patched = WriteScratchFile("patched.efi", Bytes);
  const CommandResult Inspect = PeiSim({"inspect", Patched});
  EXPECT_EQ(Inspect.Exit, 1);
  EXPECT_NE(Inspect.Out.find("contract broken: subsystem is not EFI boot service driver (11)"), std::string::npos);
  EXPECT_NE(Inspect.Out.find("contract broken: section alignment is not 32"), std::string::npos);
  EXPECT_NE(Inspect.Out.find("executes in place: no"), std::string::npos);
  EXPECT_NE(Inspect.Out.find("contract broken: it cannot execute in place: section .text's file offset 0x140 is not its RVA 0x120"), std::string::npos);

  const CommandResult Engine = PeiSim({"inspect", ENGINE_IMAGE});
  EXPECT_EQ(Engine.Exit, 1);
  EXPECT_NE(Engine.Out.find("contract broken: entry point is _EngineTestEntry, not ModuleEntry"), std::string::npos);
  EXPECT_EQ(PeiSim({"inspect", "/nonexistent.efi"}).Exit, 1);
  EXPECT_EQ(PeiSim({"inspect"}).Exit, 2);
}

TEST(ImageInspect, RunOfTheImageMatchesTheHostRunByteForByte) {
  for (const std::vector<std::string> &Options :
       {std::vector<std::string>{"--divisor-code", "12"}, {"--no-ppi"}, {"--ppi-status", "0x80000003", "--release-halts"}}) {
    std::vector<std::string> Host = {"run"};
    Host.insert(Host.end(), Options.begin(), Options.end());
    std::vector<std::string> Image = Host;
    Image.insert(Image.begin() + 1, {"--image", MODULE_IMAGE});
    const CommandResult HostRun = PeiSim(Host);
    const CommandResult ImageRun = PeiSim(Image);
    EXPECT_EQ(ImageRun.Out, HostRun.Out);
    EXPECT_EQ(ImageRun.Exit, HostRun.Exit);
  }
  const CommandResult Stats = PeiSim({"run", "--image", MODULE_IMAGE, "--stats"});
  EXPECT_NE(Stats.Out.find("\nimage size: "), std::string::npos);
  EXPECT_NE(Stats.Out.find("\ninstructions executed: "), std::string::npos);
  EXPECT_NE(Stats.Out.find("\ndeepest stack use: "), std::string::npos);
  EXPECT_EQ(PeiSim({"run", "--image", MODULE_IMAGE, "--debug-level", "0x80000001"}).Exit, 2);
  EXPECT_EQ(PeiSim({"run", "--stats"}).Exit, 2);
}

TEST(ImageInspect, FormatOnTheEngineImage) {
  const CommandResult Run = PeiSim({"format", "--image", ENGINE_IMAGE, "%S|%ld", "wunits:0x41,0x100,0x42", "u64:-1"});
  EXPECT_EQ(Run.Exit, 0);
  EXPECT_EQ(Run.Out, std::string("A\0B|-1", 6));
}

}  // namespace
