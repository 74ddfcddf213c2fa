// The engine as the image carries it: EngineTest.efi (the compact form,
// compiled for IA-32) under emulation, on the whole vector table the host
// suites use, and on the checks that only a long text reaches.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "AssertionText.h"
#include "EngineImageRun.h"
#include "EngineVectors.h"

namespace {

FormatOutcome RunOnImage(std::uint32_t Size, const std::string &Format, const std::vector<FormatValue> &Args,
                         bool &Ran) {
  FormatOutcome Outcome;
  std::string Error;
  Ran = RunEngineImage(ENGINE_IMAGE, Size, Format, Args, Outcome, Error);
  // A fault fails this case; the others still run.
  EXPECT_TRUE(Ran) << "format '" << Format << "': " << Error;
  return Outcome;
}

TEST(EngineImage, EveryVectorOnIa32) {
  for (const EngineVector &Each : EngineVectors()) {
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
TEST(EngineImage, FormatLengthLimitOnIa32) {
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

TEST(EngineImage, OutputLengthCheckHaltsOnIa32) {
  bool Ran = false;
  const FormatOutcome Image = RunOnImage(1000002, "%1000001d", {V(1u)}, Ran);
  ASSERT_TRUE(Ran);
  EXPECT_TRUE(Image.Halted);
  ASSERT_EQ(Image.Sink.size(), 1u);
  EXPECT_NE(Image.Sink[0].find("Length < _gPcd_FixedAtBuild_PcdMaximumAsciiStringLength"), std::string::npos);
}

}  // namespace
