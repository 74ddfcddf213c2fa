// Source-level debugging of the module on QEMU: gdb in batch mode runs the
// command pei-sim qemu --gdb prints, plus a session of its own, and the run
// must end as it does without gdb.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>

#include "LinkMap.h"
#include "PeiSimGdbRun.h"
#include "Scratch.h"

namespace {

std::string Quoted(const std::string &Command) { return "-ex '" + Command + "'"; }

std::string Session(const std::vector<std::string> &Commands) {
  std::string Extra;
  for (const std::string &Command : Commands) {
    Extra += Quoted(Command) + " ";
  }
  return Extra;
}

unsigned long RvaInMap(const std::string &Image, const std::string &Name) {
  std::string Error;
  const auto Map = ReadLinkMap(MapPathFor(Image), Error);
  return Map ? Map->Rva(Name).value_or(0) : 0;
}

// Frames of a backtrace that gdb could not name although their address lies
// in the module (ImageSize bytes from Base).
std::vector<std::string> UnnamedFramesInImage(const std::string &Gdb, unsigned long Base, unsigned long ImageSize) {
  std::vector<std::string> Unnamed;
  const std::regex Frame(R"(#\d+ +0x([0-9a-f]+) in \?\? \(\))");
  for (std::sregex_iterator It(Gdb.begin(), Gdb.end(), Frame), End; It != End; ++It) {
    const unsigned long Address = std::strtoul((*It)[1].str().c_str(), nullptr, 16);
    if (Address >= Base && Address - Base < ImageSize) {
      Unnamed.push_back(It->str());
    }
  }
  return Unnamed;
}

void ExpectDeviceChecksPass(const std::string &Out) {
  EXPECT_NE(Out.find("device checks:"), std::string::npos) << Out;
  EXPECT_NE(Out.find("configuration writes in the described order: ok"), std::string::npos) << Out;
  EXPECT_EQ(Out.find("FAILED"), std::string::npos) << Out;
}

TEST(Gdb, LegacyUartInitBySourceLineWithLocalsAndAFullBacktrace) {
  const std::string Temporary = ScratchPath("gdb-uart");
  std::filesystem::create_directory(Temporary);
  PeiSimGdbRun Run;
  // Divisor code 6: the rate gdb must show is the one these settings choose.
  ASSERT_TRUE(Run.Start({"--image", MODULE_IMAGE, "--divisor-code", "6", "--time-limit", "120"}, Temporary)) << Run.Out;
  const std::string Command = Run.GdbCommand();
  const std::string Symbols = std::filesystem::absolute(SiblingPathFor(MODULE_IMAGE, ".debug")).string();
  ASSERT_NE(Command.find("add-symbol-file " + Symbols + " -o 0x"), std::string::npos) << Run.Out;
  ASSERT_NE(Command.find("-ex 'break ModuleEntry' -ex continue"), std::string::npos) << Command;

  const std::string Gdb = RunGdbBatch(Command, Session({
      "info address ModuleEntry", "info line EnableD31IoBase", "info line SocPreInitEntry", "info line FormatToBuffer",
      "info line ReportAssertion", "break LegacyUartInit", "continue", "list", "next", "next", "next", "next",
      "print Rate", "bt", "print UartParity", "print/x gBusInfoPpiGuid", "delete", "continue"}));
  const int Exit = Run.Finish(60);

  // The symbols lie where the module runs: ModuleEntry at its link-map RVA in flash.
  char Entry[64];
  std::snprintf(Entry, sizeof Entry, ")\" is a function at address 0x%lx.", Run.ModuleBase() + RvaInMap(MODULE_IMAGE, "_ModuleEntry"));
  EXPECT_NE(Gdb.find(std::string("Symbol \"ModuleEntry(EFI_PEI_FILE_HANDLE, EFI_PEI_SERVICES const**") + Entry),
            std::string::npos)
      << Gdb;
  EXPECT_NE(Gdb.find("Breakpoint 1, ModuleEntry ("), std::string::npos) << Gdb;
  // Plain names, inlined or not.
  for (const char *Routine : {"EnableD31IoBase", "SocPreInitEntry", "FormatToBuffer", "ReportAssertion"}) {
    EXPECT_EQ(Gdb.find(std::string("Function \"") + Routine + "\" not defined"), std::string::npos) << Routine;
  }
  EXPECT_NE(Gdb.find("Breakpoint 2, LegacyUartInit () at SocPreInit/Dxe/ZodOdoRidaZar.cpp:"), std::string::npos) << Gdb;
  // list: the routine's own source; next: a following line of it.
  EXPECT_NE(Gdb.find("\tEFI_STATUS LegacyUartInit() {"), std::string::npos) << Gdb;
  EXPECT_NE(Gdb.find("\t  const UINT32 Rate = LineRateOf(Code);"), std::string::npos) << Gdb;
  EXPECT_NE(Gdb.find("\t  WriteLpcConfig(LPC_WINDOW_BASE_REGISTER, LPC_WINDOW_BASE_VALUE);"), std::string::npos) << Gdb;
  EXPECT_NE(Gdb.find("$1 = 19200\n"), std::string::npos) << Gdb;
  // bt reaches ModuleEntry, and nothing in the image is left unnamed.
  EXPECT_NE(Gdb.find("#0  LegacyUartInit () at SocPreInit/Dxe/ZodOdoRidaZar.cpp:"), std::string::npos) << Gdb;
  EXPECT_TRUE(std::regex_search(Gdb, std::regex(R"(#1  (0x[0-9a-f]+ in )?ModuleEntry \(FileHandle=)"))) << Gdb;
  EXPECT_EQ(UnnamedFramesInImage(Gdb, Run.ModuleBase(), 0x1000), std::vector<std::string>{}) << Gdb;
  EXPECT_NE(Gdb.find("$2 = 0 '\\000'"), std::string::npos) << Gdb;
  EXPECT_NE(Gdb.find("$3 = {Data1 = 0x4b0165a9, Data2 = 0x61d6, Data3 = 0x4e23, Data4 = {0xa0, 0xb5, 0x3e, 0xc7, 0x9c, "
                     "0x2e, 0x30, 0xd5}}"),
            std::string::npos)
      << Gdb;

  // The run, its devices and QEMU's trace as without gdb.
  EXPECT_EQ(Exit, 0) << Run.Out;
  EXPECT_NE(Run.Out.find("outcome: ModuleEntry returned 0x00000000 (Success)"), std::string::npos) << Run.Out;
  EXPECT_NE(Run.Out.find("COM1 last line parameters: baudrate=19200 parity='N' data=8 stop=2: ok"), std::string::npos);
  ExpectDeviceChecksPass(Run.Out);
  EXPECT_TRUE(std::filesystem::is_empty(Temporary));
}

TEST(Gdb, TheFailedLookupsMessageIsFormedInFormatToBuffer) {
  const std::string Temporary = ScratchPath("gdb-lookup");
  std::filesystem::create_directory(Temporary);
  PeiSimGdbRun Run;
  ASSERT_TRUE(Run.Start({"--image", DEBUG_LEVEL_IMAGE, "--no-ppi", "--release-halts", "--time-limit", "120"}, Temporary))
      << Run.Out;
  // The buffer's address is kept before finish: back in the caller, its
  // arguments are still on the stack and gdb would place its locals 8 bytes off.
  const std::string Gdb = RunGdbBatch(Run.GdbCommand(), Session({"break FormatToBuffer", "continue", "print Format",
                                                                 "set $text = Buffer", "bt", "finish", "x/s $text",
                                                                 "delete", "continue"}));
  const int Exit = Run.Finish(60);

  EXPECT_NE(Gdb.find("Breakpoint 2, FormatToBuffer (Buffer="), std::string::npos) << Gdb;
  EXPECT_NE(Gdb.find("\"\\nASSERT_EFI_ERROR (Status = %r)\\n\""), std::string::npos) << Gdb;
  for (const char *Frame : {"DebugPrintArgs (", "SocPreInitEntry (", "ModuleEntry ("}) {
    EXPECT_NE(Gdb.find(Frame), std::string::npos) << Frame << "\n" << Gdb;
  }
  EXPECT_EQ(UnnamedFramesInImage(Gdb, Run.ModuleBase(), 0x1000), std::vector<std::string>{}) << Gdb;
  // After finish (its "Value returned" means nothing here: no caller in the
  // module uses the count, so the link dropped it and EAX holds what it held).
  EXPECT_NE(Gdb.find("\t  FormatToBuffer(Buffer, MESSAGE_BUFFER_SIZE, Format, Args);\nValue returned is "), std::string::npos)
      << Gdb;
  EXPECT_TRUE(std::regex_search(Gdb, std::regex(R"(:\s+"\\r?\\nASSERT_EFI_ERROR \(Status = Not Found\)\\r?\\n")"))) << Gdb;

  EXPECT_EQ(Exit, 1) << Run.Out;
  EXPECT_NE(Run.Out.find("outcome: ModuleEntry returned 0x8000000E (Not Found)"), std::string::npos) << Run.Out;
  ExpectDeviceChecksPass(Run.Out);
  EXPECT_TRUE(std::filesystem::is_empty(Temporary));
}

// A symbol file of other code is refused by name, not loaded at a wrong place.
TEST(Gdb, ASymbolFileOfOtherCodeIsRefused) {
  const std::string Temporary = ScratchPath("gdb-other");
  std::filesystem::create_directory(Temporary);
  PeiSimGdbRun Run;
  ASSERT_TRUE(Run.Start({"--image", MODULE_IMAGE, "--symbols", SiblingPathFor(DEBUG_LEVEL_IMAGE, ".debug"),
                         "--time-limit", "3"}, Temporary))
      << Run.Out;
  EXPECT_NE(Run.Out.find("no source-level symbols: " + SiblingPathFor(DEBUG_LEVEL_IMAGE, ".debug") +
                         ": the symbol file "),
            std::string::npos)
      << Run.Out;
  char Entry[64];
  std::snprintf(Entry, sizeof Entry, "-ex 'hbreak *0x%08lX'", Run.ModuleBase() + RvaInMap(MODULE_IMAGE, "_ModuleEntry"));
  EXPECT_NE(Run.GdbCommand().find(Entry), std::string::npos) << Run.Out;
  EXPECT_EQ(Run.GdbCommand().find("add-symbol-file"), std::string::npos);
  Run.Finish(20);
}

}  // namespace
