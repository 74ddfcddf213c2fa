// The ROM's PEI foundation on QEMU, on the paths the module itself never
// takes: a probe PEIM in the module's place does one thing at a time the
// foundation must serve, refuse or catch; ROMs patched byte by byte carry what
// the foundation must refuse before it calls anything; and the stock QEMU
// command sees the foundation's exit codes.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "BootCost.h"
#include "CommandRun.h"
#include "FileBytes.h"
#include "FirmwarePacking.h"
#include "FoundationProtocol.h"
#include "Layout/LittleEndian.h"
#include "Layout/Pe32.h"
#include "Layout/Te.h"
#include "LinkMap.h"
#include "QemuChecks.h"
#include "QemuRun.h"
#include "Scratch.h"
#include "TestFiles.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// The probe with its case patched into its image, and its map beside it.
std::string ProbeFor(std::uint8_t Case) {
  std::string Error;
  const auto Map = ReadLinkMap(MapPathFor(PROBE_IMAGE), Error);
  EXPECT_TRUE(Map) << Error;
  Bytes Image = ReadBytes(PROBE_IMAGE);
  Image.at(Map->Rva("_gProbeCase").value_or(0)) = Case;  // it executes in place: RVA is file offset
  return WriteScratchImage("probe" + std::to_string(Case) + ".efi", Image, PROBE_IMAGE);
}

QemuOutcome RunProbe(const std::string &Image, const std::string &Rom = "") {
  QemuSettings Settings;
  Settings.ImagePath = Image;
  Settings.RomPartsFolder = ROM_PARTS;
  Settings.RomPath = Rom;
  QemuOutcome Outcome;
  EXPECT_TRUE(RunOnQemu(Settings, Outcome)) << Outcome.Error;
  return Outcome;
}

constexpr const char *kModule = "PEIM 7F3C2A91-5B4E-4D6A-8C1F-2E9B0D4A6C35 (SocPreInit)";

TEST(Foundation, CatchesWhatAPeimMustNotDoAndNamesIt) {
  struct Case {
    std::uint8_t Probe;
    std::string Error;  // what the foundation reports, to the instruction's address
  } Cases[] = {
      {1, "unexpected service 4"},
      {2, "processor exception 6 code 0x00000000 at 0xFFFF"},
      {3, "entry changed EBX to 0x12345678"},
      {7, std::string(kModule) + " stored into flash at 0xFFFF"},
      {8, std::string(kModule) + " ran off the bottom of its stack at 0x00800000, instruction at 0xFFFF"},
      {9, std::string(kModule) + " ran off the bottom of its stack at 0x00800000, instruction at 0xFFFF"},
      {10, "SerialWrite given a bad buffer 0xFFFFF000"},
  };
  for (const Case &Each : Cases) {
    SCOPED_TRACE(static_cast<int>(Each.Probe));
    const QemuOutcome Outcome = RunProbe(ProbeFor(Each.Probe));
    EXPECT_FALSE(Outcome.Completed);
    EXPECT_EQ(Outcome.Console.Outcome, foundation_protocol::kOutcomeFailed);
    EXPECT_EQ(Outcome.Error.rfind(Each.Error, 0), 0u) << Outcome.Error;
    EXPECT_TRUE(Outcome.Console.Done);  // the report is whole after a fault too
    EXPECT_EQ(Outcome.QemuExitStatus, foundation_protocol::QemuExitStatus(foundation_protocol::kExitFoundationError));
  }
  // The store's address is the probe's word in flash.
  std::string Error;
  const auto Map = ReadLinkMap(MapPathFor(PROBE_IMAGE), Error);
  const QemuOutcome Store = RunProbe(ProbeFor(7));
  EXPECT_NE(Store.Error.find(Hex(Store.ModuleBase + Map->Rva("_gProbeWord").value_or(0), 8)), std::string::npos)
      << Store.Error;
}

TEST(Foundation, TheServicesTableHoldsEverySlotAndThePpiDatabaseTakesWholeLists) {
  struct Case {
    std::uint8_t Probe;
    const char *Seen;
  } Cases[] = {
      // A list whose second descriptor is no PPI: refused, its first not installed.
      {4, "install 80000002 locate 8000000E"},
      // 16 descriptors with two in the database: refused whole; then one at a
      // time until the database is full (the 17th in all is refused).
      {5, "whole 80000009 locate 8000000E singles 14 then 80000009"},
      // Two of one GUID: instance 0 is the first installed, 1 the second, 2 none.
      {6, "install 00000000 instance 0 00000000 1 instance 1 00000000 2 instance 2 8000000E"},
      // The table: "PEI SERV", PI 1.70, its header and 28 slots, each its own routine.
      {11, "signature 5652455320494550 revision 00010046 size 136 slots 28 distinct 28"},
  };
  for (const Case &Each : Cases) {
    SCOPED_TRACE(static_cast<int>(Each.Probe));
    const QemuOutcome Outcome = RunProbe(ProbeFor(Each.Probe));
    EXPECT_TRUE(Outcome.Completed) << Outcome.Error;
    EXPECT_EQ(Outcome.Console.SinkTexts, std::vector<std::string>{Each.Seen});
    EXPECT_EQ(Outcome.Console.Return, 0u);
  }
}

// A ROM patched in one place: the foundation refuses it before it calls the
// module, and names the fault.
TEST(Foundation, RefusesAVolumeItCannotDispatchFromByName) {
  const Bytes Shipped = ReadBytes(ARTIFACT_ROM);
  std::string Error;
  const auto Volume = ParseFirmwareVolume(Shipped, Error);
  ASSERT_TRUE(Volume) << Error;
  const FirmwareFile &Module = Volume->Files.at(0);
  ASSERT_EQ(Module.Name, kSocPreInitFileGuid);
  const std::size_t FileAt = volume::MinHeaderLength;
  const std::size_t Image = FileAt + Module.FindImage()->Offset + section::HeaderSize;
  const std::size_t Depex = FileAt + Module.Find(section::kPeiDepex)->Offset + section::HeaderSize;
  const std::size_t FirstSection = Image + te::Size;  // the TE header, then the section table
  struct Case {
    const char *Name;
    std::function<void(Bytes &)> Patch;
    const char *Error;
  };
  const std::vector<Case> Cases = {
      {"a malformed dependency expression", [&](Bytes &R) { R.at(Depex) = 0x42; }, "unknown dependency expression opcode"},
      {"a PEIM file without an image section",
       [&](Bytes &R) { R.at(FileAt + Module.FindImage()->Offset + section::Type) = section::kVersion; },
       "a PEIM file without a PE32 or TE section at 0xFFFF0048"},
      {"an image for another machine", [&](Bytes &R) { WriteLe(&R.at(Image + te::Machine), 2, 0x8664); },
       "PEIM machine is not IA-32 0x00008664"},
      {"a section not at its RVA",
       [&](Bytes &R) {
         const std::size_t Raw = FirstSection + pe32::section_header::PointerToRawData;
         WriteLe(&R.at(Raw), 4, ReadLe32(&R.at(Raw)) + 0x20);
       },
       "PEIM 7F3C2A91-5B4E-4D6A-8C1F-2E9B0D4A6C35 (SocPreInit) cannot execute in place: section does not lie at its RVA"},
      {"a section larger in memory than in flash",
       [&](Bytes &R) {
         const std::size_t Virtual = FirstSection + pe32::section_header::VirtualSize;
         WriteLe(&R.at(Virtual), 4, ReadLe32(&R.at(FirstSection + pe32::section_header::SizeOfRawData)) + 1);
       },
       "cannot execute in place: section larger in memory than in the file"},
  };
  for (const Case &Each : Cases) {
    SCOPED_TRACE(Each.Name);
    Bytes Rom = Shipped;
    Each.Patch(Rom);
    const std::string Path = ScratchPath("patched.rom");
    ASSERT_TRUE(WriteFileBytes(Path, Rom, Error)) << Error;
    const QemuOutcome Outcome = RunProbe(MODULE_IMAGE, Path);
    EXPECT_FALSE(Outcome.Completed);
    EXPECT_NE(Outcome.Error.find(Each.Error), std::string::npos) << Outcome.Error;
    EXPECT_TRUE(Outcome.Console.Dispatched.empty() || Outcome.Console.Dispatched.back().first != "SocPreInit")
        << "the module ran";
    EXPECT_EQ(Outcome.QemuExitStatus, foundation_protocol::QemuExitStatus(foundation_protocol::kExitFoundationError));
  }
}

// BusInfoPei's own path when the board installs nothing: it returns success
// and installs nothing; the module is then never dispatched.
TEST(Foundation, BusInfoPeiInstallsNothingWithoutTheBoardsPpiAndSucceeds) {
  QemuSettings Settings;
  Settings.ImagePath = ARTIFACT_FFS;
  Settings.RomPartsFolder = ROM_PARTS;
  Settings.Board.PpiInstalled = false;
  QemuOutcome Outcome;
  ASSERT_TRUE(RunOnQemu(Settings, Outcome)) << Outcome.Error;
  ASSERT_EQ(Outcome.Console.Dispatched.size(), 1u);
  EXPECT_EQ(Outcome.Console.Dispatched[0].first, "BusInfoPei");
  EXPECT_EQ(Outcome.Console.Dispatched[0].second, 0u);
  EXPECT_TRUE(Outcome.NotDispatched);
  for (const QemuCheck &Check : RunChecks(Settings, Outcome)) {
    EXPECT_TRUE(Check.Passed) << Check.Text;
  }
}

// The foundation paints only the stack it measures, with a guard word below:
// a PEIM that goes deeper is reported as such, not measured short.
TEST(Foundation, StackUseBeyondWhatIsMeasuredIsSaid) {
  const QemuOutcome Deep = RunProbe(ProbeFor(12));
  EXPECT_TRUE(Deep.Completed) << Deep.Error;
  EXPECT_FALSE(Deep.Console.StackBytes);
  EXPECT_EQ(Deep.Console.StackBeyond, 1536u);
  bool Said = false;
  for (const QemuCheck &Check : RunChecks(QemuSettings{}, Deep)) {
    Said = Said || (!Check.Passed && Check.Text.find("more than the 1536 bytes") != std::string::npos);
  }
  EXPECT_TRUE(Said);
  const QemuOutcome Shallow = RunProbe(ProbeFor(0));
  EXPECT_FALSE(Shallow.Console.StackBeyond);
  ASSERT_TRUE(Shallow.Console.StackBytes);
  EXPECT_GT(*Shallow.Console.StackBytes, 0u);
  EXPECT_LT(*Shallow.Console.StackBytes, 64u);
}

// The boot cost by phase: the same from run to run (QEMU's counter counts
// instructions), each point after the one before, the phases adding up to
// the last point, and reset to the module's return within the budget.
TEST(Foundation, TheBootCostIsTheSameEachRunAndItsPhasesAddUp) {
  QemuSettings Settings;
  Settings.ImagePath = MODULE_IMAGE;
  Settings.RomPath = ARTIFACT_ROM;
  QemuOutcome First, Second;
  ASSERT_TRUE(RunOnQemu(Settings, First) && RunOnQemu(Settings, Second));
  ASSERT_TRUE(First.Completed && Second.Completed) << First.Error << Second.Error;
  EXPECT_EQ(First.Console.BootPoints, Second.Console.BootPoints);
  std::vector<std::string> Names;
  std::uint64_t Before = 0, Phases = 0;
  for (const auto &[Name, Count] : First.Console.BootPoints) {
    Names.push_back(Name);
    EXPECT_GT(Count, Before) << Name;
    Phases += Count - Before;
    Before = Count;
  }
  const std::vector<std::string> Expected = {"foundation entry",  "BusInfoPei entry",  "BusInfoPei return",
                                             "SocPreInit entry", "SocPreInit return", "end of dispatch"};
  EXPECT_EQ(Names, Expected);
  EXPECT_EQ(Phases, First.Console.ToDispatchEnd);
  EXPECT_EQ(First.Console.BootPoints.at(3).second, First.Console.ToModuleEntry);
  EXPECT_EQ(First.Console.BootPoints.at(4).second, First.Console.ToModuleReturn);
  EXPECT_LT(First.Console.BootPoints.at(0).second, 100u);  // the SEC: a few dozen instructions
  std::string Verdict;
  EXPECT_TRUE(BootCostWithin(First.Console, kBootBudget, Verdict)) << Verdict;
  const std::string Table = BootCostTable(First.Console);
  EXPECT_NE(Table.find("SocPreInit return"), std::string::npos) << Table;
}

// make report's gate: over the budget (lowered here) it fails and says by
// how much; a run that reports no module return is no pass either.
TEST(Foundation, TheBootBudgetIsAGate) {
  const std::vector<std::string> Report = {"report", "--image", MODULE_IMAGE, "--debug-image", DEBUG_LEVEL_IMAGE,
                                           "--engine-image", ENGINE_IMAGE, "--rom", ARTIFACT_ROM};
  const CommandResult Within = PeiSim(Report);
  EXPECT_EQ(Within.Exit, 0) << Within.Out << Within.Err;
  EXPECT_NE(Within.Out.find("instructions from reset to the module's return (QEMU)"), std::string::npos);
  EXPECT_NE(Within.Out.find("boot cost by phase"), std::string::npos);
  std::vector<std::string> Lowered = Report;
  Lowered.insert(Lowered.end(), {"--boot-budget", "1000"});
  const CommandResult Over = PeiSim(Lowered);
  EXPECT_EQ(Over.Exit, 1);
  EXPECT_NE(Over.Out.find("    1000  OVER by "), std::string::npos) << Over.Out;
  ConsoleReport Silent;
  std::string Verdict;
  EXPECT_FALSE(BootCostWithin(Silent, kBootBudget, Verdict));
  EXPECT_EQ(Verdict, "the module's return was not reported");
}

// The stock command, as a user boots the ROM without pei-sim: QEMU's exit
// status tells success, the module's failure and the foundation's refusal
// apart.
CommandResult BootStock(const std::string &Options, const std::vector<std::string> &More = {}) {
  std::vector<std::string> Args = {"-M", "q35", "-nodefaults", "-display", "none", "-no-reboot", "-bios", ARTIFACT_ROM,
                                   "-debugcon", "stdio", "-device", "isa-debug-exit,iobase=0xf4,iosize=0x04",
                                   "-serial", "null", "-serial", "null"};
  Args.insert(Args.end(), More.begin(), More.end());
  if (!Options.empty()) {
    Args.insert(Args.end(), {"-fw_cfg", "name=opt/socpreinit/options,string=" + Options});
  }
  return RunCommandLine("timeout", [&] {
    std::vector<std::string> All = {"20", "qemu-system-i386"};
    All.insert(All.end(), Args.begin(), Args.end());
    return All;
  }());
}

TEST(Foundation, TheStockCommandsExitStatusSaysHowTheRunEnded) {
  const std::string Padding(255 - std::string("x ppi=absent").size(), ' ');
  struct Case {
    const char *Name;
    std::string Options;
    int Exit;
    const char *Line;
  } Cases[] = {
      {"success", "", 1, "outcome returned"},
      {"the module halts", "x ppi=absent depex=0", 3, "outcome halted"},
      {"never dispatched", "x ppi=absent", 3, "outcome notdispatched"},
      {"255 bytes of options", "x ppi=absent" + Padding, 3, "outcome notdispatched"},
      {"256 bytes of options", "x ppi=absent" + Padding + " ", 5, "error opt/socpreinit/options: longer than 255 bytes"},
      {"a status that is no error", "x ppi=0", 5,
       "error opt/socpreinit/options: ppi status is not an error status (bit 31 clear)"},
      {"an unknown option", "x colour=1", 5, "error opt/socpreinit/options: unknown option or value out of range"},
  };
  for (const Case &Each : Cases) {
    SCOPED_TRACE(Each.Name);
    const CommandResult Boot = BootStock(Each.Options);
    EXPECT_EQ(Boot.Exit, Each.Exit) << Boot.Out << Boot.Err;
    EXPECT_NE(Boot.Out.find(std::string(Each.Line) + "\n"), std::string::npos) << Boot.Out;
  }
  // The foundation reads fw_cfg by DMA: a device without it is refused, not
  // taken for one without the settings.
  const CommandResult NoDma = BootStock("x ppi=absent", {"-global", "fw_cfg_io.dma_enabled=off"});
  EXPECT_EQ(NoDma.Exit, 5) << NoDma.Out << NoDma.Err;
  EXPECT_NE(NoDma.Out.find("error opt/socpreinit/options: fw_cfg cannot transfer by DMA\n"), std::string::npos)
      << NoDma.Out;
}

}  // namespace
