// The QEMU runner's parts that need no QEMU: the readers of the foundation's
// console and QEMU's trace on whole, cut and foreign text; the checks on what
// they read, which fail on missing data; the names the gdb listing gives; and
// the gdb relay, which never waits on a reader.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "BootCost.h"
#include "FileBytes.h"
#include "GdbRelay.h"
#include "LinkMap.h"
#include "FirmwarePacking.h"
#include "QemuChecks.h"
#include "RunRom.h"
#include "Scratch.h"

namespace {

const char kConsole[] =
    "foundation start\nrom\ntsc foundation-entry 18\n"
    "dispatch 3D8E5A47-92C1-4B6F-A30E-715C2B94E608\ntsc peim-entry 10404\ntsc peim-return 11443\n"
    "peim return 0x00000000\n"
    "dispatch 7F3C2A91-5B4E-4D6A-8C1F-2E9B0D4A6C35\nimage 0xFFFEFFB4 0x00001000 0xFFFF0900\n"
    "sink 0D0A41\ntsc module-entry 14119\ntsc module-return 14909\nreturn 0x00000000\nregisters preserved\n"
    "tsc dispatch-end 15817\noutcome returned\nstack 44\nstate com1 0x07 0x03 0x00\nstate com2 0x07 0x0C 0x01\n"
    "state lpc40 0x00000402\nstate lpc50 0xFED08002\nstate lpc80 0x00000003\nstate window88 0x00000018\n"
    "state base22 0xF0100000\nstate base23 0xF0200000\nstate base24 0xF0300000\n"
    "device edu 0x010000ED\ndevice ahci23 0x00010000\ndevice ahci24 0x00010000\nfoundation done\n";

TEST(ConsoleReport, AWholeReportIsReadFactByFact) {
  const ConsoleReport Report = ParseConsoleReport(kConsole);
  EXPECT_TRUE(Report.Started);
  EXPECT_TRUE(Report.Done);
  EXPECT_EQ(Report.Outcome, "returned");
  ASSERT_EQ(Report.Dispatched.size(), 2u);
  EXPECT_EQ(Report.Dispatched[0], (std::pair<std::string, std::optional<std::uint32_t>>{"BusInfoPei", 0u}));
  EXPECT_EQ(Report.Dispatched[1], (std::pair<std::string, std::optional<std::uint32_t>>{"SocPreInit", 0u}));
  EXPECT_EQ(Report.ImageBase, 0xFFFEFFB4u);
  EXPECT_EQ(Report.ImageSize, 0x1000u);
  EXPECT_EQ(Report.ImageEntry, 0xFFFF0900u);
  EXPECT_EQ(Report.SinkTexts, std::vector<std::string>{"\r\nA"});
  EXPECT_EQ(Report.ToModuleEntry, 14119u);
  EXPECT_EQ(Report.ToModuleReturn, 14909u);
  EXPECT_EQ(Report.ToDispatchEnd, 15817u);
  const std::vector<std::pair<std::string, std::uint64_t>> Points = {
      {"foundation entry", 18},      {"BusInfoPei entry", 10404},  {"BusInfoPei return", 11443},
      {"SocPreInit entry", 14119},   {"SocPreInit return", 14909}, {"end of dispatch", 15817}};
  EXPECT_EQ(Report.BootPoints, Points);
  const std::string Table = BootCostTable(Report);
  EXPECT_NE(Table.find("  BusInfoPei return                              11443      1039\n"), std::string::npos)
      << Table;
  EXPECT_NE(Table.find("services included): 790\n"), std::string::npos) << Table;
  std::string Verdict;
  EXPECT_TRUE(BootCostWithin(Report, 14909, Verdict));
  EXPECT_EQ(Verdict, "ok, 0 to spare");
  EXPECT_FALSE(BootCostWithin(Report, 14908, Verdict));
  EXPECT_EQ(Verdict, "OVER by 1");
  EXPECT_EQ(Report.Return, 0u);
  EXPECT_TRUE(Report.RegistersPreserved);
  EXPECT_EQ(Report.StackBytes, 44u);
  ASSERT_TRUE(Report.Com1 && Report.Com2);
  EXPECT_EQ(Report.Com1->LineControl, 0x07);
  EXPECT_EQ(Report.Com2->Divisor, 0x010C);
  EXPECT_EQ(Report.States.at("lpc50"), 0xFED08002u);
  EXPECT_EQ(Report.Devices.at("ahci24"), 0x00010000u);
  const BoardState State = StateFromConsole(Report, 0);
  EXPECT_EQ(State.Bases[2], 0xF0300000u);
  EXPECT_EQ(State.Return, 0u);
  EXPECT_EQ(State.LastSink, "\r\nA");
}

// Lines cut by a time limit, or of a ROM that is not ours: nothing throws,
// and a fact that does not parse is absent, not zero.
TEST(ConsoleReport, CutAndForeignLinesLeaveFactsAbsent) {
  const char *Lines[] = {
      "error",  "return",       "return 0x",         "return 0x1FFFFFFFF", "return -1",       "image 1 2",
      "stack",  "stack x",      "sink 0",            "sink ZZ",            "sink 0D0",        "tsc module-entry",
      "tsc module-entry 99999999999999999999999",     "state com1 0x07 0x03", "state com1 0x107 0x03 0x00",
      "state lpc40",  "device edu", "device edu 0xG", "dispatch", "peim return 0x0", "neverdispatched X ZZ",
      "outcome", "\x01\x02\xFF", "", " ", "foundation done extra", "stack over", "stack over x", "stack under 5",
      "tsc peim-entry x", "tsc somewhere 5",
  };
  for (const char *Line : Lines) {
    SCOPED_TRACE(Line);
    const ConsoleReport Report = ParseConsoleReport(std::string(Line) + "\n");
    EXPECT_FALSE(Report.Return);
    EXPECT_FALSE(Report.ImageBase);
    EXPECT_FALSE(Report.StackBytes);
    EXPECT_FALSE(Report.StackBeyond);
    EXPECT_FALSE(Report.ToModuleEntry);
    EXPECT_TRUE(Report.BootPoints.empty());
    EXPECT_FALSE(Report.Com1);
    EXPECT_TRUE(Report.SinkTexts.empty());
    EXPECT_TRUE(Report.States.empty());
    EXPECT_TRUE(Report.Devices.empty());
    EXPECT_TRUE(Report.Dispatched.empty());
    EXPECT_TRUE(Report.Outcome.empty());
    EXPECT_FALSE(Report.Done);
  }
  EXPECT_EQ(ParseConsoleReport("stack over 1536\n").StackBeyond, 1536u);
  // A report cut after its first half: the devices were never reported.
  const std::string Text = kConsole;
  const ConsoleReport Cut = ParseConsoleReport(Text.substr(0, Text.find("state base22")));
  EXPECT_FALSE(Cut.Done);
  QemuOutcome Outcome;
  Outcome.Console = Cut;
  Outcome.State = StateFromConsole(Cut, 0);
  for (const QemuCheck &Check : DeviceChecks(Outcome)) {
    EXPECT_FALSE(Check.Passed) << Check.Text;
    EXPECT_NE(Check.Text.find("not reported by the foundation"), std::string::npos);
  }
}

TEST(ConsoleReport, AnErrorNamesOurPeimsAndKeepsItsWords) {
  const ConsoleReport Report = ParseConsoleReport(
      "error PEIM 7F3C2A91-5B4E-4D6A-8C1F-2E9B0D4A6C35 stored into flash at 0xFFFF0C6C, instruction at 0xFFFF0A5C\n"
      "neverdispatched 3D8E5A47-92C1-4B6F-A30E-715C2B94E608 0908\nerror \n");
  ASSERT_EQ(Report.Errors.size(), 2u);
  EXPECT_EQ(Report.Errors[0],
            "PEIM 7F3C2A91-5B4E-4D6A-8C1F-2E9B0D4A6C35 (SocPreInit) stored into flash at 0xFFFF0C6C, instruction at "
            "0xFFFF0A5C");
  EXPECT_EQ(Report.Errors[1], "");
  ASSERT_EQ(Report.NeverDispatched.size(), 1u);
  EXPECT_EQ(Report.NeverDispatched[0].first, "BusInfoPei");
  EXPECT_EQ(Report.NeverDispatched[0].second, (std::vector<std::uint8_t>{0x09, 0x08}));
}

std::string ConfigWrite(const char *Function, unsigned Register, unsigned Value) {
  char Line[96];
  std::snprintf(Line, sizeof Line, "pci_cfg_write dev %s @0x%x <- 0x%x\n", Function, Register, Value);
  return Line;
}

TEST(QemuTrace, TheModulesWritesAreThoseBetweenTheFoundationsMarks) {
  const std::string Trace = ConfigWrite("00:1f.0", 0x40, 0) + ConfigWrite("00:18.0", 0x24, 0) +  // set-up mark
                            "memory_region_ops_write cpu 0 mr 0x0 addr 0x3fb value 0x87 size 1 name 'serial'\n"
                            "serial_update_parameters baudrate=38400 parity='N' data=8 stop=2\n" +
                            ConfigWrite("00:1f.0", 0x50, 0xfed08002) +
                            "memory_region_ops_write cpu 0 mr 0x0 addr 0x2f8 value 0x3 size 1 name 'serial'\n"
                            "serial_update_parameters baudrate=9600 parity='N' data=8 stop=2\n" +
                            ConfigWrite("00:1f.0", 0x44, 0) +  // after-module mark
                            ConfigWrite("00:16.0", 0x04, 2);
  const QemuTraceReport Report = ParseQemuTrace(Trace);
  EXPECT_TRUE(Report.SetUpMark);
  EXPECT_TRUE(Report.AfterModuleMark);
  ASSERT_EQ(Report.ModuleWrites.size(), 1u);
  EXPECT_EQ(Report.ModuleWrites[0].Text(), "00:1F.0 @0x50 <- 0xFED08002");
  EXPECT_EQ(Report.Com1Parameters, "baudrate=38400 parity='N' data=8 stop=2");
  EXPECT_EQ(Report.Com2Parameters, "baudrate=9600 parity='N' data=8 stop=2");

  // No set-up mark: nothing is the module's, and the checks fail.
  const QemuTraceReport NoMark = ParseQemuTrace(ConfigWrite("00:1f.0", 0x50, 0xfed08002) + ConfigWrite("00:1f.0", 0x44, 0));
  EXPECT_FALSE(NoMark.SetUpMark);
  EXPECT_FALSE(NoMark.AfterModuleMark);
  EXPECT_TRUE(NoMark.ModuleWrites.empty());
  QemuSettings Settings;
  QemuOutcome Outcome;
  Outcome.Trace = NoMark;
  Outcome.NotDispatched = true;  // "no write at all" must not pass on an empty trace
  for (const QemuCheck &Check : TraceChecks(Settings, Outcome)) {
    EXPECT_FALSE(Check.Passed) << Check.Text;
  }
  Outcome.Trace = ParseQemuTrace("");
  Outcome.NotDispatched = false;
  for (const QemuCheck &Check : TraceChecks(Settings, Outcome)) {
    EXPECT_FALSE(Check.Passed) << Check.Text;
  }
  // The described writes after the set-up mark, but the run cut before the
  // mark after the module: they are not known to be all of the module's.
  std::string Cut = ConfigWrite("00:18.0", 0x24, 0);
  for (const QemuConfigWrite &Write : ExpectedConfigWrites(Settings)) {
    Cut += ConfigWrite(Write.Function.c_str(), Write.Register, Write.Value);
  }
  Outcome.Trace = ParseQemuTrace(Cut);
  EXPECT_TRUE(Outcome.Trace.SetUpMark);
  EXPECT_FALSE(Outcome.Trace.AfterModuleMark);
  EXPECT_FALSE(TraceChecks(Settings, Outcome).back().Passed);
  // Lines of another shape are passed over.
  for (const char *Line : {"pci_cfg_write", "pci_cfg_write a b c d e f", "pci_cfg_write dev 00:18.0 @0x24 <- zero",
                           "pci_cfg_write dev 00:18.0 0x24 <- 0x0", "serial_update_parameters ",
                           "memory_region_ops_write addr name 'serial'", "memory_region_ops_write x addr"}) {
    SCOPED_TRACE(Line);
    const QemuTraceReport Odd = ParseQemuTrace(std::string(Line) + "\n");
    EXPECT_FALSE(Odd.SetUpMark);
    EXPECT_FALSE(Odd.Com1Parameters);
  }
}

TEST(RunChecks, TheModulesPlaceAndQemusExitStatusAreChecked) {
  QemuSettings Settings;
  QemuOutcome Outcome;
  Outcome.Console = ParseConsoleReport(kConsole);
  Outcome.ModuleBase = 0xFFFEFFB4;
  Outcome.QemuExitStatus = 1;
  for (const QemuCheck &Check : RunChecks(Settings, Outcome)) {
    EXPECT_TRUE(Check.Passed) << Check.Text;
  }
  // Found elsewhere than the gdb command assumed.
  Settings.Gdb = true;
  Outcome.ModuleBase = 0xFFFEF000;
  const auto Moved = RunChecks(Settings, Outcome);
  EXPECT_FALSE(Moved[0].Passed);
  EXPECT_EQ(Moved[0].Text, "the foundation found the module at 0xFFFEFFB4, expected 0xFFFEF000 (the gdb command's)");
  // An exit status that is not the outcome's: success reported, QEMU said failure; or no status at all.
  Outcome.ModuleBase = 0xFFFEFFB4;
  for (const std::optional<int> Status : {std::optional<int>(3), std::optional<int>(5), std::optional<int>()}) {
    Outcome.QemuExitStatus = Status;
    EXPECT_FALSE(RunChecks(Settings, Outcome).back().Passed);
  }
  // An error status the module returned is the module's failure: 3.
  Outcome.Console.Return = 0x8000000E;
  Outcome.QemuExitStatus = 3;
  EXPECT_TRUE(RunChecks(Settings, Outcome).back().Passed);
}

TEST(LinkMap, RoutinesAreNamedAsTheSourceNamesThem) {
  const std::pair<const char *, const char *> Names[] = {
      {"_SerialWrite", "SerialWrite"},
      {"?FormatToBuffer@@YAIPADIPBDPAUPRINT_ARG_LIST@@@Z", "FormatToBuffer"},
      {"?Convert@?A0xB5269ABA@@YAPBDPBDPAUFIELD@?A0xB5269ABA@@PAUPRINT_ARG_LIST@@@Z", "(anonymous namespace)::Convert"},
      {"?UartParity@@3EA", "UartParity"},
      {"?Value@?$SOURCE_PATH_STORE@$2U?$SOURCE_PATH_TEXT@$0CC@@@3D0EN@@@@2UTEXT@1@B", "SOURCE_PATH_STORE<...>::Value"},
      {"??$DebugPrintArgsTo@I@@YAXPBDZZ", "DebugPrintArgsTo<...>"},
      {"?Inner@Outer@Space@@YAXXZ", "Space::Outer::Inner"},
      {"??_C@_0BD@OMMAJMCK@?$CIAddress@", "??_C@_0BD@OMMAJMCK@?$CIAddress@"},
      {"plain", "plain"},
      {"?", "?"},
  };
  for (const auto &[Linked, Plain] : Names) {
    EXPECT_EQ(PlainRoutineName(Linked), Plain) << Linked;
  }
  EXPECT_EQ(RoutineName("?Convert@?A0xB5269ABA@@YAPBD@Z"), "Convert");
}

int Connect(const std::string &Path) {
  const int Socket = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un Address{};
  Address.sun_family = AF_UNIX;
  std::snprintf(Address.sun_path, sizeof Address.sun_path, "%s", Path.c_str());
  return connect(Socket, reinterpret_cast<const sockaddr *>(&Address), sizeof Address) == 0 ? Socket : -1;
}

int ListenOn(const std::string &Path) {
  const int Socket = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un Address{};
  Address.sun_family = AF_UNIX;
  std::snprintf(Address.sun_path, sizeof Address.sun_path, "%s", Path.c_str());
  if (bind(Socket, reinterpret_cast<const sockaddr *>(&Address), sizeof Address) != 0 || listen(Socket, 1) != 0) {
    close(Socket);
    return -1;
  }
  return Socket;
}

// A QEMU side that floods and a gdb that never reads: each pump still comes
// back within its time, what waits is bounded, and gdb's going ends the session.
TEST(GdbRelay, NeverWaitsOnAReaderThatDoesNotRead) {
  const std::string Folder = ScratchPath("relay");
  std::filesystem::create_directories(Folder);
  const std::string Qemu = Folder + "/qemu.sock", Gdb = Folder + "/gdb.sock";
  const int QemuListener = ListenOn(Qemu);
  ASSERT_GE(QemuListener, 0);
  std::string Error;
  {
    GdbRelay Relay;
    ASSERT_TRUE(Relay.Listen(Gdb, Qemu, Error)) << Error;
    const int Client = Connect(Gdb);
    ASSERT_GE(Client, 0);
    for (int Pump = 0; Pump < 20 && !Relay.SessionStarted(); Pump++) {
      Relay.Pump(10);
    }
    ASSERT_TRUE(Relay.SessionStarted());
    const int QemuSide = accept(QemuListener, nullptr, nullptr);
    ASSERT_GE(QemuSide, 0);
    // QEMU's side writes far more than the sockets and the relay hold.
    const std::string Block(65536, 'x');
    std::size_t Written = 0;
    const auto Started = std::chrono::steady_clock::now();
    for (int Round = 0, Idle = 0; Round < 5000 && Idle < 100; Round++) {
      const ssize_t Put = send(QemuSide, Block.data(), Block.size(), MSG_DONTWAIT);
      Written += Put > 0 ? static_cast<std::size_t>(Put) : 0;
      Idle = Put > 0 ? 0 : Idle + 1;
      const auto Before = std::chrono::steady_clock::now();
      Relay.Pump(5);
      EXPECT_LT(std::chrono::steady_clock::now() - Before, std::chrono::milliseconds(500));
    }
    EXPECT_GT(Written, GdbRelay::kMaxPending);  // the relay stopped taking, and did not block
    EXPECT_LT(std::chrono::steady_clock::now() - Started, std::chrono::seconds(20));
    EXPECT_FALSE(Relay.SessionEnded());
    close(Client);
    for (int Pump = 0; Pump < 100 && !Relay.SessionEnded(); Pump++) {
      Relay.Pump(5);
    }
    EXPECT_TRUE(Relay.SessionEnded());
    close(QemuSide);
  }
  close(QemuListener);
  EXPECT_FALSE(std::filesystem::exists(Gdb));  // the relay's socket goes with it
}

// A folder kept from an earlier run holds its sockets: they are taken over;
// a file of the user's in their place is not.
TEST(GdbRelay, AnOldSocketIsClearedAndAnythingElseIsLeftAlone) {
  const std::string Folder = ScratchPath("relay-keep");
  std::filesystem::create_directories(Folder);
  const std::string Path = Folder + "/gdb.sock";
  const int Old = ListenOn(Path);
  ASSERT_GE(Old, 0);
  close(Old);  // the socket file stays, as a killed run leaves it
  std::string Error;
  {
    GdbRelay Relay;
    EXPECT_TRUE(Relay.Listen(Path, Folder + "/qemu.sock", Error)) << Error;
  }
  ASSERT_TRUE(WriteFileText(Path, "mine\n", Error)) << Error;
  GdbRelay Relay;
  EXPECT_FALSE(Relay.Listen(Path, Folder + "/qemu.sock", Error));
  EXPECT_EQ(Error, Path + " is there and is not a socket: it is left as it is");
  std::string Text;
  EXPECT_TRUE(ReadFileText(Path, Text, Error));
  EXPECT_EQ(Text, "mine\n");
}


// A volume's first PEIM is the module, whatever files come before it; a
// volume without one is refused as such, not for the first file's contents.
TEST(ModuleImageOf, AVolumesFirstPeimIsTheModule) {
  std::string Error;
  const auto Raw = BuildRawFile(Guid16{0x11}, {1, 2, 3, 4}, Error);
  ASSERT_TRUE(Raw) << Error;
  const std::vector<std::uint8_t> Image(0x200, 0x4D);
  const auto Peim = BuildPeimFile(Image, "Mine", "1", Error);
  ASSERT_TRUE(Peim) << Error;
  const auto Both = BuildVolumeOf({{0x48, *Raw}, {0x48 + ((Raw->size() + 7) & ~std::size_t{7}), *Peim}}, 0x1000, Error);
  const auto RawOnly = BuildVolume(*Raw, Error);
  ASSERT_TRUE(Both && RawOnly) << Error;
  const std::string BothPath = ScratchPath("first-peim.fv"), RawPath = ScratchPath("no-peim.fv");
  ASSERT_TRUE(WriteFileBytes(BothPath, *Both, Error) && WriteFileBytes(RawPath, *RawOnly, Error)) << Error;
  std::vector<std::uint8_t> Depex;
  bool Bare = true;
  EXPECT_EQ(ModuleImageOf(BothPath, Depex, Bare, Error), Image) << Error;
  EXPECT_FALSE(Bare);
  EXPECT_TRUE(ModuleImageOf(RawPath, Depex, Bare, Error).empty());
  EXPECT_EQ(Error, RawPath + ": the volume holds no PEIM file");
}

}  // namespace
