// The module as platform firmware takes it: the PEIM file and the volume,
// judged by fwupd's parser as well as our own, the dependency expression
// evaluator, and dispatch by pei-sim run.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "CommandRun.h"
#include "FirmwarePacking.h"
#include "Layout/LittleEndian.h"
#include "Scratch.h"
#include "TestFiles.h"

namespace {

std::vector<std::string> SectionTypesInOrder(const std::string &Xml) {
  std::vector<std::string> Types;
  for (std::size_t At = Xml.find("<type_name>"); At != std::string::npos; At = Xml.find("<type_name>", At + 1)) {
    Types.push_back(Xml.substr(At + 11, Xml.find('<', At + 11) - At - 11));
  }
  return Types;
}

TEST(Packaging, FwupdFindsThePeimTheSectionsAndThePe32) {
  for (const auto &[Artifact, Type] : {std::pair{std::string(ARTIFACT_FFS), "efi-file"}, {ARTIFACT_FV, "efi-volume"}}) {
    SCOPED_TRACE(Artifact);
    const CommandResult Parse = RunCommandLine("fwupdtool", {"firmware-parse", Artifact, Type});
    ASSERT_EQ(Parse.Exit, 0) << Parse.Err;
    EXPECT_NE(Parse.Out.find("<id>7f3c2a91-5b4e-4d6a-8c1f-2e9b0d4a6c35</id>"), std::string::npos) << Parse.Out;
    EXPECT_NE(Parse.Out.find("<user_interface>SocPreInit</user_interface>"), std::string::npos);
    const std::vector<std::string> Expected = {"peim", "pei-depex", "pe32", "user-interface", "version"};
    EXPECT_EQ(SectionTypesInOrder(Parse.Out), Expected);
    if (std::string(Type) == "efi-volume") {
      EXPECT_NE(Parse.Out.find("<name>Volume:Ffs2</name>"), std::string::npos);
    }
  }
  // The PE32 section is the image, byte for byte.
  const std::string Folder = ScratchPath("fwupd-extract");
  const CommandResult Extract = RunCommandLine(
      "sh", {"-c", "rm -rf '" + Folder + "' && mkdir -p '" + Folder + "' && cd '" + Folder +
                       "' && fwupdtool firmware-extract '" + ARTIFACT_FFS + "' efi-file"});
  ASSERT_EQ(Extract.Exit, 0) << Extract.Err;
  EXPECT_EQ(ReadBytes(Folder + "/img-0x1.fw"), ReadBytes(MODULE_IMAGE));
}

TEST(Packaging, AHeaderChecksumOffByOneIsRefusedByFwupdAndInspect) {
  std::vector<std::uint8_t> File = ReadBytes(ARTIFACT_FFS);
  File.at(firmware_file::HeaderChecksum)++;
  const std::string BadFile = WriteScratchFile("bad-checksum.ffs", File);
  EXPECT_NE(RunCommandLine("fwupdtool", {"firmware-parse", BadFile, "efi-file"}).Exit, 0);
  const CommandResult Inspect = PeiSim({"inspect", BadFile});
  EXPECT_EQ(Inspect.Exit, 1);
  EXPECT_NE(Inspect.Err.find("header checksum"), std::string::npos) << Inspect.Err;

  std::vector<std::uint8_t> Volume = ReadBytes(ARTIFACT_FV);
  Volume.at(volume::Checksum)++;
  const std::string BadVolume = WriteScratchFile("bad-checksum.fv", Volume);
  EXPECT_NE(RunCommandLine("fwupdtool", {"firmware-parse", BadVolume, "efi-volume"}).Exit, 0);
  EXPECT_EQ(PeiSim({"inspect", BadVolume}).Exit, 1);
  EXPECT_EQ(PeiSim({"run", "--image", BadVolume}).Exit, 4);
}

// UEFITool's extractor judges the volume (it does not parse a PEIM file on
// its own: fwupd judges that). It always exits 0, so its words are read.
CommandResult UefiExtractReport(const std::string &Volume) {
  CommandResult Result = RunCommandLine("UEFIExtract", {Volume, "report"});
  Result.Out += ReadText(Volume + ".report.txt");
  return Result;
}

TEST(Packaging, UefiToolListsTheVolumeAndNamesABadFileChecksum) {
  const CommandResult Good = UefiExtractReport(WriteScratchFile("uefitool.fv", ReadBytes(ARTIFACT_FV)));
  for (const char *Row : {"| PEI module            | 00000048 |", "7F3C2A91-5B4E-4D6A-8C1F-2E9B0D4A6C35 | SocPreInit",
                          "| PEI dependency        | 00000060 |", "| PE32 image            | 00000078 |",
                          "| UI                    |", "| Version               |"}) {
    EXPECT_NE(Good.Out.find(Row), std::string::npos) << Row << "\n" << Good.Out;
  }
  EXPECT_EQ((Good.Out + Good.Err).find("invalid"), std::string::npos) << Good.Out << Good.Err;

  std::vector<std::uint8_t> Volume = ReadBytes(ARTIFACT_FV);
  Volume.at(volume::MinHeaderLength + firmware_file::HeaderChecksum)++;
  const CommandResult Bad = UefiExtractReport(WriteScratchFile("uefitool-bad.fv", Volume));
  EXPECT_NE((Bad.Out + Bad.Err).find("invalid header checksum"), std::string::npos) << Bad.Out << Bad.Err;
}

TEST(Packaging, HeaderChecksumsMatchTheKnownVectors) {
  // 1B45CC0A-156A-428A-AF62-49864DA0E6E6, PEIM, size 0x169E, state F8, file
  // checksum AA: the header checksum is 0x2C.
  const std::vector<std::uint8_t> Header = {0x0A, 0xCC, 0x45, 0x1B, 0x6A, 0x15, 0x8A, 0x42, 0xAF, 0x62, 0x49, 0x86,
                                            0x4D, 0xA0, 0xE6, 0xE6, 0x00, 0xAA, 0x06, 0x00, 0x9E, 0x16, 0x00, 0xF8};
  EXPECT_EQ(FileHeaderChecksum(Header), 0x2C);
  // FFS2, FvLength 0x2000, attributes 0x0004FEFF, one run of two 4 KiB blocks:
  // the volume header checksum is 0xC6CD.
  std::string Error;
  const auto Volume = BuildVolume(*BuildPeimFile(ReadBytes(MODULE_IMAGE), "SocPreInit", "0.9.0", Error), Error);
  ASSERT_TRUE(Volume) << Error;
  ASSERT_EQ(Volume->size(), 0x2000u);
  EXPECT_EQ((*Volume)[0x32] | (*Volume)[0x33] << 8, 0xC6CD);
  EXPECT_TRUE(ParseFirmwareVolume(*Volume, Error)) << Error;
}

TEST(Packaging, DependencyExpressionsEvaluateAndMalformedOnesAreRefused) {
  auto Push = [](const Guid16 &Guid) {
    std::vector<std::uint8_t> Bytes = {depex::kPush};
    Bytes.insert(Bytes.end(), Guid.begin(), Guid.end());
    return Bytes;
  };
  auto Join = [](std::initializer_list<std::vector<std::uint8_t>> Parts) {
    std::vector<std::uint8_t> All;
    for (const auto &Part : Parts) {
      All.insert(All.end(), Part.begin(), Part.end());
    }
    return All;
  };
  const Guid16 Other = *GuidFromText("7408D748-FC8C-4EE6-9288-C4BEC092A410");
  const std::vector<Guid16> Installed = {kBusInfoPpiGuid};
  struct Case {
    std::vector<std::uint8_t> Expression;
    bool Valid, Satisfied;
    const char *Words;
  };
  const Case Cases[] = {
      {ModuleDependencyExpression(), true, true, "PUSH 4B0165A9-61D6-4E23-A0B5-3EC79C2E30D5 (BUS_INFO_PPI); END"},
      {Join({Push(kBusInfoPpiGuid), Push(Other), {depex::kAnd, depex::kEnd}}), true, false, "AND; END"},
      {Join({Push(kBusInfoPpiGuid), Push(Other), {depex::kOr, depex::kEnd}}), true, true, "OR; END"},
      {Join({Push(Other), {depex::kNot, depex::kEnd}}), true, true, "NOT; END"},
      {{depex::kTrue, depex::kFalse, depex::kAnd, depex::kEnd}, true, false, "TRUE; FALSE; AND; END"},
      {{depex::kAnd, depex::kEnd}, false, false, "AND with 0 value(s) on the stack (stack underflow) at byte 0"},
      {{depex::kTrue, depex::kOr, depex::kEnd}, false, false, "OR with 1 value(s) on the stack (stack underflow) at byte 1"},
      {{depex::kNot, depex::kEnd}, false, false, "NOT with an empty stack (stack underflow) at byte 0"},
      {{depex::kTrue, depex::kTrue, depex::kEnd}, false, false, "END with 2 values"},
      {{depex::kTrue}, false, false, "no END"},
      {{depex::kPush, 0xA9, 0x65}, false, false, "truncated GUID at byte 0"},
      {{depex::kSor, depex::kTrue, depex::kEnd}, false, false, "(SOR) is not allowed in a PEI expression"},
      {{depex::kBefore}, false, false, "(BEFORE) is not allowed"},
      {{0x42, depex::kEnd}, false, false, "unknown opcode 0x42"},
      {std::vector<std::uint8_t>(65, depex::kTrue), false, false, "stack overflow"},
  };
  for (const Case &Each : Cases) {
    const DepexResult Result = EvaluateDependencyExpression(Each.Expression, Installed);
    EXPECT_EQ(Result.Valid, Each.Valid) << Each.Words;
    EXPECT_EQ(Result.Satisfied, Each.Satisfied) << Each.Words;
    EXPECT_NE((Result.Valid ? Result.Text : Result.Error).find(Each.Words), std::string::npos)
        << Each.Words << " | " << Result.Text << " | " << Result.Error;
  }
}

// A fault inside any file is the volume's fault, not only in its last file.
TEST(Packaging, ASectionFaultInAnEarlierFileIsTheVolumesFault) {
  std::string Error;
  const auto File = BuildPeimFile(ReadBytes(MODULE_IMAGE), "SocPreInit", "1", Error);
  ASSERT_TRUE(File) << Error;
  const auto Raw = BuildRawFile(kBusInfoPpiGuid, {1, 2, 3}, Error);
  ASSERT_TRUE(Raw) << Error;
  std::vector<std::uint8_t> Broken = *File;
  WriteLe(&Broken[firmware_file::HeaderSize + section::Size], 3, 3);  // the first section's size below its header
  const std::size_t Second = (volume::MinHeaderLength + Broken.size() + 7) & ~std::size_t{7};
  const auto Volume = BuildVolumeOf({{volume::MinHeaderLength, Broken}, {Second, *Raw}}, 0x2000, Error);
  ASSERT_TRUE(Volume) << Error;
  EXPECT_FALSE(ParseFirmwareVolume(*Volume, Error));
  EXPECT_EQ(Error, "file at 0x48: section at file offset 0x18 has size 0x3 (0x4 to 0x1042)");
}

TEST(Packaging, RunDispatchesAsAPeiDispatcherWould) {
  const CommandResult Image = PeiSim({"run", "--image", MODULE_IMAGE});
  for (const char *Artifact : {ARTIFACT_FFS, ARTIFACT_FV}) {
    SCOPED_TRACE(Artifact);
    const CommandResult Run = PeiSim({"run", "--image", Artifact});
    EXPECT_EQ(Run.Exit, 0);
    EXPECT_EQ(Run.Out, Image.Out);  // with the PPI installed, exactly today's run
    const CommandResult Missing = PeiSim({"run", "--image", Artifact, "--no-ppi"});
    EXPECT_EQ(Missing.Exit, 5);
    EXPECT_EQ(Missing.Out.find("out"), Missing.Out.find("outcome"));  // no port, load or store at all
    EXPECT_NE(Missing.Out.find("not dispatched: its dependency expression (PUSH 4B0165A9-61D6-4E23-A0B5-3EC79C2E30D5 "
                               "(BUS_INFO_PPI); END) does not hold; not installed: 4B0165A9"),
              std::string::npos) << Missing.Out;
    EXPECT_EQ(PeiSim({"run", "--image", Artifact, "--no-ppi", "--ignore-depex"}).Exit, 3);  // the module's own path
  }
}

TEST(Packaging, ArtifactsAreReproducible) {
  // The IA-32 side and the packing step again, in a fresh folder: the same
  // bytes, also with the less optimised debug copy of the module built beside.
  const std::string Folder = ScratchPath("reproduce");
  const CommandResult Build = RunCommandLine(
      "sh", {"-c", "rm -rf '" + Folder + "' && cmake -S '" SOC_SOURCE_DIR "' -B '" + Folder +
                       "' -G Ninja -DSOC_ARTIFACTS_ONLY=ON -DSOC_IA32_DEBUG_OPTIMIZE=-Og >/dev/null && cmake --build '" + Folder +
                       "' --target socpreinit_package socpreinit_rom debug_level_image engine_test_image "
                       "socpreinit_debug_image >/dev/null"});
  ASSERT_EQ(Build.Exit, 0) << Build.Out << Build.Err;
  EXPECT_EQ(ReadBytes(Folder + "/SocPreInit.efi"), ReadBytes(MODULE_IMAGE));
  EXPECT_EQ(ReadBytes(Folder + "/SocPreInit.ffs"), ReadBytes(ARTIFACT_FFS));
  EXPECT_EQ(ReadBytes(Folder + "/SocPreInit.fv"), ReadBytes(ARTIFACT_FV));
  EXPECT_EQ(ReadBytes(Folder + "/SocPreInit.rom"), ReadBytes(ARTIFACT_ROM));
  EXPECT_EQ(ReadBytes(Folder + "/Tests/SocPreInitDebug.efi"), ReadBytes(DEBUG_LEVEL_IMAGE));
  EXPECT_EQ(ReadBytes(Folder + "/Tests/EngineTest.efi"), ReadBytes(ENGINE_IMAGE));
  // The symbol files name no path of the build folder or the checkout.
  const std::string Module = MODULE_IMAGE, Debug = DEBUG_LEVEL_IMAGE;
  EXPECT_EQ(ReadBytes(Folder + "/SocPreInit.debug"), ReadBytes(Module.substr(0, Module.size() - 4) + ".debug"));
  EXPECT_EQ(ReadBytes(Folder + "/Tests/SocPreInitDebug.debug"), ReadBytes(Debug.substr(0, Debug.size() - 4) + ".debug"));
  // The -Og copy: other code, its own symbol file, and it runs as the module does.
  const std::string LessOptimised = Folder + "/Debug/SocPreInit.efi";
  EXPECT_NE(ReadBytes(LessOptimised), ReadBytes(MODULE_IMAGE));
  EXPECT_FALSE(ReadBytes(Folder + "/Debug/SocPreInit.debug").empty());
  const CommandResult Run = PeiSim({"run", "--image", LessOptimised});
  EXPECT_EQ(Run.Exit, 0) << Run.Out << Run.Err;
  EXPECT_NE(Run.Out.find("outcome: ModuleEntry returned 0x00000000 (Success)"), std::string::npos) << Run.Out;
  RunCommandLine("rm", {"-rf", Folder});
}

}  // namespace
