// The layout library on bytes built here: each bound at its edge (the last
// value that passes and the first that fails), the dependency expression
// stack at its limits, and a text for every check.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "Layout/Depex.h"
#include "Layout/FirmwareFile.h"
#include "Layout/FirmwareVolume.h"
#include "Layout/Guids.h"
#include "Layout/LittleEndian.h"
#include "Layout/Pe32.h"
#include "Library/PiLayoutLib.h"

namespace {

using Bytes = std::vector<UINT8>;

// A file of Size bytes at the start of Out: a header with a good checksum and
// no file checksum, its data zero.
Bytes FileOf(UINT32 Size, UINT8 Type = firmware_file::kTypePeim) {
  Bytes Out(Size, 0);
  Out[firmware_file::Type] = Type;
  Out[firmware_file::FileChecksum] = firmware_file::kNoFileChecksum;
  Out[firmware_file::State] = firmware_file::kStateValid;
  WriteLe(&Out[firmware_file::Size], 3, Size);
  UINT32 Sum = 0;
  for (UINT32 Index = 0; Index < firmware_file::HeaderSize; Index++) {
    if (Index != firmware_file::FileChecksum && Index != firmware_file::State) {
      Sum += Out[Index];
    }
  }
  Out[firmware_file::HeaderChecksum] = static_cast<UINT8>(0x100 - (Sum & 0xFF));
  return Out;
}

// A volume of Length bytes (one block) holding Files, its free space erased.
Bytes VolumeOf(UINT32 Length, const Bytes &Files = {}) {
  Bytes Out(Length, firmware_file::kErased);
  std::fill(Out.begin(), Out.begin() + volume::MinHeaderLength, 0);
  const GUID_BYTES Ffs2 = GuidBytes(gFfs2FileSystemGuid);
  std::copy(Ffs2.Bytes, Ffs2.Bytes + kGuidSize, Out.begin() + volume::FileSystemGuid);
  WriteLe(&Out[volume::FvLength], 8, Length);
  WriteLe(&Out[volume::Signature], 4, volume::kSignature);
  WriteLe(&Out[volume::HeaderLength], 2, volume::MinHeaderLength);
  Out[volume::Revision] = volume::kRevision;
  WriteLe(&Out[volume::BlockMap + volume::BlockCount], 4, 1);
  WriteLe(&Out[volume::BlockMap + volume::BlockLength], 4, Length);
  UINT32 Sum = 0;
  for (UINT32 At = 0; At < volume::MinHeaderLength; At += 2) {
    Sum += ReadLe16(&Out[At]);
  }
  WriteLe(&Out[volume::Checksum], 2, (0x10000 - (Sum & 0xFFFF)) & 0xFFFF);
  std::copy(Files.begin(), Files.end(), Out.begin() + volume::MinHeaderLength);
  return Out;
}

UINT32 VolumeCheck(const Bytes &Volume, UINT32 Size) {
  VOLUME_INFO Info;
  LAYOUT_FAULT Fault;
  CheckVolumeHeader(Volume.data(), Size, Info, Fault);
  return Fault.Check;
}

TEST(PiLayout, VolumeLengthMayFillTheBytesButNotPassThem) {
  const Bytes Volume = VolumeOf(0x100);
  EXPECT_EQ(VolumeCheck(Volume, 0x100), LAYOUT_OK);
  EXPECT_EQ(VolumeCheck(Volume, 0xFF), FV_LENGTH);
  EXPECT_EQ(VolumeCheck(Volume, volume::MinHeaderLength - 1), FV_TOO_SHORT);
  Bytes Flipped = Volume;
  Flipped[volume::BlockMap] ^= 1;
  EXPECT_EQ(VolumeCheck(Flipped, 0x100), FV_CHECKSUM);
  EXPECT_TRUE(LooksLikeVolume(Volume.data(), volume::Signature + 4));
  EXPECT_FALSE(LooksLikeVolume(Volume.data(), volume::Signature + 3));
}

TEST(PiLayout, FilesAreWalkedAtEightByteBoundariesUntilFreeSpace) {
  Bytes Files = FileOf(0x1D);  // the next file starts 3 bytes of padding later
  Files.resize(0x20, 0);
  const Bytes Second = FileOf(0x18, firmware_file::kTypeRaw);
  Files.insert(Files.end(), Second.begin(), Second.end());
  const Bytes Volume = VolumeOf(0x100, Files);
  VOLUME_INFO Info;
  LAYOUT_FAULT Fault;
  ASSERT_TRUE(CheckVolumeHeader(Volume.data(), 0x100, Info, Fault));
  UINT32 Cursor = 0;
  FILE_INFO File;
  std::vector<UINT32> At;
  while (NextFile(Volume.data(), Info, Cursor, File, Fault)) {
    At.push_back(File.At);
  }
  EXPECT_EQ(Fault.Check, LAYOUT_OK);
  EXPECT_EQ(At, (std::vector<UINT32>{0x48, 0x68}));
  EXPECT_FALSE(FileHoldsSections(File));
}

TEST(PiLayout, FileSizeMayReachTheLimitButNotPassIt) {
  const Bytes File = FileOf(0x20);
  FILE_INFO Info;
  LAYOUT_FAULT Fault;
  EXPECT_TRUE(CheckFile(File.data(), 0, 0x20, Info, Fault));
  EXPECT_FALSE(CheckFile(File.data(), 0, 0x1F, Info, Fault));
  EXPECT_EQ(Fault.Check, FFS_SIZE);
  EXPECT_EQ(Fault.Value, 0x20u);
  EXPECT_EQ(Fault.High, 0x1Fu);
  EXPECT_FALSE(CheckFile(File.data(), 0, firmware_file::HeaderSize - 1, Info, Fault));
  EXPECT_EQ(Fault.Check, FFS_HEADER_CUT);
  Bytes Unset = File;
  Unset[firmware_file::FileChecksum] = 0;  // not counted in the header sum: only the 0xAA rule sees it
  EXPECT_FALSE(CheckFile(Unset.data(), 0, 0x20, Info, Fault));
  EXPECT_EQ(Fault.Check, FFS_DATA_SUM_UNSET);
}

TEST(PiLayout, SectionsFillTheFileAtFourByteBoundaries) {
  struct Case {
    UINT32 FileSize, SectionSize;
    UINT32 Check;
  } Cases[] = {{0x20, 8, LAYOUT_OK},
               {0x20, 3, SECTION_SIZE},
               {0x20, 9, SECTION_SIZE},
               {0x1B, 3, SECTION_CUT},  // 3 bytes left: no room for a header
               {0x20, section::kUseExtendedSize, SECTION_SIZE},  // extended size 0
               {0x1C, section::kUseExtendedSize, SECTION_EXT_CUT}};
  for (const Case &Each : Cases) {
    SCOPED_TRACE(Each.FileSize * 0x1000000 + Each.SectionSize);
    Bytes File = FileOf(Each.FileSize);
    if (Each.FileSize - firmware_file::HeaderSize >= 3) {
      WriteLe(&File[firmware_file::HeaderSize], 3, Each.SectionSize);
    }
    FILE_INFO Info;
    LAYOUT_FAULT Fault;
    ASSERT_TRUE(CheckFile(File.data(), 0, Each.FileSize, Info, Fault));
    UINT32 Cursor = 0;
    SECTION_INFO Section;
    while (NextSection(File.data(), Info, Cursor, Section, Fault)) {
    }
    EXPECT_EQ(Fault.Check, Each.Check);
  }
}

INT32 Evaluate(const Bytes &Expression, bool Installed, LAYOUT_FAULT &Fault) {
  auto Answer = Installed ? +[](const UINT8 *, void *) -> BOOLEAN { return true; }
                          : +[](const UINT8 *, void *) -> BOOLEAN { return false; };
  return EvaluateDepex(Expression.data(), static_cast<UINT32>(Expression.size()), Answer, nullptr, nullptr, Fault);
}

TEST(PiLayout, DependencyExpressionsHoldFailOrAreRefused) {
  Bytes Push(depex::kPushSize, 0);
  Push[0] = depex::kPush;
  auto Join = [](std::initializer_list<Bytes> Parts) {
    Bytes Out;
    for (const Bytes &Part : Parts) Out.insert(Out.end(), Part.begin(), Part.end());
    return Out;
  };
  const Bytes Full(depex::kMaxDepth, depex::kTrue), Over(depex::kMaxDepth + 1, depex::kTrue);
  Bytes Folded = Full;
  Folded.insert(Folded.end(), depex::kMaxDepth - 1, depex::kAnd);
  Folded.push_back(depex::kEnd);
  struct Case {
    const char *Name;
    Bytes Expression;
    bool Installed;
    INT32 Result;
    UINT32 Check;
  } Cases[] = {
      {"installed", Join({Push, {depex::kEnd}}), true, 1, LAYOUT_OK},
      {"missing", Join({Push, {depex::kEnd}}), false, 0, LAYOUT_OK},
      {"not missing", Join({Push, {depex::kNot, depex::kEnd}}), false, 1, LAYOUT_OK},
      {"or", Join({Push, {depex::kTrue, depex::kOr, depex::kEnd}}), false, 1, LAYOUT_OK},
      {"and", Join({Push, {depex::kTrue, depex::kAnd, depex::kEnd}}), false, 0, LAYOUT_OK},
      {"64 values", Folded, true, 1, LAYOUT_OK},
      {"65 values", Over, true, -1, DEPEX_OVERFLOW},
      {"cut push", Bytes(Push.begin(), Push.end() - 1), true, -1, DEPEX_PUSH_CUT},
      {"and of one", {depex::kTrue, depex::kAnd, depex::kEnd}, true, -1, DEPEX_UNDERFLOW},
      {"two at end", {depex::kTrue, depex::kTrue, depex::kEnd}, true, -1, DEPEX_END_DEPTH},
      {"before", {depex::kBefore}, true, -1, DEPEX_NOT_IN_PEI},
      {"sor", {depex::kSor}, true, -1, DEPEX_NOT_IN_PEI},
      {"unknown", {0x0A}, true, -1, DEPEX_UNKNOWN},
      {"no end", {depex::kTrue}, true, -1, DEPEX_NO_END},
  };
  for (const Case &Each : Cases) {
    SCOPED_TRACE(Each.Name);
    LAYOUT_FAULT Fault;
    EXPECT_EQ(Evaluate(Each.Expression, Each.Installed, Fault), Each.Result);
    EXPECT_EQ(Fault.Check, Each.Check);
  }
}

TEST(PiLayout, EveryCheckHasItsOwnText) {
  std::set<std::string> Texts;
  for (UINT32 Check = 0; Check < LAYOUT_CHECK_COUNT; Check++) {
    Texts.insert(LayoutCheckText(Check));
  }
  EXPECT_EQ(Texts.size(), static_cast<std::size_t>(LAYOUT_CHECK_COUNT));
  EXPECT_STREQ(LayoutCheckText(FFS_SIZE), "file size out of range");
  EXPECT_STREQ(LayoutCheckText(LAYOUT_CHECK_COUNT), "unknown layout check");
}

}  // namespace
