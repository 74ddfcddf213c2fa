// The ROM foundation's options parser, built for the host: every setting, its
// range at both ends, and every refusal.
#include <gtest/gtest.h>

#include <string>

#include "Options.h"

namespace {

struct Parsed {
  const char *Error;
  FOUNDATION_OPTIONS Options;
};

Parsed Parse(const std::string &Text) {
  Parsed Result{nullptr, {}};
  Result.Error = ParseFoundationOptions(Text.c_str(), Result.Options);
  return Result;
}

TEST(FoundationOptions, EverySettingIsTaken) {
  const Parsed All = Parse("rom divisor=255 bus=0xFF reg40=0x02 release=1 depex=0 ppi=0x80000003 sink=0x8AD halt=2205");
  ASSERT_EQ(All.Error, nullptr) << All.Error;
  EXPECT_EQ(All.Options.DivisorCode, 255);
  EXPECT_EQ(All.Options.Bus, 255);
  EXPECT_EQ(All.Options.Reg40, 2);
  EXPECT_TRUE(All.Options.ReleaseHalts);
  EXPECT_FALSE(All.Options.HonourModuleDepex);
  EXPECT_EQ(All.Options.Ppi, PPI_FAILS);
  EXPECT_EQ(All.Options.PpiStatus, 0x80000003u);
  EXPECT_EQ(All.Options.SinkRva, 0x8ADu);
  EXPECT_EQ(All.Options.HaltRva, 2205u);

  const Parsed Defaults = Parse("rom");
  EXPECT_EQ(Defaults.Error, nullptr);
  EXPECT_EQ(Defaults.Options.DivisorCode, foundation_protocol::kDefaultDivisorCode);
  EXPECT_EQ(Defaults.Options.Bus, foundation_protocol::kDefaultBus);
  EXPECT_EQ(Defaults.Options.Ppi, PPI_INSTALLED);
  EXPECT_TRUE(Defaults.Options.HonourModuleDepex);
  EXPECT_FALSE(Defaults.Options.ReleaseHalts);
  EXPECT_EQ(Parse("rom  ppi=absent   release=0 ").Options.Ppi, PPI_ABSENT);
  EXPECT_EQ(Parse("rom ppi=absent ppi=installed").Options.Ppi, PPI_INSTALLED);  // the last one holds
  EXPECT_EQ(Parse("").Error, nullptr);
  EXPECT_EQ(Parse("rom sink=0xFFFFFFFF").Options.SinkRva, 0xFFFFFFFFu);
  EXPECT_EQ(Parse("rom ppi=0x80000000").Options.PpiStatus, 0x80000000u);
  EXPECT_EQ(Parse("rom divisor=0").Options.DivisorCode, 0);
  // Decimal unless it starts with 0x or 0X; a leading 0 alone is decimal.
  EXPECT_EQ(Parse("rom divisor=0X1F").Options.DivisorCode, 0x1F);
  EXPECT_EQ(Parse("rom divisor=0x1f").Options.DivisorCode, 0x1F);
  EXPECT_EQ(Parse("rom divisor=012").Options.DivisorCode, 12);
}

TEST(FoundationOptions, EveryRefusalIsNamed) {
  struct Case {
    const char *Text, *Error;
  } Cases[] = {
      {"rom divisor", "option without a value"},
      {"rom =3", "unknown option or value out of range"},
      {"rom divisor=", "bad number"},
      {"rom divisor=0x", "bad number"},
      {"rom divisor=12a", "bad number"},
      {"rom divisor=0x1G", "bad number"},
      {"rom divisor=-1", "bad number"},
      {"rom sink=0x100000000", "bad number"},
      {"rom sink=4294967296", "bad number"},
      {"rom divisor=256", "unknown option or value out of range"},
      {"rom bus=0x100", "unknown option or value out of range"},
      {"rom reg40=256", "unknown option or value out of range"},
      {"rom release=2", "unknown option or value out of range"},
      {"rom depex=2", "unknown option or value out of range"},
      {"rom colour=1", "unknown option or value out of range"},
      {"rom divisorx=1", "unknown option or value out of range"},
      {"rom ppi=maybe", "bad ppi value"},
      {"rom ppi=", "bad ppi value"},
      {"rom ppi=0", "ppi status is not an error status (bit 31 clear)"},
      {"rom ppi=0x7FFFFFFF", "ppi status is not an error status (bit 31 clear)"},
  };
  for (const Case &Each : Cases) {
    SCOPED_TRACE(Each.Text);
    const Parsed Result = Parse(Each.Text);
    ASSERT_NE(Result.Error, nullptr);
    EXPECT_STREQ(Result.Error, Each.Error);
  }
  // At most 64 settings.
  std::string Many = "rom";
  for (int Index = 0; Index < 64; Index++) {
    Many += " bus=1";
  }
  EXPECT_EQ(Parse(Many).Error, nullptr);
  EXPECT_STREQ(Parse(Many + " bus=1").Error, "too many options");
}

}  // namespace
