// The engine compiled for IA-32, under emulation, against the host build:
// the same vectors must give the same bytes, counts and reports.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "EngineImageRun.h"
#include "FormatRun.h"

namespace {

struct Vector {
  std::uint32_t Size;
  std::string Format;
  std::vector<std::string> Args;
};

const std::vector<Vector> kVectors = {
    {256, "%d|%.0d|%+.0d|% .0d|%.d", {"u32:0", "u32:0", "u32:0", "u32:0", "u32:0"}},
    {256, "%5d|%05d|%-5d|%.5d|% d|%+ d", {"u32:-42", "u32:-42", "u32:-42", "u32:-42", "u32:-42", "u32:42"}},
    {256, "%,d|%,d|%,08d|%,.5d|%,x", {"u32:1234567", "u32:-1234", "u32:1234", "u32:42", "u32:0x12345"}},
    {256, "%ld|%ld|%,ld", {"u64:-9223372036854775808", "u64:-9223372036854775807", "u64:18446744073709551615"}},
    {256, "%d %ld %d %lx %d", {"u32:1", "u64:-5000000000", "u32:3", "u64:0xFFFFFFFF00000000", "u32:5"}},
    {256, "%x|%X|%4x|%4X|%lx|%+x|%p|%8p|%+p",
     {"u32:255", "u32:255", "u32:255", "u32:255", "u64:0x123456789ABCDEF0", "u32:5", "u32:0x1234", "u32:0x1234",
      "u32:0x1234"}},
    {256, "%a|%.2a|%.a|%.5a|%6a|%-6a|%-6.4a|%a",
     {"str:hello", "str:hello", "str:hello", "str:ab", "str:ab", "str:ab", "str:ab", "null"}},
    {256, "%S|%S|%s|%.2S", {"wunits:0x41,0x141,0x42", "wunits:0x41,0x100,0x42", "null", "wunits:0x70,0x71,0x72"}},
    {256, "%c|%c|%3c|%.3c", {"u32:65", "u32:0", "u32:65", "u32:65"}},
    {256, "%r|%r|%r|%r|%r|%r|%12r",
     {"u32:0", "u32:5", "u32:6", "u32:0x8000001D", "u32:0x80000000", "u32:0x80000022", "u32:0x8000000E"}},
    {256, "%g|%g|%t|%t", {"guid:00000001-0002-0003-0405-060708090A0B", "null", "time:2024-07-04T13:05", "null"}},
    {256, "%g", {"guid:4B0165A9-61D6-4E23-A0B5-3EC79C2E30D5"}},
    {256, "a\nb|a\r\nb|a\n\rb|a\rb|a\r\r\nb|%%|%q|%5%|%-5\n|ab%5", {}},
    {256, "%*d|%-*d|%*d|%.*a|%*.*d", {"u32:6", "u32:42", "u32:6", "u32:42", "u32:-6", "u32:42", "u32:3",
                                      "str:hello", "u32:8", "u32:4", "u32:42"}},
    {256, "%2147483647d|%4294967295d|%.2147483648d|%.*a|", {"u32:1", "u32:1", "u32:1", "u32:0xFFFFFFFF", "str:xy"}},
    {256, "ASSERT %a(%d): %a\n", {"str:MdePkg\\Library\\BaseLib\\String", "u32:1210", "str:String != ((void *) 0)"}},
    {256, "%a %g %d %d", {"u32:7", "u64:8", "u32:9"}},  // integers as pointers read as null; a missing one as 0
    {0, "abc", {}},
    {1, "abc%d", {"u32:5"}},
    {3, "abc", {}},
    {8, "%d", {"u32:123456789"}},
    {6, "%,d", {"u32:1234567"}},
    {3, "a\n", {}},
    {4, "%g", {"guid:00000001-0002-0003-0405-060708090A0B"}},
    {40, "%1000001d", {"u32:1"}},
};

TEST(EngineImage, VectorsMatchTheHostBuild) {
  for (const Vector &Each : kVectors) {
    const std::vector<FormatValue> Values = ParseFormatValues(Each.Args);
    const FormatOutcome Host = FormatOnHost(Each.Size, Each.Format, Values);
    FormatOutcome Image;
    std::string Error;
    ASSERT_TRUE(RunEngineImage(ENGINE_IMAGE, Each.Size, Each.Format, Values, Image, Error)) << Error;
    EXPECT_EQ(Image.Output, Host.Output) << Each.Format;
    EXPECT_EQ(Image.Count, Host.Count) << Each.Format;
    EXPECT_EQ(Image.Halted, Host.Halted) << Each.Format;
    EXPECT_EQ(Image.Sink, Host.Sink) << Each.Format;
    EXPECT_TRUE(Image.BufferIntact) << Each.Format;
    EXPECT_TRUE(Host.BufferIntact) << Each.Format;
  }
}

TEST(EngineImage, KnownOutputsOnIa32) {
  const std::vector<std::pair<Vector, std::string>> Known = {
      {{256, "%ld", {"u64:-9223372036854775808"}}, "-9223372036854775808"},
      {{256, "%lu|%d", {"u64:0x123456789ABCDEF0", "u32:9"}}, "u|-1698898192"},
      {{256, "%g", {"guid:00000001-0002-0003-0405-060708090A0B"}}, "00000001-0002-0003-0405-060708090A0B"},
      {{256, "%t", {"time:2024-07-04T13:05"}}, "07/04/2024  13:05"},
      {{256, "%r", {"u32:0x80000022"}}, "80000022"},
  };
  for (const auto &[Each, Expected] : Known) {
    const std::vector<FormatValue> Values = ParseFormatValues(Each.Args);
    FormatOutcome Image;
    std::string Error;
    ASSERT_TRUE(RunEngineImage(ENGINE_IMAGE, Each.Size, Each.Format, Values, Image, Error)) << Error;
    EXPECT_EQ(Image.Output, Expected) << Each.Format;
  }
}

TEST(EngineImage, OutputLengthCheckHaltsOnIa32) {
  std::vector<FormatValue> Values = {ParseFormatValue("u32:1")};
  FormatOutcome Image;
  std::string Error;
  ASSERT_TRUE(RunEngineImage(ENGINE_IMAGE, 1000002, "%1000001d", Values, Image, Error)) << Error;
  EXPECT_TRUE(Image.Halted);
  ASSERT_EQ(Image.Sink.size(), 1u);
  EXPECT_NE(Image.Sink[0].find("Length < _gPcd_FixedAtBuild_PcdMaximumAsciiStringLength"), std::string::npos);
}

}  // namespace
