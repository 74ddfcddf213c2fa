// End-to-end runs of the pei-sim command.
#include <gtest/gtest.h>

#include <algorithm>

#include <string>
#include <vector>

#include "CommandRun.h"

namespace {

using Result = CommandResult;

TEST(PeiSim, RunPrintsTraceThenSummary) {
  const Result Run = PeiSim({"run", "--divisor-code", "12"});
  EXPECT_EQ(Run.Exit, 0);
  EXPECT_EQ(Run.Out.rfind("load32 0xFED00148 0x000E0000", 0), 0u);
  EXPECT_NE(Run.Out.find("return 0x00000000\n\nCOM1 0x3F8: 9600 bit/s"), std::string::npos);
  EXPECT_NE(Run.Out.find("outcome: ModuleEntry returned 0x00000000 (Success)\n"), std::string::npos);
}

TEST(PeiSim, RunExitStatuses) {
  EXPECT_EQ(PeiSim({"run", "--no-ppi"}).Exit, 3);
  EXPECT_EQ(PeiSim({"run", "--no-ppi", "--release-halts"}).Exit, 1);
  EXPECT_EQ(PeiSim({"run", "--ppi-status", "0x80000003", "--release-halts"}).Exit, 1);
  EXPECT_EQ(PeiSim({"run", "--bus", "256"}).Exit, 2);
  EXPECT_EQ(PeiSim({"run", "--frobnicate"}).Exit, 2);
  EXPECT_EQ(PeiSim({}).Exit, 2);
  const Result Help = PeiSim({"--help"});
  EXPECT_EQ(Help.Exit, 0);
  EXPECT_NE(Help.Out.find("pei-sim format"), std::string::npos);
}

// A file that is none of the kinds run takes says so before the detail.
TEST(PeiSim, RunNamesTheKindsItTakes) {
  const std::string Readme = std::string(SOC_SOURCE_DIR) + "/README.md";
  const Result Run = PeiSim({"run", "--image", Readme});
  EXPECT_EQ(Run.Exit, 4);
  EXPECT_EQ(Run.Err.rfind("pei-sim: " + Readme + ": not a PE32 or TE image, PEIM file or firmware volume: ", 0), 0u)
      << Run.Err;
  EXPECT_EQ(std::count(Run.Err.begin(), Run.Err.end(), '\n'), 1);
}

TEST(PeiSim, FormatWritesExactlyTheEngineOutput) {
  struct Case {
    std::vector<std::string> Args;
    std::string Expected;
  };
  const std::vector<Case> Cases = {
      {{"format", "%5d|%-5d|%05d", "u32:42", "u32:-42", "u32:7"}, "   42|-42  |00007"},
      {{"format", "%S", "wunits:0x41,0x100,66"}, std::string("A\0B", 3)},
      {{"format", "--", "-%ld", "u64:-9223372036854775808"}, "--9223372036854775808"},
      {{"format", "%g %t", "guid:00000001-0002-0003-0405-060708090A0B", "time:2024-07-04T13:05"},
       "00000001-0002-0003-0405-060708090A0B 07/04/2024  13:05"},
      {{"format", "%a|%r", "null", "u32:0x8000000E"}, "<null string>|Not Found"},
      {{"format", "--size", "3", "abc"}, "ab"},
      {{"format", "--size", "0", "abc"}, ""},
      {{"format", "a\nb%c", "u32:65"}, "a\r\nbA"},
  };
  for (const Case &Each : Cases) {
    const Result Run = PeiSim(Each.Args);
    EXPECT_EQ(Run.Exit, 0) << Each.Args[1];
    EXPECT_EQ(Run.Out, Each.Expected) << Each.Args[1];
  }
}

TEST(PeiSim, FormatReportsFailedChecksAndUsage) {
  // The output's length limit holds for every way a field is filled: blanks,
  // zeros, blanks after, and precision digits; a million characters pass, one
  // more halts.
  for (const char *Layout : {"", "0", "-", "."}) {
    SCOPED_TRACE(Layout);
    const Result AtLimit = PeiSim({"format", "--size", "1000002", std::string("%") + Layout + "1000000d", "u32:1"});
    EXPECT_EQ(AtLimit.Exit, 0) << AtLimit.Err;
    EXPECT_EQ(AtLimit.Out.size(), 1000000u);
    const Result Halted = PeiSim({"format", "--size", "1000002", std::string("%") + Layout + "1000001d", "u32:1"});
    EXPECT_EQ(Halted.Exit, 3);
    EXPECT_TRUE(Halted.Out.empty());
    EXPECT_NE(Halted.Err.find("): Length < _gPcd_FixedAtBuild_PcdMaximumAsciiStringLength\r\n"), std::string::npos);
  }
  EXPECT_EQ(PeiSim({"format", "%d", "i32:5"}).Exit, 2);
  EXPECT_EQ(PeiSim({"format", "%g", "guid:1-2-3"}).Exit, 2);
  EXPECT_EQ(PeiSim({"format"}).Exit, 2);
}

}  // namespace

namespace {

TEST(PeiSim, EachCommandHasItsHelpAndUsageErrorsAreOneLine) {
  for (const char *Command : {"format", "run", "qemu", "inspect", "report", "coverage"}) {
    const CommandResult Help = PeiSim({Command, "--help"});
    EXPECT_EQ(Help.Exit, 0) << Command;
    EXPECT_EQ(Help.Out.rfind(std::string(Command) + ":", 0), 0u) << Help.Out;
    EXPECT_EQ(Help.Out.find("inspect: prints") == std::string::npos, std::string(Command) != "inspect") << Command;
  }
  const CommandResult Wrong = PeiSim({"run", "--frobnicate"});
  EXPECT_EQ(Wrong.Exit, 2);
  EXPECT_EQ(Wrong.Err, "pei-sim: unknown option '--frobnicate'\nsee 'pei-sim run --help'\n");
  EXPECT_EQ(PeiSim({"launch"}).Err, "pei-sim: unknown command 'launch'\nsee 'pei-sim --help'\n");
  // After '--' a format may be "--help" itself.
  EXPECT_EQ(PeiSim({"format", "--", "--help"}).Out, "--help");
  const CommandResult Version = PeiSim({"--version"});
  EXPECT_EQ(Version.Exit, 0);
  EXPECT_EQ(Version.Out.rfind("pei-sim ", 0), 0u);
}

// The coverage options' mistakes: each a usage error naming it; a file that
// cannot be read, a status of its own.
TEST(PeiSim, CoverageOptionsAreChecked) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> Usage = {
      {{"run", "--coverage", "x.cov"}, "--stats, --map, --load-base, --max-instructions and --coverage need --image"},
      {{"run", "--image", "x.efi", "--coverage", ""}, "--coverage needs a file name"},
      {{"qemu", "--image", "x.efi", "--coverage", ""}, "--coverage needs a file name"},
      {{"coverage", "--image", "x.efi"}, "coverage needs --data FILE and at least one --image IMAGE"},
      {{"coverage", "--data", "x.cov"}, "coverage needs --data FILE and at least one --image IMAGE"},
      {{"coverage", "--symbols", "x.debug", "--image", "x.efi"}, "--symbols follows the --image it belongs to"},
      {{"coverage", "--listed", "README.md"}, "--listed follows the --image it belongs to"},
      {{"coverage", "--data"}, "option --data needs a value"},
  };
  for (const auto &[Args, Message] : Usage) {
    const CommandResult Run = PeiSim(Args);
    EXPECT_EQ(Run.Exit, 2) << Message;
    EXPECT_EQ(Run.Err.substr(0, Run.Err.find('\n')), "pei-sim: " + Message);
  }
  const CommandResult Unreadable = PeiSim({"coverage", "--data", "/nonexistent.cov", "--image", "x.efi"});
  EXPECT_EQ(Unreadable.Exit, 4);
  EXPECT_EQ(Unreadable.Err.rfind("pei-sim: /nonexistent.cov", 0), 0u) << Unreadable.Err;
}

// The manual page is made from the tool's own help: every command is a
// section of it, with its options and exit statuses.
TEST(PeiSim, TheManualPageHoldsEveryCommand) {
  const CommandResult Man = RunCommandLine("env", {"MANWIDTH=100", "man", "-l", "-P", "cat", PEI_SIM_MAN});
  ASSERT_EQ(Man.Exit, 0) << Man.Err;
  for (const char *Command : {"format", "run", "qemu", "inspect", "report", "coverage"}) {
    std::string Section = std::string("PEI-SIM ") + Command;
    std::transform(Section.begin(), Section.end(), Section.begin(), ::toupper);
    EXPECT_NE(Man.Out.find("\n" + Section + "\n"), std::string::npos) << Section;
  }
  EXPECT_NE(Man.Out.find("Exit status"), std::string::npos);
  for (const char *Option : {"--mangled-names", "--ppi-status", "--max-instructions", "--time-limit", "--listed"}) {
    EXPECT_NE(Man.Out.find(Option), std::string::npos) << Option;
  }
  EXPECT_NE(Man.Out.find("pei-sim qemu --image IMAGE"), std::string::npos);  // the synopsis
}

TEST(PeiSim, NumbersAreDecimalOrHexAndRangesAreNamed) {
  EXPECT_EQ(PeiSim({"run", "--divisor-code", "0x0C"}).Out, PeiSim({"run", "--divisor-code", "12"}).Out);
  const CommandResult Big = PeiSim({"run", "--reg40", "0x100"});
  EXPECT_EQ(Big.Exit, 2);
  EXPECT_NE(Big.Err.find("register 0x40 byte 0x100 is out of range (0 to 255)"), std::string::npos) << Big.Err;
  const CommandResult Bad = PeiSim({"run", "--bus", "one"});
  EXPECT_NE(Bad.Err.find("bad bus: 'one' (decimal or 0x-hex)"), std::string::npos) << Bad.Err;
  // A lookup that "fails" with a status that is no error would hand the
  // module a pointer nobody wrote: refused for both machines.
  for (const char *Command : {"run", "qemu"}) {
    for (const char *Status : {"0", "0x7FFFFFFF", "3"}) {
      const CommandResult NoError = PeiSim({Command, "--image", MODULE_IMAGE, "--ppi-status", Status});
      EXPECT_EQ(NoError.Exit, 2) << Command << " " << Status;
      EXPECT_NE(NoError.Err.find(std::string("--ppi-status ") + Status + " is not an error status (bit 31 clear)"),
                std::string::npos)
          << NoError.Err;
    }
  }
  EXPECT_EQ(PeiSim({"run", "--ppi-status", "0x80000000", "--release-halts"}).Exit, 1);
}

}  // namespace
