// The coverage readers on text made in the test: the recorded runs' file, a
// disassembly line, llvm-symbolizer's answer, QEMU's execution log; and what
// the tracefile and the gate make of a small image described field by field.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "CoverageData.h"
#include "FileBytes.h"
#include "ImageCode.h"
#include "ImageCoverage.h"
#include "QemuExecution.h"
#include "Scratch.h"
#include "SourceLines.h"

namespace {

TEST(CoverageFile, TextRoundTripsAndAddsUp) {
  CoverageData Data;
  ImageRuns Runs;
  Runs.Name = "A.efi";
  Runs.Executed = {{0x140, 3}, {0xFFFFFFFF, 1}};
  Runs.Steps = {{{0x140, 0x162}, 2}};
  Data.Add("0123456789ABCDEF", Runs);
  Data.Add("0123456789ABCDEF", Runs);
  std::string Error;
  const auto Back = ParseCoverage(CoverageText(Data), Error);
  ASSERT_TRUE(Back) << Error;
  const ImageRuns &Kept = Back->Images.at("0123456789ABCDEF");
  EXPECT_EQ(Kept.Name, "A.efi");
  EXPECT_EQ(Kept.Executed.at(0x140), 6u);
  EXPECT_EQ(Kept.Executed.at(0xFFFFFFFF), 2u);
  EXPECT_EQ((Kept.Steps.at({0x140, 0x162})), 4u);
}

TEST(CoverageFile, AnyOtherTextIsRefusedByLine) {
  const std::string Header = "soc-image-coverage 1\n";
  const std::string Image = "image 0123456789ABCDEF A.efi\n";
  const std::vector<std::pair<std::string, std::string>> Cases = {
      {"", "empty"},
      {"soc-image-coverage 2\n", "line 1 is not coverage data: soc-image-coverage 2"},
      {Header + "x 0x10 1\n", "line 2 is not coverage data: x 0x10 1"},  // before any image
      {Header + "image 0123 A.efi\n", "line 2 is not coverage data: image 0123 A.efi"},
      {Header + Image + "x 0x100000000 1\n", "line 3 is not coverage data: x 0x100000000 1"},
      {Header + Image + "x 0x10\n", "line 3 is not coverage data: x 0x10"},
      {Header + Image + "s 0x10 0x20\n", "line 3 is not coverage data: s 0x10 0x20"},
      {Header + Image + "s 0x10 0x20 -1\n", "line 3 is not coverage data: s 0x10 0x20 -1"},
  };
  for (const auto &[Text, Expected] : Cases) {
    std::string Error;
    EXPECT_FALSE(ParseCoverage(Text, Error)) << Text;
    EXPECT_EQ(Error, Expected);
  }
}

// Runs in parallel processes all count; a file that is not coverage data is
// refused and left as it was, not overwritten.
TEST(CoverageFile, ParallelAddsAllCountAndAForeignFileIsKept) {
  const std::string Path = ScratchPath("parallel.cov");
  constexpr int kProcesses = 4, kAdds = 25;
  std::vector<pid_t> Children;
  for (int Child = 0; Child < kProcesses; Child++) {
    const pid_t Pid = fork();
    ASSERT_GE(Pid, 0);
    if (Pid == 0) {
      CoverageData Data;
      ImageRuns Runs;
      Runs.Name = "A.efi";
      Runs.Executed = {{0x10, 1}, {static_cast<std::uint32_t>(0x100 + Child), 1}};
      Data.Add("0123456789ABCDEF", Runs);
      std::string Error;
      bool Ok = true;
      for (int Add = 0; Add < kAdds; Add++) {
        Ok = Ok && AddToCoverageFile(Path, Data, Error);
      }
      _exit(Ok ? 0 : 1);
    }
    Children.push_back(Pid);
  }
  for (const pid_t Pid : Children) {
    int Status = 0;
    ASSERT_EQ(waitpid(Pid, &Status, 0), Pid);
    EXPECT_TRUE(WIFEXITED(Status) && WEXITSTATUS(Status) == 0);
  }
  std::string Error;
  const auto Data = ReadCoverageFile(Path, Error);
  ASSERT_TRUE(Data) << Error;
  const ImageRuns &Runs = Data->Images.at("0123456789ABCDEF");
  EXPECT_EQ(Runs.Executed.at(0x10), std::uint64_t{kProcesses * kAdds});
  for (int Child = 0; Child < kProcesses; Child++) {
    EXPECT_EQ(Runs.Executed.at(0x100 + Child), std::uint64_t{kAdds});
  }

  const std::string Foreign = ScratchPath("foreign.cov");
  ASSERT_TRUE(WriteFileText(Foreign, "my notes\n", Error));
  EXPECT_FALSE(AddToCoverageFile(Foreign, *Data, Error));
  EXPECT_EQ(Error, Foreign + ": line 1 is not coverage data: my notes");
  std::string Kept;
  ASSERT_TRUE(ReadFileText(Foreign, Kept, Error));
  EXPECT_EQ(Kept, "my notes\n");
  EXPECT_FALSE(AddImageRuns(Foreign, {1, 2, 3}, "x.efi", ImageRuns{}, Error));
  EXPECT_EQ(Error.rfind("x.efi: not an image", 0), 0u) << Error;
}

TEST(ImageCode, DisassemblyLinesAreReadOrPassedOver) {
  struct CASE {
    const char *Line;
    std::uint32_t Base;
    bool Read;
    std::uint32_t Rva, Length;
    bool Conditional;
    std::uint32_t Target;
    const char *Text;
  };
  const CASE Cases[] = {
      {"     145: 74 1b                        \tje\t0x162 <.text+0x22>", 0, true, 0x145, 2, true, 0x162, "je 0x162"},
      {"  10000145: 0f 84 98 01 00 00  \tjne\t0x10000168", 0x10000000, true, 0x145, 6, true, 0x168, "jne 0x10000168"},
      {"     160: eb 15                        \tjmp\t0x177 <.text+0x37>", 0, true, 0x160, 2, false, 0, "jmp 0x177"},
      {"     1a0: e2 fe \tloop\t0x1a0", 0, true, 0x1A0, 2, true, 0x1A0, "loop 0x1a0"},
      {"     149: be 40 42 0f 00               \tmovl\t$1000000, %esi          # imm = 0xF4240", 0, true, 0x149,
       5, false, 0, "movl $1000000, %esi"},
      {"     17c: c3                           \tretl", 0, true, 0x17C, 1, false, 0, "retl"},
      {"00000140 <.text>:", 0, false, 0, 0, false, 0, ""},
      {"Disassembly of section .text:", 0, false, 0, 0, false, 0, ""},
      {"     14A: c3 \tretl", 0, false, 0, 0, false, 0, ""},          // not the disassembler's digits
      {"     145: 74 1b \tje\tsomewhere", 0, false, 0, 0, false, 0, ""},  // a jump without a target
      {"     100: c3 \tretl", 0x200, false, 0, 0, false, 0, ""},         // below the image base
      {"     100: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 \tbad", 0, false, 0, 0, false, 0, ""},
  };
  for (const CASE &Each : Cases) {
    const auto Made = InstructionOfLine(Each.Line, Each.Base);
    ASSERT_EQ(Made.has_value(), Each.Read) << Each.Line;
    if (Made) {
      EXPECT_EQ(Made->Rva, Each.Rva) << Each.Line;
      EXPECT_EQ(Made->Length, Each.Length) << Each.Line;
      EXPECT_EQ(Made->Conditional, Each.Conditional) << Each.Line;
      EXPECT_EQ(Made->Target, Each.Target) << Each.Line;
      EXPECT_EQ(Made->Text, Each.Text) << Each.Line;
    }
  }
}

TEST(SourceLines, SymbolizerBlocksGiveEveryFrameInnermostFirst) {
  const std::string Text =
      "PlatformLoad8\n"
      "  Filename: ./Platform/Include/../Ia32/PlatformIa32.h\n"
      "  Function start filename: ./Platform/Include/../Ia32/PlatformIa32.h\n"
      "  Function start line: 14\n"
      "  Function start address: 0xafd\n"
      "  Line: 14\n"
      "  Column: 52\n"
      "LegacyUartInit\n"
      "  Filename: ./SocPreInit/Dxe/ZodOdoRidaZar.cpp\n"
      "  Function start line: 95\n"
      "  Function start address: 0xaf5\n"
      "  Line: 98\n"
      "  Column: 22\n"
      "\n"
      "??\n"
      "  Filename: ??\n"
      "  Line: 0\n"
      "  Column: 0\n"
      "\n";
  std::string Error;
  const auto Blocks = ParseSymbolizerBlocks(Text, 2, Error);
  ASSERT_TRUE(Blocks) << Error;
  ASSERT_EQ((*Blocks)[0].size(), 2u);
  const SourceFrame &Inner = (*Blocks)[0][0], &Outer = (*Blocks)[0][1];
  EXPECT_EQ(Inner.Function, "PlatformLoad8");
  EXPECT_EQ(Inner.File, "Platform/Ia32/PlatformIa32.h");
  EXPECT_EQ(Inner.Line, 14u);
  EXPECT_EQ(Inner.FunctionLine, 14u);
  EXPECT_EQ(Outer.File, "SocPreInit/Dxe/ZodOdoRidaZar.cpp");
  EXPECT_EQ(Outer.Line, 98u);
  EXPECT_EQ(Outer.FunctionLine, 95u);
  EXPECT_TRUE((*Blocks)[1].empty());  // "??": no routine holds it

  EXPECT_FALSE(ParseSymbolizerBlocks(Text, 3, Error));
  EXPECT_EQ(Error, "llvm-symbolizer answered for 2 addresses, not 3");
  EXPECT_FALSE(ParseSymbolizerBlocks("F\n  Line: twelve\n\n", 1, Error));
  EXPECT_EQ(Error, "llvm-symbolizer's line 2 was not understood:   Line: twelve");
  EXPECT_FALSE(ParseSymbolizerBlocks("  Line: 3\n\n", 1, Error));  // a field before any frame
  EXPECT_EQ(PlainSourcePath("./a/../b/./c.h"), "b/c.h");
}

// A block translated once and run twice, a long instruction whose bytes go
// on over a second line, a block outside the module (the foundation's), a
// block retranslated at the same address, and a run with no translation.
TEST(QemuExecution, BlocksRunInsideTheModuleCountEachInstruction) {
  const std::string Log =
      "----------------\nIN: \n"
      "0xfffe0100:  c7 05 88 80 d0 fe 18 00  movl     $0x18, 0xfed08088\n"
      "0xfffe0108:  00 00\n"
      "0xfffe010a:  74 04                    je       0xfffe0110\n"
      "\n"
      "Trace 0: 0x7f0000000100 [00000000/fffe0100/00000040/ff020200] \n"
      "----------------\nIN: \n"
      "0x00100000:  c3                       retl     \n"
      "\n"
      "Trace 0: 0x7f0000000200 [00000000/00100000/00000040/ff020200] \n"
      "----------------\nIN: \n"
      "0xfffe0110:  90                       nop      \n"
      "\n"
      "Trace 0: 0x7f0000000300 [00000000/fffe0110/00000040/ff020200] \n"
      "Trace 0: 0x7f0000000100 [00000000/fffe0100/00000040/ff020200] \n"
      "Trace 0: 0x7f0000000400 [00000000/fffe0120/00000040/ff020200] \n"
      "pci_cfg_write ich9-lpc 00:1f.0 @0x50 <- 0xfed08002\n";
  const ImageRuns Runs = ModuleRunsFromQemuLog(Log, 0xFFFE0000u, 0x1000);
  const std::map<std::uint32_t, std::uint64_t> Executed = {{0x100, 2}, {0x10A, 2}, {0x110, 1}, {0x120, 1}};
  EXPECT_EQ(Runs.Executed, Executed);
  EXPECT_EQ((Runs.Steps.at({0x10A, 0x110})), 1u);  // across the foundation's block
  EXPECT_EQ((Runs.Steps.at({0x110, 0x100})), 1u);
  EXPECT_EQ(Runs.Steps.count({0x108, 0x10A}), 0u);  // no instruction at 0x108
  EXPECT_TRUE(ModuleRunsFromQemuLog(Log, 0x00200000u, 0x1000).Executed.empty());
}

// Two routines of a file: Outer (line 10) with a jump at line 11 that ran
// both ways, and Helper (line 20) inlined into it and never run.
ImageCoverage SmallImage() {
  ImageCoverage Coverage;
  Coverage.Name = "Small";
  Coverage.Code = {{0x100, 2, true, 0x106, "je 0x106"},
                   {0x102, 4, false, 0, "movl"},
                   {0x106, 1, false, 0, "retl"},
                   {0x107, 1, true, 0x106, "jne 0x106"}};
  const SourceFrame Outer10{"Outer(int, char *)", "a.cpp", 11, 10};
  const SourceFrame Helper{"Helper", "a.cpp", 21, 20};
  Coverage.Frames = {{Outer10}, {Helper, {"Outer(int, char *)", "a.cpp", 12, 10}}, {Outer10},
                     {{"Outer(int, char *)", "a.cpp", 0, 10}}};
  Coverage.Runs.Executed = {{0x100, 3}, {0x106, 3}};
  Coverage.Runs.Steps = {{{0x100, 0x106}, 2}, {{0x100, 0x102}, 1}};
  Coverage.Map.Rvas = {{"?Outer@@YAXHPAD@Z", 0x100}};
  return Coverage;
}

TEST(ImageCoverage, TracefileCountsLinesFunctionsAndBranches) {
  const ImageCoverage Coverage = SmallImage();
  const std::string Expected =
      "TN:Small\nSF:/src/a.cpp\n"
      "FN:20,Helper\nFN:10,Outer\nFNDA:0,Helper\nFNDA:3,Outer\nFNF:2\nFNH:1\n"
      "BRDA:11,0,0,2\nBRDA:11,0,1,1\nBRF:2\nBRH:2\n"
      "DA:11,3\nDA:12,0\nDA:21,0\nLF:3\nLH:1\nend_of_record\n";
  EXPECT_EQ(LcovTracefile(Coverage, "/src"), Expected);
  const CoverageFigures Figures = FiguresOf(Coverage);
  EXPECT_EQ(Figures.Instructions, 4u);
  EXPECT_EQ(Figures.Executed, 2u);
  EXPECT_EQ(Figures.Branches, 2u);
  EXPECT_EQ(Figures.BothWays, 1u);
}

TEST(ImageCoverage, SummaryAndGateNameEveryGap) {
  ImageCoverage Coverage = SmallImage();
  EXPECT_EQ(CoverageSummary(Coverage),
            "Small: instructions 2 of 4 executed (50.0 %), branches 1 of 2 covered both ways (50.0 %)\n"
            "  never executed: Outer+0x2 a.cpp:21: movl\n"
            "  never executed: Outer+0x7 (no source line): jne 0x106\n");
  const std::vector<std::string> Unlisted = {"Outer", "a.cpp:21"};
  EXPECT_EQ(UnaccountedGaps(Coverage), Unlisted);
  Coverage.Listed = ListedGaps("text\n| `a.cpp:21` | inlined, never called |\n| `Outer` | after a halt |\n"
                               "| `a.cpp:11` | stale |\n| a.cpp:12 | no backticks |\n| `Board/` | a folder |\n"
                               "| `make run` | a command |\n| `(anonymous namespace)::Convert` | a routine |\n"
                               "| `a.cpp:` | no line |\n| `Outer::` | cut |\n");
  const std::set<std::string> Keys = {"(anonymous namespace)::Convert", "Outer", "a.cpp:11", "a.cpp:21", "Outer::"};
  EXPECT_EQ(Coverage.Listed, Keys);
  Coverage.Listed.erase("(anonymous namespace)::Convert");
  Coverage.Listed.erase("Outer::");
  EXPECT_EQ(UnaccountedGaps(Coverage), std::vector<std::string>{"listed but covered: a.cpp:11"});
  EXPECT_NE(CoverageSummary(Coverage).find("  never executed (listed): Outer+0x2 a.cpp:21"), std::string::npos);
}

}  // namespace
