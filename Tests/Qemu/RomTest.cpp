// SocPreInit.rom from the reset vector: the stock QEMU command boots it, the
// foundation dispatches BusInfoPei before the module whatever the order in
// the volume, names a module it never dispatches and refuses one that is not
// at its flash address; fwupd and UEFITool parse the ROM without a warning.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "CommandRun.h"
#include "FirmwarePacking.h"
#include "Layout/LittleEndian.h"
#include "Layout/Te.h"
#include "Scratch.h"
#include "TestFiles.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::string Line(const std::string &Text, const std::string &Start) {
  const std::size_t At = Text.find("\n" + Start);
  return At == std::string::npos ? "" : Text.substr(At + 1, Text.find('\n', At + 1) - At - 1);
}

TEST(Rom, TheStockQemuCommandBootsItFromReset) {
  // As the README gives it.
  const CommandResult Boot = RunCommandLine(
      "qemu-system-i386", {"-M", "q35", "-nodefaults", "-display", "none", "-no-reboot", "-bios", ARTIFACT_ROM,
                           "-debugcon", "stdio", "-device", "isa-debug-exit,iobase=0xf4,iosize=0x04", "-serial", "null",
                           "-serial", "null", "-device", "edu,addr=0x16", "-device", "ich9-ahci,addr=0x17", "-device",
                           "ich9-ahci,addr=0x18"});
  EXPECT_EQ(Boot.Exit, 1) << Boot.Err;  // isa-debug-exit with 0
  for (const char *Expected : {"dispatch 3D8E5A47-92C1-4B6F-A30E-715C2B94E608\n",
                               "dispatch 7F3C2A91-5B4E-4D6A-8C1F-2E9B0D4A6C35\n", "return 0x00000000\n",
                               "state base22 0xF0100000\n", "device edu 0x010000ED\n", "foundation done\n"}) {
    EXPECT_NE(Boot.Out.find(Expected), std::string::npos) << Expected << Boot.Out;
  }
  EXPECT_LT(Boot.Out.find("dispatch 3D8E5A47"), Boot.Out.find("dispatch 7F3C2A91"));
}

TEST(Rom, BusInfoPeiIsDispatchedFirstInEitherOrderAndAModuleNeverDispatchedIsNamed) {
  const std::string Both = "dispatch: BusInfoPei (returned 0x00000000), SocPreInit (returned 0x00000000)";
  const CommandResult Shipped = RunCommandLine(PEI_SIM_PATH, {"qemu", "--rom", ARTIFACT_ROM, "--image", MODULE_IMAGE});
  EXPECT_EQ(Shipped.Exit, 0) << Shipped.Err;
  EXPECT_EQ(Line(Shipped.Out, "dispatch: "), Both);
  const CommandResult Swapped = RunCommandLine(PEI_SIM_PATH, {"qemu", "--image", ARTIFACT_FFS, "--busdriver-first"});
  EXPECT_EQ(Swapped.Exit, 0) << Swapped.Err;
  EXPECT_EQ(Line(Swapped.Out, "dispatch: "), Both);
  EXPECT_EQ(Line(Swapped.Out, "outcome: "), Line(Shipped.Out, "outcome: "));

  const CommandResult Alone = RunCommandLine(PEI_SIM_PATH, {"qemu", "--image", ARTIFACT_FFS, "--without-busdriver"});
  EXPECT_EQ(Alone.Exit, 5) << Alone.Err;
  EXPECT_EQ(Line(Alone.Out, "dispatch: "), "dispatch: none");
  EXPECT_EQ(Line(Alone.Out, "never dispatched: "),
            "never dispatched: SocPreInit, its dependency expression (PUSH 4B0165A9-61D6-4E23-A0B5-3EC79C2E30D5 "
            "(BUS_INFO_PPI); END) did not hold");
  EXPECT_NE(Alone.Out.find("outcome: not dispatched: its dependency expression (PUSH 4B0165A9"), std::string::npos);
}

TEST(Rom, AnImageNotAtItsFlashAddressIsRefusedByName) {
  Bytes Rom = ReadBytes(ARTIFACT_ROM);
  std::string Error;
  const auto Volume = ParseFirmwareVolume(Rom, Error);
  ASSERT_TRUE(Volume) << Error;
  // The module's TE section: move its image base by a page.
  std::size_t FileAt = volume::MinHeaderLength;
  const FirmwareFile &Module = Volume->Files.at(0);
  ASSERT_EQ(Module.Name, kSocPreInitFileGuid);
  const std::size_t Base = FileAt + Module.FindImage()->Offset + 4 + te::ImageBase;
  WriteLe(&Rom.at(Base), 4, ReadLe32(&Rom.at(Base)) + 0x1000);
  const CommandResult Run =
      RunCommandLine(PEI_SIM_PATH, {"qemu", "--rom", WriteScratchFile("moved.rom", Rom), "--image", MODULE_IMAGE});
  EXPECT_EQ(Run.Exit, 4);
  EXPECT_NE(Run.Err.find("PEIM image base is not its flash address"), std::string::npos) << Run.Err;
}

// A store into its own image would be lost in flash: the module needs none.
// Its line variables, patched in the image, reach the UARTs from flash.
TEST(Rom, TheModuleReadsItsVariablesFromFlash) {
  std::string Error;
  const auto Volume = ParseFirmwareVolume(ReadBytes(ARTIFACT_FV), Error);
  ASSERT_TRUE(Volume) << Error;
  Bytes Image = ReadBytes(MODULE_IMAGE);
  const std::string Map = ReadText(MODULE_MAP);
  // The image executes in place: a variable's RVA is its file offset.
  auto OffsetOf = [&Map](const std::string &Symbol) {
    const std::size_t At = Map.find(" " + Symbol + " ");
    return At == std::string::npos ? 0 : std::stoul(Map.substr(Map.find_first_not_of(' ', At + Symbol.size() + 2), 16), nullptr, 16);
  };
  ASSERT_NE(OffsetOf("?UartParity@@3EA"), 0u);
  Image.at(OffsetOf("?UartParity@@3EA")) = 1;
  Image.at(OffsetOf("?UartBreak@@3EA")) = 1;
  const std::string Patched = WriteScratchImage("patched.efi", Image, MODULE_IMAGE);
  const CommandResult Qemu = RunCommandLine(PEI_SIM_PATH, {"qemu", "--image", Patched});
  // QEMU's own trace saw the patched line: not the described one, so exit 6.
  EXPECT_EQ(Qemu.Exit, 6) << Qemu.Err;
  EXPECT_NE(Qemu.Out.find("COM1 last line parameters: baudrate=38400 parity='O' data=8 stop=2: FAILED"),
            std::string::npos) << Qemu.Out;
  EXPECT_EQ(Line(Qemu.Out, "COM1 0x3F8: "),
            "COM1 0x3F8: 38400 bit/s (divisor 3), 8 data bits, odd parity, 2 stop bits, break on, divisor latch closed");
  const CommandResult Board = RunCommandLine(PEI_SIM_PATH, {"run", "--image", Patched, "--bus", "0", "--divisor-code", "3"});
  EXPECT_EQ(Line(Qemu.Out, "COM2 0x2F8: "), Line(Board.Out, "COM2 0x2F8: "));
}

TEST(Rom, FwupdAndUefiToolParseItWithoutAWarning) {
  const std::string Rom = WriteScratchFile("parsed.rom", ReadBytes(ARTIFACT_ROM));
  const CommandResult Extract = RunCommandLine("UEFIExtract", {Rom, "report"});
  EXPECT_EQ(Extract.Out.find_first_not_of(" \n"), std::string::npos) << Extract.Out;  // no message at all
  const std::string Report = ReadText(Rom + ".report.txt");
  for (const char *Row : {"7F3C2A91-5B4E-4D6A-8C1F-2E9B0D4A6C35 | SocPreInit",
                          "3D8E5A47-92C1-4B6F-A30E-715C2B94E608 | BusInfoPei", "| TE image ", "| PEI dependency ",
                          "1BA0062E-C779-4582-8566-336AE8F78F09 | Volume Top File"}) {
    EXPECT_NE(Report.find(Row), std::string::npos) << Row << "\n" << Report;
  }
  const CommandResult Fwupd = RunCommandLine("fwupdtool", {"firmware-parse", Rom, "efi-volume"});
  EXPECT_EQ(Fwupd.Exit, 0) << Fwupd.Err;
  for (const char *Id : {"<id>7f3c2a91-5b4e-4d6a-8c1f-2e9b0d4a6c35</id>", "<id>3d8e5a47-92c1-4b6f-a30e-715c2b94e608</id>",
                         "<id>1ba0062e-c779-4582-8566-336ae8f78f09</id>", "<type_name>te</type_name>",
                         "<type_name>pei-depex</type_name>"}) {
    EXPECT_NE(Fwupd.Out.find(Id), std::string::npos) << Id;
  }
}

}  // namespace
