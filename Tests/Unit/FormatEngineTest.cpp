// The format engine's language, edge cases and bounds: the shared vector
// table by group, and the routines the engine is built from. Built once per
// form of the engine (engine_test, engine_test_compact).
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "EngineVectors.h"
#include "GuardedFormat.h"
#include "Library/PrintLib.h"
#include "RenderHelpers.h"

namespace {

void ExpectGroup(const std::string &Group) {
  int Ran = 0;
  for (const EngineVector &Each : EngineVectors()) {
    if (Group != Each.Group) {
      continue;
    }
    Ran++;
    const FormatOutcome Result = FormatValues(Each.Size, Each.Format, Each.Args);
    EXPECT_FALSE(Result.Halted) << Each.Format;
    EXPECT_TRUE(Result.BufferIntact) << "size " << Each.Size << " format '" << Each.Format << "'";
    EXPECT_EQ(Result.Output, Each.Expected) << "size " << Each.Size << " format '" << Each.Format << "'";
    EXPECT_EQ(Result.Count, Each.Expected.size()) << Each.Format;
    EXPECT_TRUE(Result.Sink.empty()) << Each.Format;
  }
  EXPECT_GT(Ran, 0) << "no vector in group " << Group;
}

TEST(FormatEngine, DecimalFlagsWidthsAndPrecisions) { ExpectGroup("decimal"); }
TEST(FormatEngine, GroupingOfThousands) { ExpectGroup("grouping"); }
TEST(FormatEngine, HexadecimalAndPointers) { ExpectGroup("hex"); }
TEST(FormatEngine, TextsAndCharacters) { ExpectGroup("texts"); }
TEST(FormatEngine, StatusNames) { ExpectGroup("status"); }
TEST(FormatEngine, GuidAndTimeRecords) { ExpectGroup("records"); }
TEST(FormatEngine, LineEndsAndLiterals) { ExpectGroup("line ends"); }
TEST(FormatEngine, StarWidthsAndPrecisions) { ExpectGroup("star"); }
TEST(FormatEngine, ArgumentsStayInStepAcross64BitValues) { ExpectGroup("in step"); }
TEST(FormatEngine, AssertionLineFormat) { ExpectGroup("assertion"); }
TEST(FormatEngine, BoundedOutput) { ExpectGroup("bounded"); }
TEST(FormatterBugClasses, KnownFaultsOfOtherFormatters) { ExpectGroup("bug classes"); }

TEST(FormatEngine, EveryVectorBelongsToATestedGroup) {
  const std::set<std::string> Groups = {"decimal", "grouping", "hex", "texts", "status", "records", "line ends",
                                        "star", "in step", "assertion", "bounded", "bug classes"};
  for (const EngineVector &Each : EngineVectors()) {
    EXPECT_EQ(Groups.count(Each.Group), 1u) << Each.Group;
  }
}

// The records C++ callers make, straight from MakePrintArg (not through the
// value table): the host's own pointers and widths.
TEST(FormatEngine, RecordsFromCxxValues) {
  const EFI_GUID Guid = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
  EXPECT_EQ(Text("%g|%a|%ld|%d", &Guid, "x", static_cast<INT32>(0), static_cast<INT64>(-1)),
            "00000001-0002-0003-0405-060708090A0B|x|0|-1");
  const CHAR16 Wide[] = {0x41, 0x141, 0};
  EXPECT_EQ(Text("%s", Wide), "AA");
}

TEST(FormatEngine, SizeZeroWritesNothingAndIgnoresTheBuffer) {
  const Rendered Result = Render(0, "abc%d", 5);
  EXPECT_TRUE(Result.BufferIntact);
  EXPECT_EQ(Result.Count, 0u);
  EXPECT_EQ(FormatToBuffer(nullptr, 0, "abc", nullptr), 0u);
}

TEST(FormatEngine, EmptyFormatWritesOnlyTheTerminator) {
  const Rendered Result = Render(16, "");
  EXPECT_TRUE(Result.BufferIntact);
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

// A precision that ends before an unterminated end stops the read there; the
// texts sit at the very end of their allocations, so a read past them fails
// under AddressSanitizer.
TEST(FormatterBugClasses, TextPrecisionStopsBeforeAnUnterminatedEnd) {
  auto Text = std::make_unique<char[]>(3);
  std::memcpy(Text.get(), "xyz", 3);
  EXPECT_EQ(Render(16, "%.3a|%.2a", static_cast<const char *>(Text.get()), static_cast<const char *>(Text.get())).Output,
            "xyz|xy");
  auto Wide = std::make_unique<CHAR16[]>(2);
  Wide[0] = u'p';
  Wide[1] = 0x171;
  EXPECT_EQ(Render(16, "%.2S", static_cast<const CHAR16 *>(Wide.get())).Output, "pq");
}

}  // namespace
