// The real image on QEMU's q35 machine against the virtual board: the same
// settings must leave the same summary, QEMU's devices must answer where the
// module put them, and QEMU's own trace must show the described writes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <string>
#include <vector>

#include "ExitStatus.h"
#include "CommandRun.h"
#include "CoverageData.h"
#include "ModuleImageRun.h"
#include "QemuChecks.h"
#include "QemuRun.h"
#include "VirtualBoard.h"
#include "Scratch.h"
#include "TestFiles.h"

namespace {

struct QemuCase {
  const char *Name;
  std::uint8_t DivisorCode = 3;
  std::uint8_t Reg40 = 0x00;
  bool PpiInstalled = true;
  std::optional<std::uint32_t> PpiStatus = std::nullopt;
  bool Release = false;
  const char *Image = MODULE_IMAGE;
};

std::vector<QemuCase> Matrix() {
  return {
      {"listed code 3"},
      {"listed code 1", 1},
      {"listed code 96", 96},
      {"QEMU's reset code 12", 12},
      {"unlisted code 0", 0},
      {"unlisted code 200", 200},
      {"reg40 bit 1 set", 3, 0x03},
      {"reg40 bit 1 clear, bit 0 set", 3, 0x01},
      {"missing PPI, halted", 3, 0, false},
      {"missing PPI, released", 3, 0, false, std::nullopt, true},
      {"failing status, halted", 3, 0, true, 0x80000003u},
      {"failing status, released", 3, 0x02, true, 0x80000003u, true},
      {"error level image, missing PPI, released", 6, 0, false, std::nullopt, true, DEBUG_LEVEL_IMAGE},
  };
}

QemuSettings SettingsFor(const QemuCase &Case) {
  QemuSettings Settings;
  Settings.ImagePath = Case.Image;
  Settings.RomPartsFolder = ROM_PARTS;
  Settings.Board.DivisorCode = Case.DivisorCode;
  Settings.Board.Reg40 = Case.Reg40;
  Settings.Board.PpiInstalled = Case.PpiInstalled;
  Settings.Board.PpiStatus = Case.PpiStatus;
  Settings.Board.ReleaseHalts = Case.Release;
  return Settings;
}

// The virtual board with the very settings of the QEMU run.
VirtualBoard BoardFor(const QemuCase &Case) { return VirtualBoard(SettingsFor(Case).Board); }

TEST(Qemu, MatrixAgreesWithTheVirtualBoard) {
  for (const QemuCase &Case : Matrix()) {
    SCOPED_TRACE(Case.Name);
    QemuOutcome Outcome;
    const QemuSettings Settings = SettingsFor(Case);
    ASSERT_TRUE(RunOnQemu(Settings, Outcome)) << Outcome.Error;
    ASSERT_TRUE(Outcome.Completed) << Outcome.Error;

    VirtualBoard Board = BoardFor(Case);
    ModuleImageStats Stats;
    std::string Error;
    ASSERT_TRUE(RunModuleImage(Board, {Case.Image, "", 0x00200000}, Stats, Error)) << Error;

    EXPECT_EQ(BoardSummaryText(Outcome.State), Board.Summary());
    EXPECT_EQ(ExitStatusOf(Outcome.State), ExitStatusOf(Board.State()));
    EXPECT_EQ(Outcome.Console.SinkTexts, Board.SinkTexts());
    for (const auto &Check : DeviceChecks(Outcome)) {
      EXPECT_TRUE(Check.Passed) << Check.Text;
    }
    for (const auto &Check : TraceChecks(Settings, Outcome)) {
      EXPECT_TRUE(Check.Passed) << Check.Text;
    }
    for (const auto &Check : RunChecks(Settings, Outcome)) {
      EXPECT_TRUE(Check.Passed) << Check.Text;
    }
    // Both PEIMs of the volume ran: none is named as never dispatched.
    EXPECT_TRUE(Outcome.Console.NeverDispatched.empty());
    if (Outcome.State.Return) {
      EXPECT_TRUE(Outcome.Console.RegistersPreserved);
      EXPECT_EQ(Outcome.Console.StackBytes, Stats.StackBytes);
    }
  }
}

TEST(Qemu, TheErrorLevelImageFormsTheStatusMessageFirst) {
  QemuCase Case{"error level image"};
  Case.PpiInstalled = false;
  Case.Image = DEBUG_LEVEL_IMAGE;
  QemuOutcome Outcome;
  ASSERT_TRUE(RunOnQemu(SettingsFor(Case), Outcome)) << Outcome.Error;
  ASSERT_EQ(Outcome.Console.SinkTexts.size(), 2u);
  EXPECT_EQ(Outcome.Console.SinkTexts[0], "\r\nASSERT_EFI_ERROR (Status = Not Found)\r\n");
  EXPECT_TRUE(Outcome.State.Halted);
}

TEST(Qemu, ABusWithoutDevicesIsReported) {
  const CommandResult Result =
      RunCommandLine(PEI_SIM_PATH, {"qemu", "--image", MODULE_IMAGE, "--bus", "5"});
  EXPECT_EQ(Result.Exit, 0) << Result.Err;
  EXPECT_NE(Result.Out.find("05:16.0 reg 0x10: 0xFFFFFFFF"), std::string::npos) << Result.Out;
  EXPECT_NE(Result.Out.find("on bus 5 the three base-address writes went to functions that do not exist"),
            std::string::npos);
}

TEST(Qemu, RunsThatCannotCompleteSayWhy) {
  QemuSettings Settings = SettingsFor({"no QEMU"});
  Settings.QemuBinary = "/nonexistent/qemu-system-i386";
  QemuOutcome Outcome;
  // The run's temporary folder goes also when QEMU cannot start.
  const std::string Temporary = ScratchPath("qemu-tmp");
  std::filesystem::create_directory(Temporary);
  const char *Before = std::getenv("TMPDIR");
  const std::string Saved = Before != nullptr ? Before : "";
  setenv("TMPDIR", Temporary.c_str(), 1);
  EXPECT_FALSE(RunOnQemu(Settings, Outcome));
  Before != nullptr ? setenv("TMPDIR", Saved.c_str(), 1) : unsetenv("TMPDIR");
  EXPECT_NE(Outcome.Error.find("cannot start"), std::string::npos) << Outcome.Error;
  EXPECT_TRUE(std::filesystem::is_empty(Temporary));

  // A file of no kind qemu takes is named as such before QEMU starts, and so
  // is a broken image: the ROM cannot be built around it.
  const std::string Map = std::string(MODULE_IMAGE).replace(std::string(MODULE_IMAGE).size() - 3, 3, "map");
  const CommandResult Elf = RunCommandLine(PEI_SIM_PATH, {"qemu", "--image", Map, "--map", Map});
  EXPECT_EQ(Elf.Exit, 4);
  EXPECT_NE(Elf.Err.find(Map + ": not a PE32 or TE image, PEIM file or firmware volume: "),
            std::string::npos)
      << Elf.Err;
  const std::string Broken = ScratchPath("broken.efi");
  WriteScratchText("broken.efi", "MZ" + std::string(62, '\0'));
  const CommandResult Result = RunCommandLine(PEI_SIM_PATH, {"qemu", "--image", Broken, "--map", Map});
  EXPECT_EQ(Result.Exit, 4);
  EXPECT_NE(Result.Err.find("cannot run QEMU: " + Broken + ": SocPreInit: no PE signature"), std::string::npos)
      << Result.Err;

  const CommandResult Usage = RunCommandLine(PEI_SIM_PATH, {"qemu"});
  EXPECT_EQ(Usage.Exit, 2);
}

}  // namespace

namespace {

TEST(Qemu, ChecksCatchAWrongOrderARateAndAMissingDevice) {
  QemuSettings Settings = SettingsFor({"checks"});
  QemuOutcome Outcome;
  Outcome.Trace.Com1Parameters = Outcome.Trace.Com2Parameters = ExpectedLineParameters(3);
  Outcome.Trace.ModuleWrites = ExpectedConfigWrites(Settings);
  Outcome.Trace.SetUpMark = Outcome.Trace.AfterModuleMark = true;
  for (const auto &Check : TraceChecks(Settings, Outcome)) {
    EXPECT_TRUE(Check.Passed) << Check.Text;
  }
  std::swap(Outcome.Trace.ModuleWrites[0], Outcome.Trace.ModuleWrites[1]);
  Outcome.Trace.Com2Parameters = ExpectedLineParameters(12);
  const auto Checks = TraceChecks(Settings, Outcome);
  ASSERT_EQ(Checks.size(), 4u);
  EXPECT_TRUE(Checks[0].Passed);  // the marks
  EXPECT_TRUE(Checks[1].Passed);  // COM1
  EXPECT_FALSE(Checks[2].Passed);
  EXPECT_FALSE(Checks[3].Passed);

  Outcome.Console.Devices = {{"edu", 0}, {"ahci23", 0}, {"ahci24", 0}};
  Outcome.State.Bases[0] = 0xF0100000;  // programmed, but nothing answers there
  EXPECT_FALSE(DeviceChecks(Outcome)[0].Passed);
  EXPECT_TRUE(DeviceChecks(Outcome)[1].Passed);  // not programmed, nothing answers: right
  Outcome.Console.Devices.erase("ahci23");  // not reported: no answer is no "nothing answered"
  EXPECT_FALSE(DeviceChecks(Outcome)[1].Passed);
  EXPECT_NE(DeviceChecks(Outcome)[1].Text.find("not reported"), std::string::npos);
  EXPECT_EQ(ExpectedLineParameters(200), "baudrate=115200 parity='N' data=8 stop=2");
}

}  // namespace

namespace {

// The summary lines of a pei-sim run or qemu output, from COM1 to the outcome.
std::vector<std::string> SummaryLines(const std::string &Out, bool WithUarts) {
  std::vector<std::string> Lines;
  bool In = false;
  for (std::size_t At = 0; At < Out.size();) {
    const std::size_t End = Out.find('\n', At);
    const std::string Line = Out.substr(At, End - At);
    At = End == std::string::npos ? Out.size() : End + 1;
    In = In || Line.rfind("COM1 ", 0) == 0;
    if (In && (WithUarts || Line.rfind("COM", 0) != 0)) {
      Lines.push_back(Line);
    }
    if (Line.rfind("outcome: ", 0) == 0) {
      break;
    }
  }
  return Lines;
}

// The run command a QEMU run names in its heading, as words.
std::vector<std::string> EqualRunCommand(const std::string &Out) {
  const std::string Lead = "the virtual board in the same state: pei-sim ";
  const std::size_t At = Out.find(Lead);
  std::vector<std::string> Words;
  std::istringstream Line(Out.substr(At + Lead.size(), Out.find('\n', At) - At - Lead.size()));
  for (std::string Word; At != std::string::npos && Line >> Word;) {
    Words.push_back(Word);
  }
  return Words;
}

TEST(Qemu, EveryKindOfFileRunsAndTheHeadingNamesTheEqualBoardRun) {
  for (const char *File : {ARTIFACT_FV, ARTIFACT_FFS, MODULE_IMAGE, ARTIFACT_TE}) {
    SCOPED_TRACE(File);
    const CommandResult Qemu = RunCommandLine(PEI_SIM_PATH, {"qemu", "--image", File});
    ASSERT_EQ(Qemu.Exit, 0) << Qemu.Err;
    EXPECT_EQ(Qemu.Out.rfind("QEMU q35 run of " + std::string(File) + "\n", 0), 0u) << Qemu.Out.substr(0, 200);
    const std::vector<std::string> Run = EqualRunCommand(Qemu.Out);
    ASSERT_EQ(Run, (std::vector<std::string>{"run", "--image", File, "--divisor-code", "3", "--bus", "0"}));
    const CommandResult Board = RunCommandLine(PEI_SIM_PATH, Run);
    EXPECT_EQ(SummaryLines(Qemu.Out, true), SummaryLines(Board.Out, true));
    EXPECT_EQ(Qemu.Out.find("FAILED"), std::string::npos) << Qemu.Out;
  }
}

TEST(Qemu, TheVolumeIsWalkedAndDispatchedByTheFoundation) {
  // Without the PPI the foundation does not call the module. (QEMU's UARTs reset
  // to divisor 12, the board's to 0: the UART lines are left out.)
  const CommandResult Missing =
      RunCommandLine(PEI_SIM_PATH, {"qemu", "--image", ARTIFACT_FV, "--no-ppi"});
  EXPECT_EQ(Missing.Exit, 5) << Missing.Err;
  const CommandResult BoardMissing =
      RunCommandLine(PEI_SIM_PATH, {"run", "--image", ARTIFACT_FV, "--bus", "0", "--divisor-code", "3", "--no-ppi"});
  EXPECT_EQ(SummaryLines(Missing.Out, false), SummaryLines(BoardMissing.Out, false));
  EXPECT_NE(Missing.Out.find("outcome: not dispatched: its dependency expression"), std::string::npos);
  EXPECT_EQ(Missing.Out.find("FAILED"), std::string::npos) << Missing.Out;
}

// What QEMU executed of the module, read from its own translation and
// execution logs, is what the emulator executed on the equal board: the same
// instructions, so the same source lines. (The counts are not compared: with
// -icount QEMU runs a block again from an I/O access.)
TEST(Qemu, CoverageFromQemusLogsIsTheEmulatorsForTheDefaultRun) {
  const std::string FromQemu = ScratchPath("qemu.cov"), FromEmulator = ScratchPath("emulator.cov");
  std::filesystem::remove(FromQemu);
  std::filesystem::remove(FromEmulator);
  const CommandResult Qemu = PeiSim({"qemu", "--image", MODULE_IMAGE, "--coverage", FromQemu});
  ASSERT_EQ(Qemu.Exit, 0) << Qemu.Err;
  const CommandResult Run =
      PeiSim({"run", "--image", MODULE_IMAGE, "--divisor-code", "3", "--bus", "0", "--coverage", FromEmulator});
  ASSERT_EQ(Run.Exit, 0) << Run.Err;
  std::string Error;
  const auto A = ReadCoverageFile(FromQemu, Error), B = ReadCoverageFile(FromEmulator, Error);
  ASSERT_TRUE(A && B) << Error;
  ASSERT_EQ(A->Images.size(), 1u);
  ASSERT_EQ(B->Images.size(), 1u);
  EXPECT_EQ(A->Images.begin()->first, B->Images.begin()->first);  // the TE in flash is the same image
  std::vector<std::uint32_t> Left, Right;
  for (const auto &[Rva, Count] : A->Images.begin()->second.Executed) {
    Left.push_back(Rva);
  }
  for (const auto &[Rva, Count] : B->Images.begin()->second.Executed) {
    Right.push_back(Rva);
  }
  EXPECT_GT(Left.size(), 100u);
  EXPECT_EQ(Left, Right);
  // And the source lines the two tracefiles mark as run.
  std::vector<std::string> Lines[2];
  const std::string *Files[2] = {&FromQemu, &FromEmulator};
  for (int Side = 0; Side < 2; Side++) {
    const std::string Lcov = *Files[Side] + ".info";
    ASSERT_EQ(PeiSim({"coverage", "--data", *Files[Side], "--image", MODULE_IMAGE, "--lcov", Lcov}).Exit, 0);
    std::istringstream Text(ReadText(Lcov));
    std::string File, Line;
    while (std::getline(Text, Line)) {
      File = Line.rfind("SF:", 0) == 0 ? Line : File;
      if (Line.rfind("DA:", 0) == 0 && Line.substr(Line.find(',')) != ",0") {
        Lines[Side].push_back(File + " " + Line.substr(0, Line.find(',')));
      }
    }
  }
  EXPECT_FALSE(Lines[0].empty());
  EXPECT_EQ(Lines[0], Lines[1]);
}

}  // namespace
