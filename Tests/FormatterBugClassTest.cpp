// Faults that have bitten other formatters, each checked on the host build
// and on the IA-32 engine under emulation.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "EngineImageRun.h"
#include "FormatRun.h"
#include "RenderHelpers.h"

namespace {

struct BugCase {
  const char *What;
  std::uint32_t Size;
  std::string Format;
  std::vector<std::string> Args;
  std::string Expected;
};

const std::vector<BugCase> kBugCases = {
    {"size 0 writes nothing", 0, "%d", {"u32:5"}, ""},
    {"size 1 writes only the terminator", 1, "%d%a", {"u32:5", "str:x"}, ""},
    {"space and zero precision with 0", 256, "[% .0d]", {"u32:0"}, "[ ]"},
    {"plus and zero precision with 0", 256, "[%+.0d]", {"u32:0"}, "[+]"},
    {"width 2^31-1 from digits", 12, "%2147483647d|", {"u32:1"}, "           "},
    {"width 2^31 from digits", 12, "%2147483648d|", {"u32:1"}, "           "},
    {"width 0xFFFFFFFF from digits", 12, "%4294967295d|", {"u32:1"}, "1|"},
    {"width 2^31-1 from star", 12, "%*d|", {"u32:0x7FFFFFFF", "u32:1"}, "           "},
    {"width 2^31 from star", 12, "%*d|", {"u32:0x80000000", "u32:1"}, "           "},
    {"width 0xFFFFFFFF from star", 12, "%*d|", {"u32:0xFFFFFFFF", "u32:1"}, "1|"},
    {"precision 2^31-1 from digits", 12, "%.2147483647d|", {"u32:1"}, "00000000000"},
    {"precision 2^31 from digits", 12, "%.2147483648d|", {"u32:1"}, "00000000000"},
    {"precision 0xFFFFFFFF from digits", 12, "%.4294967295d|", {"u32:1"}, "1|"},
    {"precision 2^31-1 from star", 12, "%.*a|", {"u32:0x7FFFFFFF", "str:ab"}, "           "},
    {"precision 2^31 from star", 12, "%.*a|", {"u32:0x80000000", "str:ab"}, "           "},
    {"precision 0xFFFFFFFF from star", 12, "%.*a|", {"u32:0xFFFFFFFF", "str:ab"}, "ab|"},
    {"text precision 2^31-1 pads", 8, "%.2147483647a|", {"str:ab"}, "       "},
    {"most negative 64-bit value", 256, "%ld", {"u64:-9223372036854775808"}, "-9223372036854775808"},
    {"most negative 64-bit value grouped", 256, "%,ld", {"u64:0x8000000000000000"}, "-9,223,372,036,854,775,808"},
    {"64-bit values keep later arguments in step", 256, "%d|%lx|%d|%ld|%a|%d",
     {"u32:1", "u64:0xFEDCBA9876543210", "u32:2", "u64:-1", "str:ok", "u32:3"}, "1|FEDCBA9876543210|2|-1|ok|3"},
    {"32-bit directive given a 64-bit value takes its low half", 256, "%x|%d", {"u64:0x1122334455667788", "u32:9"},
     "55667788|9"},
};

TEST(FormatterBugClasses, HostAndIa32) {
  for (const BugCase &Case : kBugCases) {
    const std::vector<FormatValue> Values = ParseFormatValues(Case.Args);
    const FormatOutcome Host = FormatOnHost(Case.Size, Case.Format, Values);
    EXPECT_EQ(Host.Output, Case.Expected) << Case.What;
    EXPECT_TRUE(Host.BufferIntact) << Case.What;
    FormatOutcome Image;
    std::string Error;
    ASSERT_TRUE(RunEngineImage(ENGINE_IMAGE, Case.Size, Case.Format, Values, Image, Error)) << Error;
    EXPECT_EQ(Image.Output, Case.Expected) << Case.What << " (IA-32)";
    EXPECT_TRUE(Image.BufferIntact) << Case.What << " (IA-32)";
  }
}

// A precision that ends before an unterminated end stops the read there; the
// texts sit at the very end of their allocations, so a read past them fails
// under AddressSanitizer.
TEST(FormatterBugClasses, TextPrecisionStopsBeforeAnUnterminatedEnd) {
  auto Text = std::make_unique<char[]>(3);
  std::memcpy(Text.get(), "xyz", 3);
  EXPECT_EQ(Render(16, "%.3a|%.2a", static_cast<const char *>(Text.get()), static_cast<const char *>(Text.get())).Text,
            "xyz|xy");
  auto Wide = std::make_unique<CHAR16[]>(2);
  Wide[0] = u'p';
  Wide[1] = 0x171;
  EXPECT_EQ(Render(16, "%.2S", static_cast<const CHAR16 *>(Wide.get())).Text, "pq");
}

}  // namespace
