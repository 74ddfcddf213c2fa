// The engine as the images carry it, under emulation: EngineTest.efi (the
// compact form, compiled for IA-32) and the module image's own FormatToBuffer
// (the engine as shipped, inlined and folded by link-time optimisation into
// the module's calls), on the whole vector table the host suites use and on
// the checks that only a long text reaches.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "AssertionText.h"
#include "EngineImageRun.h"
#include "EngineVectors.h"

namespace {

class EngineImage : public testing::TestWithParam<const char *> {};

FormatOutcome RunOnImage(std::uint32_t Size, const std::string &Format, const std::vector<FormatValue> &Args,
                         bool &Ran) {
  FormatOutcome Outcome;
  std::string Error;
  Ran = RunEngineImage(EngineImage::GetParam(), Size, Format, Args, Outcome, Error);
  // A fault fails this case; the others still run.
  EXPECT_TRUE(Ran) << "format '" << Format << "': " << Error;
  return Outcome;
}

// The module's copy of FormatToBuffer is what link-time optimisation kept for
// the module's own calls: none passes an empty buffer (so the test for one is
// gone) and none reads the count (so it is not returned; the run measures the
// text up to its terminator instead, which ends a text at an embedded 0).
bool ModuleCopy() { return std::string(EngineImage::GetParam()) != ENGINE_IMAGE; }

TEST_P(EngineImage, EveryVectorOnIa32) {
  for (EngineVector Each : EngineVectors()) {
    if (ModuleCopy() && Each.Size == 0) {
      continue;
    }
    if (ModuleCopy()) {
      Each.Expected = Each.Expected.substr(0, Each.Expected.find('\0'));
    }
    bool Ran = false;
    const FormatOutcome Image = RunOnImage(Each.Size, Each.Format, Each.Args, Ran);
    if (!Ran) {
      continue;
    }
    const std::string What = std::string(Each.Group) + ": size " + std::to_string(Each.Size) + " format '" +
                             Each.Format + "'";
    EXPECT_FALSE(Image.Halted) << What;
    EXPECT_EQ(Image.Output, Each.Expected) << What;
    EXPECT_EQ(Image.Count, Each.Expected.size()) << What;
    EXPECT_TRUE(Image.BufferIntact) << What;
    EXPECT_TRUE(Image.Sink.empty()) << What;
  }
}

// The length limit from both sides, through the format's own measurement:
// 999,999 and 1,000,000 characters pass, 1,000,001 halt at the limit check.
TEST_P(EngineImage, FormatLengthLimitOnIa32) {
  for (const std::size_t Length : {999999u, 1000000u, 1000001u}) {
    const std::string Format(Length, 'x');
    bool Ran = false;
    const FormatOutcome Image = RunOnImage(8, Format, {}, Ran);
    if (!Ran) {
      continue;
    }
    if (Length <= 1000000) {
      EXPECT_FALSE(Image.Halted) << Length;
      EXPECT_EQ(Image.Output, "xxxxxxx") << Length;
    } else {
      EXPECT_TRUE(Image.Halted);
      ASSERT_EQ(Image.Sink.size(), 1u);
      EXPECT_EQ(WithoutLine(Image.Sink[0]),
                "ASSERT MdePkg\\Library\\BaseLib\\String(N): Length < _gPcd_FixedAtBuild_PcdMaximumAsciiStringLength\r\n");
      EXPECT_TRUE(PointsAtItsCheck(Image.Sink[0])) << Image.Sink[0];
    }
  }
}

TEST_P(EngineImage, OutputLengthCheckHaltsOnIa32) {
  bool Ran = false;
  const FormatOutcome Image = RunOnImage(1000002, "%1000001d", {V(1u)}, Ran);
  ASSERT_TRUE(Ran);
  EXPECT_TRUE(Image.Halted);
  ASSERT_EQ(Image.Sink.size(), 1u);
  EXPECT_NE(Image.Sink[0].find("Length < _gPcd_FixedAtBuild_PcdMaximumAsciiStringLength"), std::string::npos);
}

// What no C++ caller of the module does, but a debugger or a careless caller
// can: null pointers handed to the engine, and halts ended so that the code
// after each failed check runs. Each run names its checks in order, and the
// buffer around the text stays as it was.
TEST_P(EngineImage, NullPointersAndReleasedHalts) {
  struct CASE {
    const char *Name;
    EngineCall Call;
    std::uint32_t Size;
    std::string Format;
    std::vector<FormatValue> Args;
    std::vector<std::string> Assertions;  // without their line numbers
    std::string Output;                   // when the call returns
  };
  const std::string NullString = "ASSERT MdePkg\\Library\\BaseLib\\String(N): String != ((void *) 0)\r\n";
  const std::string NullBuffer =
      "ASSERT MdePkg\\Library\\BasePrintLib\\PrintLibInternal(N): Buffer != ((void *) 0)\r\n";
  const std::string Limit =
      "ASSERT MdePkg\\Library\\BaseLib\\String(N): Length < _gPcd_FixedAtBuild_PcdMaximumAsciiStringLength\r\n";
  const std::vector<CASE> Cases = {
      {"null format", {.NullFormat = true}, 16, "", {}, {NullString}, ""},
      {"null format, released", {.NullFormat = true, .ReleaseHalts = true}, 16, "", {}, {NullString}, ""},
      {"null buffer", {.NullBuffer = true}, 16, "%d", {V(1u)}, {NullBuffer}, ""},
      {"null buffer, released", {.NullBuffer = true, .ReleaseHalts = true}, 16, "%d", {V(1u)}, {NullBuffer}, ""},
      {"over the limit, released", {.ReleaseHalts = true}, 8, std::string(1000001, 'x'), {}, {Limit}, "xxxxxxx"},
      {"null argument list", {.NullArgs = true}, 64, "%d|%a|%g|%r", {}, {},
       "0|<null string>|<null guid>|Success"},
  };
  for (const CASE &Each : Cases) {
    if (Each.Call.NullArgs && !ModuleCopy()) {
      continue;  // the engine test image's entry always makes a list
    }
    FormatOutcome Outcome;
    std::string Error;
    ASSERT_TRUE(RunEngineImage(GetParam(), Each.Size, Each.Format, Each.Args, Outcome, Error, Each.Call))
        << Each.Name << ": " << Error;
    std::vector<std::string> Assertions;
    for (const std::string &Line : Outcome.Sink) {
      Assertions.push_back(WithoutLine(Line));
      EXPECT_TRUE(PointsAtItsCheck(Line)) << Each.Name << ": " << Line;
    }
    EXPECT_EQ(Assertions, Each.Assertions) << Each.Name;
    EXPECT_EQ(Outcome.Halted, !Each.Assertions.empty()) << Each.Name;
    EXPECT_TRUE(Outcome.BufferIntact) << Each.Name;
    if (Each.Call.ReleaseHalts || Each.Assertions.empty()) {
      EXPECT_EQ(Outcome.Output, Each.Output) << Each.Name;
    }
  }
}

// The test entry hands the engine a list whatever it is given, and the
// module's copy no longer tests for an empty buffer: neither call is made.
TEST_P(EngineImage, CallsAnImageCannotTakeAreRefused) {
  FormatOutcome Outcome;
  std::string Error;
  if (ModuleCopy()) {
    EXPECT_FALSE(RunEngineImage(GetParam(), 0, "%d", {V(1u)}, Outcome, Error));
    EXPECT_NE(Error.find("takes no empty buffer"), std::string::npos) << Error;
  } else {
    EXPECT_FALSE(RunEngineImage(GetParam(), 16, "%d", {}, Outcome, Error, {.NullArgs = true}));
    EXPECT_NE(Error.find("always hands the engine an argument list"), std::string::npos) << Error;
  }
}

std::string ImageName(const testing::TestParamInfo<const char *> &Info) {
  const char *const Names[] = {"EngineTest", "SocPreInit", "SocPreInitDebug"};
  return Names[Info.index];
}

INSTANTIATE_TEST_SUITE_P(EveryImage, EngineImage, testing::Values(ENGINE_IMAGE, MODULE_IMAGE, DEBUG_LEVEL_IMAGE),
                         ImageName);

}  // namespace
