// The format engine's language, edge cases and bounds.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Library/PrintLib.h"
#include "RenderHelpers.h"

namespace {

using namespace std::string_literals;

struct Case {
  const char *Format;
  std::vector<PRINT_ARG> Args;
  std::string Expected;
};

template <class... ARGS> std::vector<PRINT_ARG> A(ARGS... Args) { return {MakePrintArg(Args)...}; }

const EFI_GUID kGuid = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
const EFI_TIME kTime = {2024, 7, 4, 13, 5, 59, 0, 123, 60, 1, 0};
const CHAR16 kUnitsHigh[] = {0x41, 0x141, 0x42, 0};
const CHAR16 kUnitsZeroLow[] = {0x41, 0x100, 0x42, 0};

void ExpectCases(const std::vector<Case> &Cases) {
  for (const Case &Each : Cases) {
    const Rendered Result = RenderArgs(256, Each.Format, Each.Args);
    EXPECT_FALSE(Result.Halted) << Each.Format;
    EXPECT_TRUE(Result.Clean) << Each.Format;
    EXPECT_EQ(Result.Text, Each.Expected) << "format '" << Each.Format << "'";
  }
}

TEST(FormatEngine, DecimalFlagsWidthsAndPrecisions) {
  ExpectCases({
      {"%d", A(0), "0"},
      {"%.0d", A(0), ""},
      {"%+.0d", A(0), "+"},
      {"% .0d", A(0), " "},
      {"%.d", A(0), "0"},
      {"%5d", A(-42), "  -42"},
      {"%05d", A(-42), "-0042"},
      {"%-5d", A(-42), "-42  "},
      {"%.5d", A(-42), "-00042"},
      {"% d", A(-42), "-42"},
      {"%+ d", A(42), "+42"},
      {"% d", A(42), " 42"},
      {"%5.3d", A(7), "  007"},
      {"%-05d", A(7), "7    "},
      {"%08.3d", A(7), "     007"},
      {"%d", A(-2147483647 - 1), "-2147483648"},
      {"%ld", A(-9223372036854775807LL - 1), "-9223372036854775808"},
      {"%ld", A(18446744073709551615ULL), "-1"},
      {"%Ld", A(1234567890123LL), "1234567890123"},
      {"%d", A(4294967295u), "-1"},
      {"%05d %d", A(-0, 3), "00000 3"},
  });
}

TEST(FormatEngine, GroupingOfThousands) {
  ExpectCases({
      {"%,d", A(1234567), "1,234,567"},
      {"%,d", A(-1234), "-1,234"},
      {"%,d", A(123), "123"},
      {"%,d", A(1000), "1,000"},
      {"%,d", A(0), "0"},
      {"%,d", A(100000), "100,000"},
      {"%+,d", A(1234), "+1,234"},
      {"%,08d", A(1234), "   1,234"},
      {"%,.5d", A(42), "42"},
      {"%,x", A(0x12345), "12345"},
      {"%,ld", A(-9223372036854775807LL - 1), "-9,223,372,036,854,775,808"},
      {"%-10,d|", A(12345), "12,345    |"},
      {"[%,.0d|%+,.0d]", A(0, 0), "[0|+0]"},  // grouping drops the precision: a 0 keeps its digit
  });
}

TEST(FormatEngine, HexadecimalAndPointers) {
  ExpectCases({
      {"%x", A(255), "FF"},
      {"%X", A(255), "FF"},
      {"%4x", A(255), "  FF"},
      {"%4X", A(255), "00FF"},
      {"%-4X|", A(255), "FF  |"},
      {"%x", A(-1), "FFFFFFFF"},
      {"%lx", A(0x123456789ABCDEF0ULL), "123456789ABCDEF0"},
      {"%+x", A(5), "+5"},
      {"% x", A(5), " 5"},
      {"%x", A(0x1234567887654321ULL), "87654321"},  // 32-bit directive: the low half
      {"%p", A(0x1234), "1234"},
      {"%8p", A(0x1234), "00001234"},
      {"%+p", A(0x1234), "1234"},
      {"%lp|%d", A(0x1234, 9), "1234|9"},  // 'l' does not make 'p' take 64 bits
      {"%08X", A(0xDEADBEEF), "DEADBEEF"},
  });
}

TEST(FormatEngine, TextsAndCharacters) {
  ExpectCases({
      {"%a", A("hello"), "hello"},
      {"%.2a", A("hello"), "he"},
      {"%.a", A("hello"), "h"},
      {"%.5a|%.6a", A("abcdefg", "abcde"), "abcde| abcde"},
      {"%.5a", A("ab"), "   ab"},
      {"%6a", A("ab"), "    ab"},
      {"%-6a", A("ab"), "ab    "},
      {"%-6.4a", A("ab"), "  ab  "},
      {"%a", A(nullptr), "<null string>"},
      {"%s", A(nullptr), "<null string>"},
      {"%S", A(nullptr), "<null string>"},
      {"%.4S", A(nullptr), "<nul"},
      {"%S", A(kUnitsHigh), "AAB"},
      {"%S", A(kUnitsZeroLow), "A\0B"s},
      {"%.2s", A(kUnitsHigh), "AA"},
      {"%c", A(65), "A"},
      {"%c", A(0), " "},
      {"%3c", A(65), "  A"},
      {"%.3c", A(65), "  A"},
      {"%c", A(0x141), "A"},
  });
}

TEST(FormatEngine, StatusNames) {
  ExpectCases({
      {"%r", A(0), "Success"},
      {"%r", A(5), "Warning Stale Data"},
      {"%r", A(6), "00000006"},
      {"%r", A(0x80000001u), "Load Error"},
      {"%r", A(0x80000002u), "Invalid Parameter"},
      {"%r", A(0x8000001Du), "Reserved (29)"},
      {"%r", A(0x80000021u), "Compromised Data"},
      {"%r", A(0x80000000u), "80000000"},
      {"%r", A(0x80000022u), "80000022"},
      {"%r", A(0x7FFFFFFFu), "7FFFFFFF"},
      {"%12r", A(0x8000000Eu), "   Not Found"},
      {"%-12r|", A(0x8000000Eu), "Not Found   |"},
  });
}

TEST(FormatEngine, GuidAndTimeRecords) {
  // Records at an odd address must read the same.
  alignas(4) unsigned char Odd[1 + sizeof(EFI_GUID) + sizeof(EFI_TIME)];
  __builtin_memcpy(Odd + 1, &kGuid, sizeof kGuid);
  unsigned char OddTime[1 + sizeof(EFI_TIME)];
  __builtin_memcpy(OddTime + 1, &kTime, sizeof kTime);
  ExpectCases({
      {"%g", A(&kGuid), "00000001-0002-0003-0405-060708090A0B"},
      {"%g", A(static_cast<const void *>(Odd + 1)), "00000001-0002-0003-0405-060708090A0B"},
      {"%g", A(nullptr), "<null guid>"},
      {"%t", A(&kTime), "07/04/2024  13:05"},
      {"%t", A(static_cast<const void *>(OddTime + 1)), "07/04/2024  13:05"},
      {"%t", A(nullptr), "<null time>"},
      {"%40g|", A(&kGuid), "    00000001-0002-0003-0405-060708090A0B|"},
      {"%.8g", A(&kGuid), "00000001"},  // a precision cuts every text
  });
}

TEST(FormatEngine, LineEndsAndLiterals) {
  ExpectCases({
      {"a\nb", {}, "a\r\nb"},
      {"a\r\nb", {}, "a\r\nb"},
      {"a\n\rb", {}, "a\r\nb"},
      {"a\rb", {}, "a\rb"},
      {"a\r\r\nb", {}, "a\r\r\nb"},
      {"%%", {}, "%"},
      {"%q", {}, "q"},
      {"%5%", {}, "    %"},
      {"ab%", {}, "ab"},
      {"ab%5", {}, "ab     "},
      {"ab%-5", {}, "ab     "},
      {"ab%.5", {}, "ab"},
      {"%-5\n", {}, "\r\n   "},
      {"%5\n\r|", {}, "   \r\n|"},
      {"\xE9\xFF", {}, "\xE9\xFF"},
      {"abcd%%efgh\nijkl", {}, "abcd%efgh\r\nijkl"},  // literal runs that end on a block boundary
  });
}

TEST(FormatEngine, StarWidthsAndPrecisions) {
  ExpectCases({
      {"%*d", A(6, 42), "    42"},
      {"%-*d", A(6, 42), "42    "},
      {"%*d", A(-6, 42), "42"},
      {"%.*a", A(3, "hello"), "hel"},
      {"%*.*d", A(8, 4, 42), "    0042"},
      {"%5*d", A(3, 42), " 42"},  // a later width replaces an earlier one
  });
}

TEST(FormatEngine, ArgumentsStayInStepAcross64BitValues) {
  ExpectCases({
      {"%d %ld %d %lx %d", A(1, -5000000000LL, 3, 0xFFFFFFFF00000000ULL, 5), "1 -5000000000 3 FFFFFFFF00000000 5"},
      {"%d %d", A(7), "7 0"},            // missing argument reads as 0
      {"%ld|%lx|%-1d", A(), "0|0|0"},     // missing 64-bit ones too; a left width below the field adds nothing
      {"%a|%g|%t", A(1, 2, 3), "<null string>|<null guid>|<null time>"},
      {"%ld", A(-1), "-1"},              // 32-bit signed read as 64: sign-extended
      {"%lx", A(0xFFFFFFFFu), "FFFFFFFF"},  // 32-bit unsigned read as 64: zero-extended
  });
}

TEST(FormatEngine, AssertionLineFormat) {
  EXPECT_EQ(Text("ASSERT %a(%d): %a\n", "MdePkg\\Library\\BaseLib\\String", 1210u, "String != ((void *) 0)"),
            "ASSERT MdePkg\\Library\\BaseLib\\String(1210): String != ((void *) 0)\r\n");
}

// Output is cut at BufferSize - 1 characters wherever that falls, the
// terminator always follows, and nothing outside the buffer is touched.
TEST(FormatEngine, BoundedOutput) {
  struct Bounded {
    UINTN Size;
    const char *Format;
    std::vector<PRINT_ARG> Args;
    std::string Expected;
  };
  const std::vector<Bounded> Cases = {
      {3, "abc", {}, "ab"},
      {8, "%d", A(123456789), "1234567"},
      {6, "%,d", A(1234567), "1,234"},
      {3, "a\n", {}, "a\r"},
      {1, "%d%s", A(5), ""},
      {2, "%10d", A(5), " "},
      {5, "%-10d|", A(5), "5   "},
      {4, "%g", A(&kGuid), "000"},
      {6, "%.40a", A("ab"), "     "},
      {16, "%2147483647d|", A(1), "               "},
      {16, "%-2147483648d|", A(1), "1              "},  // 2^31 - 1 blanks after
      {16, "%2147483649d|", A(1), "1|"},                // a difference of 2^31 is negative
      {16, "%4294967295d|", A(1), "1|"},
      {16, "%*d|", A(0x7FFFFFFF, 1), "               "},
      {16, "%*d|", A(0x80000000u, 1), "               "},
      {16, "%*d|", A(0xFFFFFFFFu, 1), "1|"},
      {16, "%.2147483647d", A(1), "000000000000000"},
      {16, "%.4294967295d|", A(1), "1|"},
      {16, "%.*a|", A(0xFFFFFFFFu, "xy"), "xy|"},
  };
  for (const Bounded &Each : Cases) {
    const Rendered Result = RenderArgs(Each.Size, Each.Format, Each.Args);
    EXPECT_TRUE(Result.Clean) << Each.Format;
    EXPECT_EQ(Result.Text, Each.Expected) << "size " << Each.Size << " format '" << Each.Format << "'";
    EXPECT_EQ(Result.Count, Each.Expected.size()) << Each.Format;
  }
}

TEST(FormatEngine, SizeZeroWritesNothingAndIgnoresTheBuffer) {
  const Rendered Result = Render(0, "abc%d", 5);
  EXPECT_TRUE(Result.Clean);
  EXPECT_EQ(Result.Count, 0u);
  EXPECT_EQ(FormatToBuffer(nullptr, 0, "abc", nullptr), 0u);
}

TEST(FormatEngine, EmptyFormatWritesOnlyTheTerminator) {
  const Rendered Result = Render(16, "");
  EXPECT_TRUE(Result.Clean);
  EXPECT_EQ(Result.Count, 0u);
}

// A text precision that ends before the text does stops the engine from
// reading further: the bytes after it may be unreadable.
TEST(FormatEngine, TextPrecisionBoundsTheRead) {
  const char Unterminated[3] = {'x', 'y', 'z'};
  EXPECT_EQ(Text("%.3a", static_cast<const char *>(Unterminated)), "xyz");
  const CHAR16 Wide[2] = {u'p', u'q'};
  EXPECT_EQ(Text("%.2s", static_cast<const CHAR16 *>(Wide)), "pq");
}

TEST(FormatEngine, FillCharsStopsAtTheEndAndIgnoresNonPositiveCounts) {
  char Buffer[4] = {'.', '.', '.', '.'};
  EXPECT_EQ(FillChars(Buffer, Buffer + 3, 10, 0x1241), Buffer + 3);
  EXPECT_EQ(std::string(Buffer, 4), "AAA.");
  EXPECT_EQ(FillChars(Buffer, Buffer + 3, -1, 'x'), Buffer);
  EXPECT_EQ(FillChars(Buffer, Buffer + 3, 0, 'x'), Buffer);
}

TEST(FormatEngine, ValueToTextWritesDigitsLeastSignificantFirst) {
  char Scratch[PRINT_SCRATCH_SIZE];
  char *Top = ValueToText(Scratch, 0, 10);
  EXPECT_EQ(Top - Scratch, 1);
  EXPECT_EQ(Scratch[0], 0);
  EXPECT_EQ(Scratch[1], '0');
  Top = ValueToText(Scratch, 18446744073709551615ULL, 10);
  EXPECT_EQ(Top - Scratch, 20);
  EXPECT_EQ(std::string(Scratch + 1, 20), "51615590737044764481");
  Top = ValueToText(Scratch, 0xABCULL, 16);
  EXPECT_EQ(std::string(Scratch + 1, 3), "CBA");
  // Bases other than 10 and 16 take the 64-by-32 division for every digit.
  Top = ValueToText(Scratch, 0x1FFFFFFFFULL, 8);
  EXPECT_EQ(std::string(Scratch + 1, static_cast<std::size_t>(Top - Scratch)), "77777777777");
  Top = ValueToText(Scratch, 5, 2);
  EXPECT_EQ(std::string(Scratch + 1, static_cast<std::size_t>(Top - Scratch)), "101");
}

}  // namespace
