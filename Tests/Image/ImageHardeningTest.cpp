// pei-sim against images that are broken or hostile: every one ends with one
// line that names the problem and a documented exit status, in bounded time
// and memory (the test's own timeout catches a hang).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "CommandRun.h"
#include "LinkMap.h"
#include "ModuleImageRun.h"
#include "PeFields.h"
#include "PeImage.h"
#include "Scratch.h"
#include "TestFiles.h"

namespace {

using namespace pe32;

std::vector<std::uint8_t> ModuleBytes() { return ReadBytes(MODULE_IMAGE); }

void Put32(std::vector<std::uint8_t> &Bytes, std::size_t At, std::uint32_t Value) {
  std::memcpy(&Bytes.at(At + 3) - 3, &Value, 4);
}

// A copy of the module image, changed by Change, with the module's link map
// beside it.
std::string WriteImage(const std::string &Name, const std::vector<std::uint8_t> &Bytes) {
  return WriteScratchImage(Name + ".efi", Bytes, MODULE_IMAGE);
}

void ExpectOneLineFailure(const std::string &Image, int InspectStatus, int RunStatus, const std::string &Words) {
  const CommandResult Inspect = PeiSim({"inspect", Image});
  EXPECT_EQ(Inspect.Exit, InspectStatus) << Words << "\n" << Inspect.Out << Inspect.Err;
  const CommandResult Run = PeiSim({"run", "--image", Image});
  EXPECT_EQ(Run.Exit, RunStatus) << Words;
  EXPECT_EQ(std::count(Run.Err.begin(), Run.Err.end(), '\n'), 1) << Run.Err;
  EXPECT_NE(Run.Err.find(Words), std::string::npos) << Run.Err;
  EXPECT_TRUE(Run.Out.empty()) << Run.Out.substr(0, 200);
}

TEST(ImageHardening, MalformedHeadersAndRelocationsAreNamed) {
  const std::vector<std::uint8_t> Good = ModuleBytes();
  const PeFields L = FieldsOf(Good);
  struct Case {
    const char *Name;
    std::size_t At;
    std::uint32_t Value;
    const char *Words;
  };
  const Case Cases[] = {
      {"reloc-size-wraps", L.RelocRaw + relocation_block::SizeOfBlock, 0xFFFFFFFFu, "SizeOfBlock 0xFFFFFFFF"},
      {"reloc-size-zero", L.RelocRaw + relocation_block::SizeOfBlock, 0, "SizeOfBlock 0x0"},
      {"reloc-page-outside", L.RelocRaw + relocation_block::PageRva, 0x10000000u, "lies outside the image"},
      {"size-of-image-1", L.OptionalHeader(optional_header::SizeOfImage), 1, "SizeOfHeaders"},
      {"size-of-image-huge", L.OptionalHeader(optional_header::SizeOfImage), 0x40000000u, "SizeOfImage 0x40000000 is out of range"},
      {"entry-outside", L.OptionalHeader(optional_header::AddressOfEntryPoint), 0x00100000u, "AddressOfEntryPoint 0x100000 lies outside"},
      {"lfanew-past-end", dos::Lfanew, 0x7FFFFFF0u, "e_lfanew 0x7FFFFFF0"},
      {"directories-too-many", L.OptionalHeader(optional_header::NumberOfRvaAndSizes), 0x1000, "NumberOfRvaAndSizes 4096"},
      {"section-raw-past-end", L.Section(0, section_header::SizeOfRawData), 0x7FFFFFFFu, "lies beyond the end of the file"},
  };
  for (const Case &Each : Cases) {
    SCOPED_TRACE(Each.Name);
    std::vector<std::uint8_t> Bytes = Good;
    Put32(Bytes, Each.At, Each.Value);
    ExpectOneLineFailure(WriteImage(Each.Name, Bytes), 1, 4, Each.Words);
  }
}

TEST(ImageHardening, NamesFromTheFileCarryNoLineBreaks) {
  // A section name with a line break, and its raw data past the end of the
  // file: the refusal names it in one line (found by image-fuzz).
  std::vector<std::uint8_t> Bytes = ModuleBytes();
  const PeFields L = FieldsOf(Bytes);
  Bytes.at(L.Section(0, section_header::Name) + 1) = '\n';
  Put32(Bytes, L.Section(0, section_header::SizeOfRawData), 0x7FFFFFFFu);
  const CommandResult Inspect = PeiSim({"inspect", WriteImage("name-with-newline", Bytes)});
  EXPECT_EQ(Inspect.Exit, 1);
  EXPECT_EQ(std::count(Inspect.Err.begin(), Inspect.Err.end(), '\n'), 1) << Inspect.Err;
  EXPECT_NE(Inspect.Err.find("section .?ext"), std::string::npos) << Inspect.Err;
}

TEST(ImageHardening, TruncationAtEveryHeaderBoundary) {
  const std::vector<std::uint8_t> Good = ModuleBytes();
  const PeFields L = FieldsOf(Good);
  // Every header boundary, one byte before or into the next structure.
  const std::size_t Cuts[] = {0,
                              1,
                              2,
                              dos::Lfanew,
                              dos::Size,
                              L.FileHeader(0) - 2,
                              L.FileHeader(0),
                              L.Optional,
                              L.OptionalHeader(optional_header::DataDirectory) - 1,
                              L.Table,
                              L.Section(1, 0) - 1,
                              L.Section(2, 0) - 1,
                              L.TextRaw,
                              L.RelocRaw + relocation_block::SizeOfBlock,
                              Good.size() - 1};
  for (std::size_t Cut : Cuts) {
    SCOPED_TRACE(Cut);
    const std::vector<std::uint8_t> Bytes(Good.begin(), Good.begin() + static_cast<std::ptrdiff_t>(Cut));
    const std::string Image = WriteImage("cut-" + std::to_string(Cut), Bytes);
    const CommandResult Inspect = PeiSim({"inspect", Image});
    EXPECT_EQ(Inspect.Exit, 1);
    EXPECT_EQ(std::count(Inspect.Err.begin(), Inspect.Err.end(), '\n'), 1) << Inspect.Err;
    EXPECT_EQ(PeiSim({"run", "--image", Image}).Exit, 4);
  }
}

// The image with its entry point's first bytes replaced by Code.
std::string ImageRunning(const std::string &Name, const std::vector<std::uint8_t> &Code) {
  std::vector<std::uint8_t> Bytes = ModuleBytes();
  const PeFields L = FieldsOf(Bytes);
  std::copy(Code.begin(), Code.end(), Bytes.begin() + L.EntryRaw);
  return WriteImage(Name, Bytes);
}

TEST(ImageHardening, RunawayImagesEndWithAClearLine) {
  std::string Error;
  const auto Map = ReadLinkMap(MapPathFor(MODULE_IMAGE), Error);
  ASSERT_TRUE(Map) << Error;
  const std::uint32_t Entry = Map->Rva("_ModuleEntry").value(), Sink = Map->Rva("_SerialWrite").value();
  const std::uint32_t CallOffset = Sink - (Entry + 10 + 5);  // after the two pushes and the call itself
  const std::vector<std::uint8_t> BadSink = {0x6A, 0x10,                                      // push 16
                                             0x68, 0x00, 0x00, 0xAD, 0xDE,                    // push 0xDEAD0000
                                             0x90, 0x90, 0x90,                                // nop: align the call
                                             0xE8, static_cast<std::uint8_t>(CallOffset), static_cast<std::uint8_t>(CallOffset >> 8),
                                             static_cast<std::uint8_t>(CallOffset >> 16), static_cast<std::uint8_t>(CallOffset >> 24)};
  struct Case {
    const char *Name;
    std::vector<std::uint8_t> Code;
    const char *Words;
  };
  const Case Cases[] = {
      {"loop", {0xEB, 0xFE}, "instruction limit of 100000 reached at"},
      {"port-loop", {0xE6, 0x80, 0xEB, 0xFC}, "instruction limit of 100000 reached at"},
      {"page-walk", {0xBB, 0x00, 0x00, 0x00, 0x10, 0x8B, 0x03, 0x81, 0xC3, 0x00, 0x10, 0x00, 0x00, 0xEB, 0xF6},
       "more than 256 pages outside RAM touched"},
      {"wild-jump", {0xB8, 0x0D, 0xF0, 0xAD, 0x0B, 0xFF, 0xE0}, "instruction fetch from unmapped address 0x0BADF00D"},
      {"bad-sink-buffer", BadSink, "SerialWrite was given a bad buffer (0xDEAD0000, 16 bytes)"},
      {"invalid-instruction", {0x0F, 0x0B}, "at 0x"},
  };
  for (const Case &Each : Cases) {
    SCOPED_TRACE(Each.Name);
    const CommandResult Run = PeiSim({"run", "--image", ImageRunning(Each.Name, Each.Code)});
    EXPECT_EQ(Run.Exit, 4);
    EXPECT_EQ(std::count(Run.Err.begin(), Run.Err.end(), '\n'), 1) << Run.Err;
    EXPECT_NE(Run.Err.find(Each.Words), std::string::npos) << Run.Err;
  }
  // The faults inside the image are named by the nearest routine.
  EXPECT_NE(PeiSim({"run", "--image", ImageRunning("loop", {0xEB, 0xFE})}).Err.find("(ModuleEntry+0x0)"),
            std::string::npos);
  // A budget of the user's own.
  const CommandResult Budget = PeiSim({"run", "--image", MODULE_IMAGE, "--max-instructions", "100"});
  EXPECT_EQ(Budget.Exit, 4);
  EXPECT_NE(Budget.Err.find("instruction limit of 100 reached"), std::string::npos) << Budget.Err;
  EXPECT_EQ(PeiSim({"run", "--image", MODULE_IMAGE, "--max-instructions", "200"}).Exit, 0);
}

}  // namespace
