// The IA-32 image under emulation against the host build, on the same boards:
// traces, summaries and exit statuses must agree byte for byte.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ExitStatus.h"
#include "HostRun.h"
#include "ModuleImageRun.h"
#include "VirtualBoard.h"

namespace {

struct Report {
  std::string Text;
  int ExitCode;
};

Report OnHost(const BoardSettings &Settings) {
  VirtualBoard Board(Settings);
  RunModuleOnHost(Board);
  return {Board.Report(), ExitCode(ExitStatusOf(Board.State()))};
}

Report OnImage(const BoardSettings &Settings, const std::string &Image, std::uint32_t LoadBase = 0x00200000,
               ModuleImageStats *Stats = nullptr) {
  VirtualBoard Board(Settings);
  ModuleImageStats Figures;
  std::string Error;
  ModuleImageRun Run{Image, "", LoadBase};
  EXPECT_TRUE(RunModuleImage(Board, Run, Figures, Error)) << Error;
  if (Stats != nullptr) {
    *Stats = Figures;
  }
  return {Board.Report(), ExitCode(ExitStatusOf(Board.State()))};
}

std::vector<BoardSettings> BoardMatrix() {
  std::vector<BoardSettings> Boards;
  for (int Code : {0, 1, 2, 3, 4, 5, 6, 12, 24, 48, 96, 97, 200, 255}) {
    BoardSettings Settings;
    Settings.DivisorCode = static_cast<std::uint8_t>(Code);
    Boards.push_back(Settings);
  }
  for (int Low : {0x00, 0x01, 0x02, 0x03, 0xFD, 0xFF}) {
    BoardSettings Settings;
    Settings.Reg40 = static_cast<std::uint8_t>(Low);
    Boards.push_back(Settings);
  }
  for (int Bus : {0, 5, 255}) {
    BoardSettings Settings;
    Settings.Bus = static_cast<std::uint8_t>(Bus);
    Boards.push_back(Settings);
  }
  for (bool Release : {false, true}) {
    BoardSettings Missing;
    Missing.PpiInstalled = false;
    Missing.ReleaseHalts = Release;
    Boards.push_back(Missing);
    for (std::uint32_t Status : {0x80000003u, 0x80000000u, 0x80000022u, 0x00000002u}) {
      BoardSettings Failing;
      Failing.PpiStatus = Status;
      Failing.ReleaseHalts = Release;
      Boards.push_back(Failing);
    }
  }
  return Boards;
}

TEST(ImageEquivalence, HostAndImageAgreeOnEveryBoard) {
  for (const BoardSettings &Settings : BoardMatrix()) {
    const Report Host = OnHost(Settings);
    const Report Image = OnImage(Settings, MODULE_IMAGE);
    EXPECT_EQ(Image.Text, Host.Text);
    EXPECT_EQ(Image.ExitCode, Host.ExitCode);
  }
}

// The image built with the message level on agrees with the host build
// given the same mask, on every board: the messages and all the rest.
TEST(ImageEquivalence, ErrorLevelImageMatchesTheHostWithTheSameMask) {
  for (const BoardSettings &Settings : BoardMatrix()) {
    BoardSettings HostSettings = Settings;
    HostSettings.DebugLevel = 0x80000001u;
    const Report Host = OnHost(HostSettings);
    const Report Image = OnImage(Settings, DEBUG_LEVEL_IMAGE);
    EXPECT_EQ(Image.Text, Host.Text);
    EXPECT_EQ(Image.ExitCode, Host.ExitCode);
    if (!Settings.PpiInstalled) {
      EXPECT_NE(Image.Text.find("sink \"\\r\\nASSERT_EFI_ERROR (Status = Not Found)\\r\\n\""), std::string::npos);
    }
  }
}

// Relocations are really applied: the image loaded elsewhere behaves the same.
TEST(ImageEquivalence, LoadBaseDoesNotChangeTheRun) {
  BoardSettings Settings;
  Settings.DivisorCode = 12;
  ModuleImageStats Low, High;
  const Report AtLow = OnImage(Settings, MODULE_IMAGE, 0x00200000, &Low);
  const Report AtHigh = OnImage(Settings, MODULE_IMAGE, 0x00357000, &High);
  EXPECT_EQ(AtLow.Text, AtHigh.Text);
  EXPECT_EQ(Low.Instructions, High.Instructions);
  EXPECT_GT(Low.Instructions, 0u);
  EXPECT_GT(Low.StackBytes, 0u);
}

TEST(ImageEquivalence, ImageThatCannotBeRunIsReported) {
  VirtualBoard Board(BoardSettings{});
  ModuleImageStats Stats;
  std::string Error;
  EXPECT_FALSE(RunModuleImage(Board, {"/nonexistent.efi", "", 0x00200000}, Stats, Error));
  EXPECT_FALSE(Error.empty());
  EXPECT_FALSE(RunModuleImage(Board, {MODULE_IMAGE, "", 0x00200001}, Stats, Error));
}

// The image's halt is a real loop: let it run a thousand instructions before
// the board is asked, as a debugger that breaks in late. It is still in the
// halt then (a loop that left at once would have returned unhalted), and a
// release written that late still ends it (a loop that did not read its
// word again would run into the instruction limit). The report is the same
// as with the halt asked at its entry.
TEST(ImageEquivalence, HaltLoopSpinsAndRereadsItsWord) {
  for (bool Release : {false, true}) {
    BoardSettings Settings;
    Settings.PpiInstalled = false;
    Settings.ReleaseHalts = Release;
    VirtualBoard AtEntry(Settings), Late(Settings);
    ModuleImageStats Quick, Spun;
    std::string Error;
    ModuleImageRun Run{MODULE_IMAGE, "", 0x00200000};
    ASSERT_TRUE(RunModuleImage(AtEntry, Run, Quick, Error)) << Error;
    Run.HaltSpin = 1000;
    ASSERT_TRUE(RunModuleImage(Late, Run, Spun, Error)) << Error;
    EXPECT_EQ(Late.Report(), AtEntry.Report()) << "release " << Release;
    EXPECT_EQ(ExitCode(ExitStatusOf(Late.State())), ExitCode(ExitStatusOf(AtEntry.State())));
    EXPECT_GE(Spun.Instructions, Quick.Instructions + 1000) << "release " << Release;
  }
}

}  // namespace
