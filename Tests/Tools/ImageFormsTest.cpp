// The module image in its TE form and rebased, as the packing code makes
// them: each runs exactly as the PE32 image does, inspect reads and checks
// it, a PEIM file and a volume carry it, and fwupd and UEFITool find it.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "CommandRun.h"
#include "FirmwarePacking.h"
#include "ImageForms.h"
#include "Layout/LittleEndian.h"
#include "Layout/Te.h"
#include "Scratch.h"
#include "TestFiles.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::string Field(const std::string &Text, const std::string &Name) {
  const std::size_t At = Text.find("\n" + Name + ": ");
  return At == std::string::npos ? "" : Text.substr(At + Name.size() + 3, Text.find('\n', At + 1) - At - Name.size() - 3);
}

TEST(ImageForms, TheTeFormAndRebasedFormsRunAsThePe32Does) {
  const Bytes Pe32 = ReadBytes(MODULE_IMAGE);
  const CommandResult Reference = PeiSim({"run", "--image", MODULE_IMAGE, "--stats"});
  ASSERT_EQ(Reference.Exit, 0);
  std::string Error;
  const auto Te = ToTe(Pe32, Error);
  ASSERT_TRUE(Te) << Error;
  EXPECT_EQ(*Te, ReadBytes(ARTIFACT_TE));  // what the build wrote
  EXPECT_EQ(Te->size(), Pe32.size() - 0xF0 + te::Size);
  const auto TeInFlash = RebaseImage(*Te, 0xFFFF1000u, Error);
  ASSERT_TRUE(TeInFlash) << Error;
  const auto Pe32AtLoad = RebaseImage(Pe32, 0x00200000u, Error);
  ASSERT_TRUE(Pe32AtLoad) << Error;
  struct Case {
    const char *Name;
    Bytes Image;
    const char *Format, *Base;
    int InspectExit;  // a rebased PE32 image breaks the shipped image's "image base 0", and only that
  } Cases[] = {
      {"module.te", *Te, "TE (StrippedSize 0x000000F0)", "0x00000000", 0},
      // RVA 0 lies 40 - StrippedSize bytes from the TE header's address.
      {"flash.te", *TeInFlash, "TE (StrippedSize 0x000000F0)", "0xFFFF0F38", 0},
      {"load.efi", *Pe32AtLoad, "PE32", "0x00200000", 1},
  };
  for (const Case &Each : Cases) {
    SCOPED_TRACE(Each.Name);
    const std::string Path = WriteScratchImage(Each.Name, Each.Image, MODULE_IMAGE);
    const CommandResult Inspect = PeiSim({"inspect", Path});
    EXPECT_EQ(Inspect.Exit, Each.InspectExit) << Inspect.Out << Inspect.Err;
    EXPECT_EQ(Inspect.Out.find("contract broken: ") == std::string::npos, Each.InspectExit == 0);
    EXPECT_EQ(Inspect.Out.find("contract broken: ", Inspect.Out.find("contract broken: image base is not 0") + 1),
              std::string::npos);
    EXPECT_EQ(Field(Inspect.Out, "format"), Each.Format);
    EXPECT_EQ(Field(Inspect.Out, "image base"), Each.Base);
    EXPECT_EQ(Field(Inspect.Out, "executes in place").substr(0, 3), "yes");
    const CommandResult Run = PeiSim({"run", "--image", Path, "--stats"});
    EXPECT_EQ(Run.Out.substr(0, Run.Out.find("image size")), Reference.Out.substr(0, Reference.Out.find("image size")));
  }
  // Rebasing twice lands where rebasing once does.
  const auto Twice = RebaseImage(*RebaseImage(*Te, 0x12345000u, Error), 0xFFFF1000u, Error);
  ASSERT_TRUE(Twice);
  EXPECT_EQ(*Twice, *TeInFlash);
  EXPECT_FALSE(ToTe(*Te, Error));
  EXPECT_EQ(Error, "already a TE image");
}

TEST(ImageForms, APeimFileCarriesTheTeImageAndTheParsersFindIt) {
  std::string Error;
  const Bytes File = *BuildPeimFile(ReadBytes(ARTIFACT_TE), "SocPreInit", "0.9.0", Error);
  const std::string FfsPath = WriteScratchImage("te.ffs", File, MODULE_IMAGE);
  const std::string FvPath = WriteScratchImage("te.fv", *BuildVolume(File, Error), MODULE_IMAGE);
  const CommandResult Reference = PeiSim({"run", "--image", MODULE_IMAGE});
  for (const std::string &Path : {FfsPath, FvPath}) {
    SCOPED_TRACE(Path);
    const CommandResult Inspect = PeiSim({"inspect", Path});
    EXPECT_EQ(Inspect.Exit, 0) << Inspect.Out << Inspect.Err;
    EXPECT_NE(Inspect.Out.find(": TE (0x12), 3896 bytes"), std::string::npos) << Inspect.Out;
    EXPECT_EQ(PeiSim({"run", "--image", Path}).Out, Reference.Out);
  }
  const CommandResult Fwupd = RunCommandLine("fwupdtool", {"firmware-parse", FvPath, "efi-volume"});
  EXPECT_EQ(Fwupd.Exit, 0) << Fwupd.Err;
  EXPECT_NE(Fwupd.Out.find("<type_name>te</type_name>"), std::string::npos) << Fwupd.Out;
  RunCommandLine("UEFIExtract", {FvPath, "report"});
  const std::string Listing = ReadText(FvPath + ".report.txt");
  EXPECT_NE(Listing.find("| TE image "), std::string::npos) << Listing;
}

TEST(ImageForms, TeHeadersOutOfRangeAreNamed) {
  const Bytes Te = ReadBytes(ARTIFACT_TE);
  struct Case {
    const char *Name;
    std::uint32_t At, Size;
    std::uint64_t Value;
    const char *Words;
  } Cases[] = {
      {"signature", te::Signature, 2, 0x5A4D, "no PE signature"},  // "MZ": read as a PE32 image, which it is not
      {"signature-vy", te::Signature, 2, 0x5956, "not a PE32 or TE image, PEIM file or firmware volume"},
      {"stripped-small", te::StrippedSize, 2, 0xB7, "TE StrippedSize 0xB7 is out of range (0xB8 to 0xF0"},
      {"stripped-large", te::StrippedSize, 2, 0xF1, "TE StrippedSize 0xF1 is out of range (0xB8 to 0xF0"},
      {"no-sections", te::NumberOfSections, 1, 0, "NumberOfSections 0 is out of range"},
      {"entry-outside", te::AddressOfEntryPoint, 4, 0x1000, "AddressOfEntryPoint 0x1000 lies outside"},
      {"relocations-outside", te::RelocationDirectory, 4, 0xFF0, "base relocation directory (RVA 0xFF0"},
  };
  for (const Case &Each : Cases) {
    SCOPED_TRACE(Each.Name);
    Bytes Broken = Te;
    WriteLe(&Broken.at(Each.At), Each.Size, Each.Value);
    const CommandResult Inspect = PeiSim({"inspect", WriteScratchImage(std::string(Each.Name) + ".te", Broken, MODULE_IMAGE)});
    EXPECT_EQ(Inspect.Exit, 1);
    EXPECT_NE(Inspect.Err.find(Each.Words), std::string::npos) << Inspect.Err;
  }
}

}  // namespace
