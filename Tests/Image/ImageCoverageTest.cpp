// Coverage of the images by runs under emulation, read by pei-sim coverage
// against the image's code and symbol file: which source lines a run
// executes, inlined frames included; the tracefile lcov's own tools take;
// and the refusals of data, symbol files and lists that do not fit.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "CommandRun.h"
#include "FileBytes.h"
#include "ImageCode.h"
#include "LinkMap.h"
#include "Scratch.h"
#include "SourceLines.h"
#include "TestFiles.h"
#include "TextFields.h"

namespace {

const std::string kDebugLib = "MdePkg/Library/BaseDebugLibSerialPort/DebugLib.cpp";

// Runs the module image with Options into a fresh coverage file and reads it
// into a tracefile; returns its text.
std::string TracefileOf(const std::string &Name, const std::vector<std::string> &Options) {
  const std::string Data = ScratchPath(Name + ".cov"), Lcov = ScratchPath(Name + ".info");
  std::filesystem::remove(Data);
  std::vector<std::string> Args = {"run", "--image", MODULE_IMAGE, "--coverage", Data};
  Args.insert(Args.end(), Options.begin(), Options.end());
  const CommandResult Run = PeiSim(Args);
  EXPECT_LE(Run.Exit, 3) << Run.Err;
  const CommandResult Read = PeiSim({"coverage", "--data", Data, "--image", MODULE_IMAGE, "--lcov", Lcov});
  EXPECT_EQ(Read.Exit, 0) << Read.Err;
  return ReadText(Lcov);
}

// The DA counts of File in a tracefile.
std::map<unsigned, unsigned long> LineCounts(const std::string &Tracefile, const std::string &File) {
  std::map<unsigned, unsigned long> Lines;
  const std::string Start = "SF:" SOC_SOURCE_DIR "/" + File + "\n";
  const std::size_t At = Tracefile.find(Start);
  if (At == std::string::npos) {
    return Lines;
  }
  const std::size_t End = Tracefile.find("end_of_record", At);
  std::size_t Line = Tracefile.find("\nDA:", At);
  while (Line != std::string::npos && Line < End) {
    unsigned Number = 0;
    unsigned long Count = 0;
    if (std::sscanf(Tracefile.c_str() + Line + 4, "%u,%lu", &Number, &Count) == 2) {
      Lines[Number] = Count;
    }
    Line = Tracefile.find("\nDA:", Line + 1);
  }
  return Lines;
}

TEST(ImageCoverage, AssertionLinesRunOnlyInARunThatAsserts) {
  const auto Quiet = LineCounts(TracefileOf("default", {}), kDebugLib);
  const auto Asserting = LineCounts(TracefileOf("failed-lookup", {"--no-ppi", "--release-halts"}), kDebugLib);
  ASSERT_FALSE(Quiet.empty());
  for (const unsigned Line : {29u, 30u, 31u}) {  // ReportAssertion's body
    ASSERT_TRUE(Quiet.count(Line) && Asserting.count(Line)) << Line;
    EXPECT_EQ(Quiet.at(Line), 0u) << Line;
    EXPECT_GT(Asserting.at(Line), 0u) << Line;
  }
}

// An instruction of PlatformLoad8 inlined into LegacyUartInit counts for
// the platform header's line and for the caller's line alike.
TEST(ImageCoverage, InlinedInstructionsCountForEveryFrame) {
  const std::vector<std::uint8_t> Image = ReadBytes(MODULE_IMAGE);
  std::vector<std::uint32_t> Rvas;
  for (std::uint32_t Rva = 0x140; Rva < Image.size(); Rva++) {
    Rvas.push_back(Rva);
  }
  std::string Error;
  const auto Frames = SourceLinesOf(Image, SiblingPathFor(MODULE_IMAGE, ".debug"), Rvas, Error);
  ASSERT_TRUE(Frames) << Error;
  const SourceFrame *Platform = nullptr, *Caller = nullptr;
  for (const SourceFrames &Each : *Frames) {
    if (Each.size() >= 2 && Each[0].Function == "PlatformLoad8" && Each[1].Function == "LegacyUartInit" &&
        Each[0].Line != 0 && Each[1].Line != 0) {
      Platform = &Each[0];
      Caller = &Each[1];
      break;
    }
  }
  ASSERT_NE(Platform, nullptr) << "no instruction of PlatformLoad8 inlined into LegacyUartInit";
  EXPECT_EQ(Platform->File, "Platform/Ia32/PlatformIa32.h");
  EXPECT_EQ(Caller->File, "SocPreInit/Dxe/ZodOdoRidaZar.cpp");
  const std::string Tracefile = TracefileOf("inlined", {});
  EXPECT_GT(LineCounts(Tracefile, Platform->File).at(Platform->Line), 0u);
  EXPECT_GT(LineCounts(Tracefile, Caller->File).at(Caller->Line), 0u);
}

TEST(ImageCoverage, SameRunSameCoverage) {
  EXPECT_EQ(TracefileOf("again-1", {"--divisor-code", "5"}), TracefileOf("again-2", {"--divisor-code", "5"}));
}

// lcov's own readers take the tracefile: genhtml makes a page of it and
// lcov --summary counts its lines, functions and branches.
TEST(ImageCoverage, GenhtmlAndLcovTakeTheTracefile) {
  TracefileOf("lcov", {"--no-ppi", "--release-halts"});
  const std::string Lcov = ScratchPath("lcov.info"), Html = ScratchPath("html");
  const CommandResult Summary = RunCommandLine("lcov", {"--summary", Lcov, "--rc", "lcov_branch_coverage=1"});
  EXPECT_EQ(Summary.Exit, 0) << Summary.Err;
  EXPECT_NE((Summary.Out + Summary.Err).find("lines......:"), std::string::npos) << Summary.Out << Summary.Err;
  EXPECT_NE((Summary.Out + Summary.Err).find("branches...:"), std::string::npos);
  const CommandResult Page =
      RunCommandLine("genhtml", {"--quiet", "--branch-coverage", "--output-directory", Html, Lcov});
  EXPECT_EQ(Page.Exit, 0) << Page.Err;
  EXPECT_TRUE(std::filesystem::exists(Html + "/index.html"));
  EXPECT_NE(ReadText(Html + "/index.html").find("SocPreInit"), std::string::npos);
}

// A symbol file of another image, one cut short, data without the image's
// runs, runs that do not fit its code, and a list that accounts for too
// little or nothing: each refused, naming what is wrong.
TEST(ImageCoverage, WhatDoesNotFitIsRefused) {
  const std::string Data = ScratchPath("refusals.cov");
  std::filesystem::remove(Data);
  ASSERT_EQ(PeiSim({"run", "--image", MODULE_IMAGE, "--coverage", Data}).Exit, 0);
  const std::string Foreign = SiblingPathFor(ENGINE_IMAGE, ".debug");
  std::vector<std::uint8_t> Symbols = ReadBytes(SiblingPathFor(MODULE_IMAGE, ".debug"));
  Symbols.resize(Symbols.size() / 2);
  const std::string Cut = WriteScratchFile("cut.debug", Symbols);
  for (const std::string &Path : {Foreign, Cut}) {
    const CommandResult Read = PeiSim({"coverage", "--data", Data, "--image", MODULE_IMAGE, "--symbols", Path});
    EXPECT_EQ(Read.Exit, 4) << Path;
    EXPECT_EQ(Read.Err.rfind("pei-sim: " + Path + " is not the symbol file of this image: ", 0), 0u) << Read.Err;
  }
  const CommandResult Missing = PeiSim({"coverage", "--data", Data, "--image", ENGINE_IMAGE});
  EXPECT_EQ(Missing.Exit, 1);
  EXPECT_EQ(Missing.Err, "pei-sim: no runs of " ENGINE_IMAGE " were recorded\n");

  // An RVA inside an instruction the run executed: data recorded from something else.
  std::string Error;
  const auto Map = ReadLinkMap(MODULE_MAP, Error);
  const auto Code = DisassembleCode(MODULE_IMAGE, 0, 0x140, 0x140 + Map->Parts.at(0).Length, Error);
  ASSERT_TRUE(Code) << Error;
  std::string Text = ReadText(Data);
  std::string Inside;
  for (const Instruction &Each : *Code) {
    const std::size_t At = Text.find("\nx " + Hex(Each.Rva) + " ");
    if (Each.Length > 1 && At != std::string::npos && Inside.empty()) {
      Inside = Hex(Each.Rva + 1);
      Text.replace(At + 3, Hex(Each.Rva).size(), Inside);
    }
  }
  ASSERT_FALSE(Inside.empty());
  const std::string Shifted = WriteScratchText("shifted.cov", Text);
  const CommandResult Misfit = PeiSim({"coverage", "--data", Shifted, "--image", MODULE_IMAGE});
  EXPECT_EQ(Misfit.Exit, 4);
  EXPECT_NE(Misfit.Err.find("executed RVA " + Inside + ", where its code has no instruction"), std::string::npos)
      << Misfit.Err;

  // A run never writes into a file that is not coverage data: it fails instead.
  const std::string Notes = WriteScratchText("notes.txt", "my notes\n");
  for (const char *Command : {"run", "format"}) {
    const std::vector<std::string> Args =
        std::string(Command) == "run"
            ? std::vector<std::string>{"run", "--image", MODULE_IMAGE, "--coverage", Notes}
            : std::vector<std::string>{"format", "--image", MODULE_IMAGE, "%d", "u32:1"};
    const CommandResult Kept = RunCommandLine("env", [&] {
      std::vector<std::string> Env = {"SOC_IMAGE_COVERAGE=" + Notes, PEI_SIM_PATH};
      Env.insert(Env.end(), Args.begin(), Args.end());
      return Env;
    }());
    EXPECT_EQ(Kept.Exit, 4) << Command;
    EXPECT_NE(Kept.Err.find(Notes + ": line 1 is not coverage data: my notes"), std::string::npos) << Kept.Err;
  }
  EXPECT_EQ(ReadText(Notes), "my notes\n");

  const std::string Short = WriteScratchText("short.md", "| `nowhere.cpp:1` | a stale row |\n");
  const CommandResult Gate = PeiSim({"coverage", "--data", Data, "--image", MODULE_IMAGE, "--listed", Short});
  EXPECT_EQ(Gate.Exit, 1);
  EXPECT_NE(Gate.Out.find("not accounted for: SocPreInit: listed but covered: nowhere.cpp:1\n"), std::string::npos);
  EXPECT_NE(Gate.Out.find("not accounted for: SocPreInit: " + kDebugLib + ":30\n"), std::string::npos);
  const std::string Empty = WriteScratchText("empty.md", "no table here\n");
  const CommandResult Nothing = PeiSim({"coverage", "--data", Data, "--image", MODULE_IMAGE, "--listed", Empty});
  EXPECT_EQ(Nothing.Exit, 4);
  EXPECT_NE(Nothing.Err.find(Empty + " names no code no run can reach"), std::string::npos) << Nothing.Err;
}

// The runs of the PE32 image, its TE form and a copy rebased elsewhere are
// one image's runs: they add up under one key.
TEST(ImageCoverage, EveryFormOfTheImageAddsToOneRecord) {
  const std::string Data = ScratchPath("forms.cov");
  std::filesystem::remove(Data);
  ASSERT_EQ(PeiSim({"run", "--image", MODULE_IMAGE, "--coverage", Data}).Exit, 0);
  ASSERT_EQ(PeiSim({"run", "--image", ARTIFACT_TE, "--coverage", Data}).Exit, 0);
  ASSERT_EQ(PeiSim({"run", "--image", MODULE_IMAGE, "--load-base", "0x00357000", "--coverage", Data}).Exit, 0);
  const std::string Text = ReadText(Data);
  EXPECT_EQ(Text.find("\nimage "), Text.rfind("\nimage ")) << Text.substr(0, 200);
  std::string Error;
  const auto Entry = ReadLinkMap(MODULE_MAP, Error)->Rva("_ModuleEntry");
  ASSERT_TRUE(Entry) << Error;
  EXPECT_NE(Text.find("\nx " + Hex(*Entry) + " 3\n"), std::string::npos);  // once a run
}

}  // namespace
