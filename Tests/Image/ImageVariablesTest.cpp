// The module's line variables are real bytes of the image: patching them in
// a copy changes the line-control writes, exactly as the description of
// LegacyUartInit says. And the inputs of pei-sim at their edges: the load
// bases the emulated machine maps, and arguments at the full width of the
// fields the engine reads.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "CommandRun.h"
#include "LinkMap.h"
#include "ModuleImageRun.h"
#include "PeImage.h"
#include "VirtualBoard.h"
#include "Scratch.h"
#include "TestFiles.h"

namespace {

// The file offset of a variable the link map names.
std::size_t FileOffsetOf(const PeImage &Image, const LinkMap &Map, const std::string &Symbol) {
  const std::uint32_t Rva = Map.Rva(Symbol).value();
  for (const PeSection &Section : Image.Sections) {
    if (Rva >= Section.VirtualAddress && Rva - Section.VirtualAddress < Section.RawSize) {
      return Section.RawOffset + (Rva - Section.VirtualAddress);
    }
  }
  ADD_FAILURE() << Symbol << " is not in the image's raw data";
  return 0;
}

// The values written to the two line-control registers, in order.
std::vector<std::uint32_t> LineControlWrites(const std::string &ImagePath, const std::string &MapPath) {
  VirtualBoard Board(BoardSettings{});
  ModuleImageStats Stats;
  std::string Error;
  EXPECT_TRUE(RunModuleImage(Board, {ImagePath, MapPath, 0x00200000}, Stats, Error)) << Error;
  std::vector<std::uint32_t> Values;
  for (const std::string &Line : Board.Log().Lines()) {
    if (Line.rfind("out8 0x02FB ", 0) == 0 || Line.rfind("out8 0x03FB ", 0) == 0) {
      Values.push_back(static_cast<std::uint32_t>(std::stoul(Line.substr(12, 4), nullptr, 16)));
    }
  }
  return Values;
}

TEST(ImageVariables, PatchingUartParityAndBreakChangesTheLineControlWrites) {
  std::string Error;
  const auto Image = ReadPeImage(MODULE_IMAGE, Error);
  ASSERT_TRUE(Image) << Error;
  const auto Map = ReadLinkMap(MapPathFor(MODULE_IMAGE), Error);
  ASSERT_TRUE(Map) << Error;
  const std::size_t Parity = FileOffsetOf(*Image, *Map, "?UartParity@@3EA");
  const std::size_t Break = FileOffsetOf(*Image, *Map, "?UartBreak@@3EA");
  const std::vector<std::uint8_t> Original = ReadBytes(MODULE_IMAGE);
  ASSERT_EQ(Original.at(Parity), 0);
  ASSERT_EQ(Original.at(Break), 0);

  struct Case {
    std::uint8_t Parity, Break;
    std::vector<std::uint32_t> Writes;  // 2FB, 3FB with the latch open, then closed
  };
  const Case Cases[] = {
      {0, 0, {0x87, 0x87, 0x07, 0x07}},
      {1, 0, {0x8F, 0x8F, 0x0F, 0x0F}},
      {0, 1, {0xC7, 0xC7, 0x47, 0x47}},
      {1, 1, {0xCF, 0xCF, 0x4F, 0x4F}},
  };
  std::string Copy;
  for (const Case &Each : Cases) {
    std::vector<std::uint8_t> Bytes = Original;
    Bytes[Parity] = Each.Parity;
    Bytes[Break] = Each.Break;
    Copy = WriteScratchFile("PatchedSocPreInit.efi", Bytes);
    EXPECT_EQ(LineControlWrites(Copy, MapPathFor(MODULE_IMAGE)), Each.Writes)
        << "parity " << int(Each.Parity) << ", break " << int(Each.Break);
  }
  std::remove(Copy.c_str());
}

TEST(ImageVariables, TheOtherWritesDoNotChangeWithTheVariables) {
  // Every trace line but the four line-control writes is the same with both set.
  std::string Error;
  const auto Image = ReadPeImage(MODULE_IMAGE, Error);
  const auto Map = ReadLinkMap(MapPathFor(MODULE_IMAGE), Error);
  ASSERT_TRUE(Image && Map) << Error;
  std::vector<std::uint8_t> Bytes = ReadBytes(MODULE_IMAGE);
  Bytes[FileOffsetOf(*Image, *Map, "?UartParity@@3EA")] = 1;
  Bytes[FileOffsetOf(*Image, *Map, "?UartBreak@@3EA")] = 1;
  const std::string Copy = WriteScratchFile("PatchedBoth.efi", Bytes);
  auto TraceOf = [](const std::string &Path) {
    VirtualBoard Board(BoardSettings{});
    ModuleImageStats Stats;
    std::string RunError;
    EXPECT_TRUE(RunModuleImage(Board, {Path, MapPathFor(MODULE_IMAGE), 0x00200000}, Stats, RunError));
    std::vector<std::string> Lines;
    for (const std::string &Line : Board.Log().Lines()) {
      if (Line.find(" line control") == std::string::npos) {
        Lines.push_back(Line);
      }
    }
    return Lines;
  };
  EXPECT_EQ(TraceOf(Copy), TraceOf(MODULE_IMAGE));
  std::remove(Copy.c_str());
}

TEST(PeiSimEdges, LoadBaseRangeIsWhatTheMachineMaps) {
  const CommandResult Help = PeiSim({"run", "--image", MODULE_IMAGE, "--load-base", "0x1000"});
  ASSERT_EQ(Help.Exit, 2);
  // The refusal names the accepted range: take its edges from the message.
  const std::size_t From = Help.Err.find("0x00200000 to 0x");
  ASSERT_NE(From, std::string::npos) << Help.Err;
  const std::uint32_t Highest = static_cast<std::uint32_t>(std::stoul(Help.Err.substr(From + 16, 8), nullptr, 16));
  for (std::uint32_t Base : {0x00200000u, Highest}) {
    char Text[16];
    std::snprintf(Text, sizeof Text, "0x%08X", Base);
    EXPECT_EQ(PeiSim({"run", "--image", MODULE_IMAGE, "--load-base", Text}).Exit, 0) << Text;
  }
  for (std::uint32_t Base : {0x001FF000u, Highest + 0x1000u, 0x00500000u, 0x00200800u}) {
    char Text[16];
    std::snprintf(Text, sizeof Text, "0x%08X", Base);
    const CommandResult Refused = PeiSim({"run", "--image", MODULE_IMAGE, "--load-base", Text});
    EXPECT_EQ(Refused.Exit, 2) << Text;
    EXPECT_NE(Refused.Err.find("0x00200000 to 0x"), std::string::npos) << Refused.Err;
    EXPECT_EQ(std::count(Refused.Err.begin(), Refused.Err.end(), '\n'), 2) << Refused.Err;
  }
}

TEST(PeiSimEdges, FormatArgumentsReachTheFullWidthOfTheirFields) {
  struct Case {
    std::vector<std::string> Args;
    std::string Expected;
  };
  const std::vector<Case> Cases = {
      {{"%t", "time:65535-255-255T255:255"}, "255/255/65535  255:255"},
      {{"%t", "time:0-0-0T0:0"}, "00/00/0000  00:00"},
      {{"%t", "time:0xFFFF-0xFF-1T0x17:59"}, "255/01/65535  23:59"},
      {{"%S|%c", "wunits:0xFFFF,0x41FF", "u32:0xFFFF"}, "\xFF\xFF|\xFF"},
      {{"%u%x|%lx|%ld", "u32:0xFFFFFFFF", "u64:0xFFFFFFFFFFFFFFFF", "u64:-9223372036854775808"},
       "uFFFFFFFF|FFFFFFFFFFFFFFFF|-9223372036854775808"},
  };
  for (const Case &Each : Cases) {
    std::vector<std::string> Host = {"format"};
    Host.insert(Host.end(), Each.Args.begin(), Each.Args.end());
    std::vector<std::string> Image = {"format", "--image", ENGINE_IMAGE};
    Image.insert(Image.end(), Each.Args.begin(), Each.Args.end());
    for (const auto &Args : {Host, Image}) {
      const CommandResult Run = PeiSim(Args);
      EXPECT_EQ(Run.Exit, 0) << Each.Args[1] << Run.Err;
      EXPECT_EQ(Run.Out, Each.Expected) << Each.Args[1];
    }
  }
  const std::pair<std::string, std::string> Refused[] = {
      {"time:65536-1-1T1:1", "year 65536 is out of range (0 to 65535)"},
      {"time:1-256-1T1:1", "month 256 is out of range (0 to 255)"},
      {"time:1-1-1T1:0x100", "minute 0x100 is out of range (0 to 255)"},
      {"wunits:0x10000", "unit 0x10000 is out of range (0 to 65535)"},
      {"u32:4294967296", "u32 4294967296 is out of range (0 to 4294967295)"},
      {"time:1-1-1", "bad time"},
  };
  for (const auto &[Arg, Message] : Refused) {
    const CommandResult Run = PeiSim({"format", "%t", Arg});
    EXPECT_EQ(Run.Exit, 2) << Arg;
    EXPECT_NE(Run.Err.find(Message), std::string::npos) << Arg << ": " << Run.Err;
  }
}

}  // namespace
