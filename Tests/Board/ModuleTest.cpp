// The pre-initialisation sequence on the virtual board.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "ExitStatus.h"
#include "AssertionText.h"
#include "BoardSummary.h"
#include "Library/PrintLib.h"
#include "StatusNames.h"
#include "HostRun.h"
#include "VirtualBoard.h"
#include "ZodOdoRidaZar.h"

namespace {

struct BoardRun {
  std::vector<std::string> Lines;  // trace without notes
  std::vector<std::string> Writes;  // out* and store* lines only
  std::vector<std::string> Unexpected;
  int ExitCode;
  std::string Summary;
  std::vector<std::string> Sink;
};

std::string WithoutNote(const std::string &Line) { return Line.substr(0, Line.find("  #")); }

BoardRun RunOn(const BoardSettings &Settings) {
  VirtualBoard Board(Settings);
  RunModuleOnHost(Board);
  BoardRun Result{{}, {}, Board.Unexpected(), ExitCode(ExitStatusOf(Board.State())), Board.Summary(), Board.SinkTexts()};
  for (const std::string &Line : Board.Log().Lines()) {
    Result.Lines.push_back(WithoutNote(Line));
    if (Line.rfind("out", 0) == 0 || Line.rfind("store", 0) == 0) {
      Result.Writes.push_back(WithoutNote(Line));
    }
  }
  return Result;
}

BoardSettings WithCode(std::uint8_t Code) {
  BoardSettings Settings;
  Settings.DivisorCode = Code;
  return Settings;
}

TEST(Module, LegacyUartWriteTraceForCode12) {
  const BoardRun Result = RunOn(WithCode(12));
  const std::vector<std::string> Expected = {
      "out32 0x0CF8 0x8000F850", "out32 0x0CFC 0xFED08002", "store32 0xFED08088 0x00000018",
      "out32 0x0CF8 0x8000F880", "out32 0x0CFC 0x00000003", "out8 0x02FB 0x87",
      "out8 0x03FB 0x87",        "out8 0x02F9 0x00",        "out8 0x02F8 0x0C",
      "out8 0x03F9 0x00",        "out8 0x03F8 0x0C",        "out8 0x02FB 0x07",
      "out8 0x03FB 0x07"};
  ASSERT_GE(Result.Writes.size(), Expected.size());
  EXPECT_EQ(std::vector<std::string>(Result.Writes.begin(), Result.Writes.begin() + 13), Expected);
  EXPECT_EQ(Result.Lines[0], "load32 0xFED00148 0x000E0000");
  EXPECT_EQ(Result.Lines[1], "load32 0x000E0020 0x000E0100");
  EXPECT_EQ(Result.Lines[2], "load8 0x000E0143 0x0C");
  EXPECT_NE(Result.Summary.find("COM1 0x3F8: 9600 bit/s (divisor 12), 8 data bits, no parity, 2 stop bits"),
            std::string::npos);
  EXPECT_NE(Result.Summary.find("COM2 0x2F8: 9600 bit/s (divisor 12), 8 data bits, no parity, 2 stop bits"),
            std::string::npos);
  EXPECT_EQ(Result.Lines.back(), "return 0x00000000");
  EXPECT_EQ(Result.ExitCode, 0);
}

TEST(Module, EveryDivisorCodeMatchesTheLineRateTable) {
  const std::map<int, int> Listed = {{1, 1}, {2, 2}, {3, 3}, {6, 6}, {12, 12}, {24, 24}, {48, 48}, {96, 96}};
  for (int Code = 0; Code <= 255; Code++) {
    const int Divisor = Listed.count(Code) != 0 ? Listed.at(Code) : 1;
    const BoardRun Result = RunOn(WithCode(static_cast<std::uint8_t>(Code)));
    char Low[32];
    std::snprintf(Low, sizeof Low, "out8 0x03F8 0x%02X", Divisor);
    EXPECT_EQ(Result.Writes[8], "out8 0x02F8 " + std::string(Low + 12)) << Code;
    EXPECT_EQ(Result.Writes[7], "out8 0x02F9 0x00") << Code;
    EXPECT_EQ(Result.Writes[10], Low) << Code;
    EXPECT_EQ(Result.Writes[9], "out8 0x03F9 0x00") << Code;
    EXPECT_TRUE(Result.Unexpected.empty()) << Code;
  }
}

TEST(Module, Register40IsEnabledOnlyWhenBit1IsClear) {
  for (int Low = 0; Low <= 255; Low++) {
    BoardSettings Settings;
    Settings.Reg40 = static_cast<std::uint8_t>(Low);
    const BoardRun Result = RunOn(Settings);
    const bool Wrote = std::count(Result.Writes.begin(), Result.Writes.end(), "store32 0xE00F8040 0x00000402") == 1;
    EXPECT_EQ(Wrote, (Low & 0x02) == 0) << Low;
    char Load[32];
    std::snprintf(Load, sizeof Load, "load8 0xE00F8040 0x%02X", Low);
    EXPECT_NE(std::find(Result.Lines.begin(), Result.Lines.end(), Load), Result.Lines.end()) << Low;
  }
}

TEST(Module, BaseAddressesFollowThePublishedBus) {
  const std::vector<std::pair<std::uint8_t, std::vector<std::string>>> Cases = {
      {0, {"store32 0xE00B0010 0xF0100000", "store32 0xE00B8024 0xF0200000", "store32 0xE00C0024 0xF0300000"}},
      {5, {"store32 0xE05B0010 0xF0100000", "store32 0xE05B8024 0xF0200000", "store32 0xE05C0024 0xF0300000"}},
      {255, {"store32 0xEFFB0010 0xF0100000", "store32 0xEFFB8024 0xF0200000", "store32 0xEFFC0024 0xF0300000"}},
  };
  for (const auto &[Bus, Stores] : Cases) {
    BoardSettings Settings;
    Settings.Bus = Bus;
    const BoardRun Result = RunOn(Settings);
    // After the lookup: the bus number is read again before every row.
    const auto Lookup = std::find_if(Result.Lines.begin(), Result.Lines.end(),
                                     [](const std::string &Line) { return Line.rfind("locateppi", 0) == 0; });
    ASSERT_NE(Lookup, Result.Lines.end());
    EXPECT_EQ(*Lookup, "locateppi 4B0165A9-61D6-4E23-A0B5-3EC79C2E30D5 0x00000000");
    char BusLoad[32];
    std::snprintf(BusLoad, sizeof BusLoad, "load8 0x000E0201 0x%02X", Bus);
    const std::vector<std::string> Tail(Lookup + 1, Result.Lines.end());
    EXPECT_EQ(Tail, (std::vector<std::string>{BusLoad, Stores[0], BusLoad, Stores[1], BusLoad, Stores[2],
                                               "return 0x00000000"}));
    EXPECT_TRUE(Result.Unexpected.empty());
  }
}

TEST(Module, FailedLookupHaltsWithoutTouchingTheBus) {
  BoardSettings Settings;
  Settings.PpiInstalled = false;
  const BoardRun Result = RunOn(Settings);
  EXPECT_EQ(Result.ExitCode, 3);
  ASSERT_EQ(Result.Sink.size(), 1u);  // level 0x00000001: no status message
  EXPECT_EQ(WithoutLine(Result.Sink[0]), "ASSERT SocPreInit\\Dxe\\ZodOdoRidaZar(N): !EFI_ERROR (Status)\r\n");
  EXPECT_TRUE(PointsAtItsCheck(Result.Sink[0]));
  EXPECT_EQ(Result.Lines.back(), "halt");
  EXPECT_EQ(Result.Lines[Result.Lines.size() - 3], "locateppi 4B0165A9-61D6-4E23-A0B5-3EC79C2E30D5 0x8000000E");
}

TEST(Module, FailedLookupWithErrorLevelFormatsTheStatusFirst) {
  BoardSettings Settings;
  Settings.PpiInstalled = false;
  Settings.DebugLevel = 0x80000001u;
  const BoardRun Result = RunOn(Settings);
  ASSERT_EQ(Result.Sink.size(), 2u);
  EXPECT_EQ(Result.Sink[0], "\r\nASSERT_EFI_ERROR (Status = Not Found)\r\n");
  EXPECT_EQ(WithoutLine(Result.Sink[1]), "ASSERT SocPreInit\\Dxe\\ZodOdoRidaZar(N): !EFI_ERROR (Status)\r\n");
  EXPECT_EQ(Result.ExitCode, 3);
}

// Once a debugger ends the halt there is no PPI to read: no bus-number load,
// no base register write, and the lookup's error is returned.
TEST(Module, ReleasedFailedLookupReturnsTheLookupError) {
  for (std::uint32_t Status : {0x8000000Eu, 0x80000003u, 0x80000009u}) {
    BoardSettings Settings;
    Settings.PpiStatus = Status;
    Settings.ReleaseHalts = true;
    const BoardRun Result = RunOn(Settings);
    EXPECT_EQ(Result.ExitCode, 1);
    char Return[32];
    std::snprintf(Return, sizeof Return, "return 0x%08X", Status);
    const std::vector<std::string> Tail(Result.Lines.end() - 4, Result.Lines.end());
    EXPECT_EQ(Tail[1], "halt");
    EXPECT_EQ(Tail[2], "release");
    EXPECT_EQ(Tail[3], Return);
    for (const std::string &Line : Result.Lines) {
      EXPECT_EQ(Line.find("0x000E0201"), std::string::npos);
      EXPECT_EQ(Line.find("0xF0"), std::string::npos);
    }
  }
}

TEST(Module, NothingIsTransmittedAndNoOtherUartRegisterIsTouched) {
  for (std::uint8_t Code : {0, 1, 12, 96, 200}) {
    const BoardRun Result = RunOn(WithCode(Code));
    std::vector<std::string> UartPorts;
    for (const std::string &Line : Result.Writes) {
      if (Line.rfind("out8", 0) == 0) {
        UartPorts.push_back(Line.substr(5, 6));
      }
    }
    EXPECT_EQ(UartPorts, (std::vector<std::string>{"0x02FB", "0x03FB", "0x02F9", "0x02F8", "0x03F9", "0x03F8",
                                                  "0x02FB", "0x03FB"}));
    EXPECT_TRUE(Result.Unexpected.empty());
  }
}

TEST(Module, UartFieldsAreNeverWritten) {
  EXPECT_EQ(UartParity, 0);
  EXPECT_EQ(UartBreak, 0);
  RunOn(WithCode(3));
  EXPECT_EQ(UartParity, 0);
  EXPECT_EQ(UartBreak, 0);
}

// A UART the module never programmed reads as such, the divisor named once.
TEST(BoardSummary, UartTextsNameTheRateAndDivisorOnce) {
  EXPECT_EQ(UartSettingsText(UartState{0x00, 0}),
            "no line rate (divisor 0), 5 data bits, no parity, 1 stop bit, break off, divisor latch closed");
  EXPECT_EQ(UartSettingsText(UartState{0x07, 12}),
            "9600 bit/s (divisor 12), 8 data bits, no parity, 2 stop bits, break off, divisor latch closed");
}

}  // namespace

namespace {

// The summary names statuses from its own table (a judge does not ask the
// module's engine); the two must agree on every status, named or not.
TEST(BoardSummary, StatusNamesAgreeWithTheEngine) {
  std::vector<std::uint32_t> Statuses = {0x7FFFFFFFu, 0x80000000u, 0x80000022u, 0xFFFFFFFFu};
  for (std::uint32_t Code = 0; Code <= 7; Code++) Statuses.push_back(Code);
  for (std::uint32_t Code = 1; Code <= 0x21; Code++) Statuses.push_back(0x80000000u | Code);
  for (const std::uint32_t Status : Statuses) {
    char Engine[64];
    PrintAscii(Engine, sizeof Engine, "%r", Status);
    EXPECT_EQ(StatusNameOf(Status), Engine) << std::hex << Status;
  }
}

}  // namespace
