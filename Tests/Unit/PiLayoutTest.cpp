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

// The header checksum set anew after a field was changed (over HeaderLength
// bytes, or Length when given).
void Resum(Bytes &Volume, UINT32 Length = 0) {
  WriteLe(&Volume[volume::Checksum], 2, 0);
  const UINT32 HeaderLength = Length != 0 ? Length : ReadLe16(&Volume[volume::HeaderLength]);
  UINT32 Sum = 0;
  for (UINT32 At = 0; At + 2 <= HeaderLength; At += 2) {
    Sum += ReadLe16(&Volume[At]);
  }
  WriteLe(&Volume[volume::Checksum], 2, (0x10000 - (Sum & 0xFFFF)) & 0xFFFF);
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

// Each field of the header at its limit: the last value that passes and the
// first that fails.
TEST(PiLayout, VolumeHeaderFieldsAtTheirLimits) {
  struct Case {
    const char *Name;
    UINT32 At, Size;
    UINT64 Value;
    UINT32 Check;
  } Cases[] = {
      {"revision 2", volume::Revision, 1, 2, LAYOUT_OK},
      {"revision 1", volume::Revision, 1, 1, FV_REVISION},
      {"revision 3", volume::Revision, 1, 3, FV_REVISION},
      {"length of the header alone", volume::FvLength, 8, volume::MinHeaderLength, LAYOUT_OK},
      {"length below a header", volume::FvLength, 8, volume::MinHeaderLength - 1, FV_LENGTH},
      {"header length 0x4A", volume::HeaderLength, 2, volume::MinHeaderLength + 2, LAYOUT_OK},
      {"header length odd", volume::HeaderLength, 2, volume::MinHeaderLength + 1, FV_HEADER_LENGTH},
      {"header length below a block map", volume::HeaderLength, 2, volume::MinHeaderLength - 2, FV_HEADER_LENGTH},
      {"header length of the volume", volume::HeaderLength, 2, 0x100, LAYOUT_OK},
      {"header length past the volume", volume::HeaderLength, 2, 0x102, FV_HEADER_LENGTH},
      {"an extended header", volume::ExtHeaderOffset, 2, 0x48, FV_EXT_HEADER},
      {"blocks that just cover it", volume::BlockMap + volume::BlockLength, 4, 0x100, LAYOUT_OK},
      {"blocks a byte short", volume::BlockMap + volume::BlockLength, 4, 0xFF, FV_BLOCK_MAP},
      {"no blocks", volume::BlockMap + volume::BlockCount, 4, 0, FV_BLOCK_MAP},
  };
  for (const Case &Each : Cases) {
    SCOPED_TRACE(Each.Name);
    Bytes Volume = VolumeOf(0x100);
    WriteLe(&Volume[Each.At], Each.Size, Each.Value);
    if (Each.At == volume::FvLength) {
      WriteLe(&Volume[volume::BlockMap + volume::BlockLength], 4, Each.Value);  // the blocks follow the length
    }
    // The checksum over what the header says it is, so that the field itself is judged.
    const UINT32 HeaderLength = ReadLe16(&Volume[volume::HeaderLength]);
    Resum(Volume, HeaderLength <= 0x100 && HeaderLength >= volume::MinHeaderLength ? HeaderLength & ~1u
                                                                                   : volume::MinHeaderLength);
    EXPECT_EQ(VolumeCheck(Volume, 0x100), Each.Check);
  }
}

// Only an FFS2 volume's files are walked: another file system's bytes are
// not files of ours.
TEST(PiLayout, AVolumeOfAnotherFileSystemHoldsNoFilesWeWalk) {
  Bytes Volume = VolumeOf(0x100, FileOf(0x20));
  Volume[volume::FileSystemGuid] ^= 1;
  Resum(Volume);
  VOLUME_INFO Info;
  LAYOUT_FAULT Fault;
  ASSERT_TRUE(CheckVolumeHeader(Volume.data(), 0x100, Info, Fault));
  EXPECT_FALSE(Info.Ffs2);
  UINT32 Cursor = 0;
  FILE_INFO File;
  EXPECT_FALSE(NextFile(Volume.data(), Info, Cursor, File, Fault));
  EXPECT_EQ(Fault.Check, LAYOUT_OK);
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

// A file's Size counts its header: 24 bytes is an empty file, 23 is none.
TEST(PiLayout, AFileIsAtLeastItsHeader) {
  for (const auto &[Size, Check] : {std::pair{0x18u, LAYOUT_OK}, {0x17u, FFS_SIZE}, {0x00u, FFS_SIZE}}) {
    SCOPED_TRACE(Size);
    Bytes File = FileOf(0x20);
    WriteLe(&File[firmware_file::Size], 3, Size);
    File[firmware_file::HeaderChecksum] = 0;
    File[firmware_file::HeaderChecksum] = static_cast<UINT8>(0x100 - FileHeaderSum(File.data(), firmware_file::HeaderSize));
    FILE_INFO Info;
    LAYOUT_FAULT Fault;
    CheckFile(File.data(), 0, 0x20, Info, Fault);
    EXPECT_EQ(Fault.Check, Check);
    if (Check == FFS_SIZE) {
      EXPECT_EQ(Fault.Low, firmware_file::HeaderSize);
    }
  }
}

// A large file's header is 32 bytes, its size the 64-bit field after it.
TEST(PiLayout, ALargeFileHeaderMustFitAndSumsOverAllItsBytes) {
  Bytes File(0x40, 0);
  File[firmware_file::Type] = firmware_file::kTypeRaw;
  File[firmware_file::Attributes] = firmware_file::kAttributeLargeFile;
  File[firmware_file::FileChecksum] = firmware_file::kNoFileChecksum;
  WriteLe(&File[firmware_file::ExtendedSize], 8, 0x40);
  File[firmware_file::HeaderChecksum] = static_cast<UINT8>(0x100 - FileHeaderSum(File.data(), firmware_file::LargeHeaderSize));
  FILE_INFO Info;
  LAYOUT_FAULT Fault;
  ASSERT_TRUE(CheckFile(File.data(), 0, 0x40, Info, Fault)) << LayoutCheckText(Fault.Check);
  EXPECT_EQ(Info.HeaderSize, firmware_file::LargeHeaderSize);
  EXPECT_EQ(Info.Size, 0x40u);
  // 31 bytes hold a file header but not a large one.
  EXPECT_FALSE(CheckFile(File.data(), 0, firmware_file::LargeHeaderSize - 1, Info, Fault));
  EXPECT_EQ(Fault.Check, FFS_HEADER_CUT);
  EXPECT_EQ(Fault.Value, firmware_file::LargeHeaderSize);
  // The extended size is in the header sum.
  File[firmware_file::ExtendedSize + 7] = 1;
  EXPECT_FALSE(CheckFile(File.data(), 0, 0x40, Info, Fault));
  EXPECT_EQ(Fault.Check, FFS_SIZE);
  File[firmware_file::ExtendedSize + 7] = 0;
  File[firmware_file::ExtendedSize + 1] = 1;  // 0x140: past the limit, and the sum off
  EXPECT_FALSE(CheckFile(File.data(), 0, 0x40, Info, Fault));
  EXPECT_EQ(Fault.Check, FFS_SIZE);
  WriteLe(&File[firmware_file::ExtendedSize], 8, 0x38);
  EXPECT_FALSE(CheckFile(File.data(), 0, 0x40, Info, Fault));
  EXPECT_EQ(Fault.Check, FFS_HEADER_SUM);
}

// With the CHECKSUM attribute the data's bytes and the file checksum sum to 0.
TEST(PiLayout, TheFileChecksumCoversTheDataWhenAsked) {
  Bytes File = FileOf(0x20);
  File[firmware_file::Attributes] = firmware_file::kAttributeChecksum;
  File[0x18] = 0x12;
  File[0x1F] = 0x34;
  File[firmware_file::FileChecksum] = static_cast<UINT8>(0x100 - 0x46);
  File[firmware_file::HeaderChecksum] = 0;
  File[firmware_file::HeaderChecksum] = static_cast<UINT8>(0x100 - FileHeaderSum(File.data(), firmware_file::HeaderSize));
  FILE_INFO Info;
  LAYOUT_FAULT Fault;
  EXPECT_TRUE(CheckFile(File.data(), 0, 0x20, Info, Fault)) << LayoutCheckText(Fault.Check);
  File[0x1F]++;  // the last data byte is counted
  EXPECT_FALSE(CheckFile(File.data(), 0, 0x20, Info, Fault));
  EXPECT_EQ(Fault.Check, FFS_DATA_SUM);
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
               {0x1C, section::kUseExtendedSize, SECTION_EXT_CUT},
               {0x1F, section::kUseExtendedSize, SECTION_EXT_CUT}};  // 7 bytes: one short of an extended header
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

// An extended header: the 32-bit size after the marker counts both headers.
TEST(PiLayout, AnExtendedSectionThatHoldsIsWalkedPast) {
  Bytes File = FileOf(0x30);
  WriteLe(&File[0x18], 3, section::kUseExtendedSize);
  File[0x18 + section::Type] = section::kPe32;
  WriteLe(&File[0x18 + section::ExtendedSize], 4, 0x0C);
  WriteLe(&File[0x24], 3, 0x0C);  // a plain section after it, to the end of the file
  FILE_INFO Info;
  LAYOUT_FAULT Fault;
  ASSERT_TRUE(CheckFile(File.data(), 0, 0x30, Info, Fault));
  UINT32 Cursor = 0;
  SECTION_INFO Section;
  std::vector<std::pair<UINT32, UINT32>> Seen;
  while (NextSection(File.data(), Info, Cursor, Section, Fault)) {
    Seen.push_back({Section.Offset, Section.HeaderSize});
  }
  EXPECT_EQ(Fault.Check, LAYOUT_OK);
  EXPECT_EQ(Seen, (std::vector<std::pair<UINT32, UINT32>>{{0x18, 8}, {0x24, 4}}));
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
  Bytes Pushes, PushesOver;
  for (UINT32 Index = 0; Index < depex::kMaxDepth; Index++) {
    Pushes.insert(Pushes.end(), Push.begin(), Push.end());
  }
  PushesOver = Pushes;
  PushesOver.insert(PushesOver.end(), Push.begin(), Push.end());
  Pushes.insert(Pushes.end(), depex::kMaxDepth - 1, depex::kOr);
  Pushes.push_back(depex::kEnd);
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
      {"64 pushes", Pushes, true, 1, LAYOUT_OK},
      {"65 pushes", PushesOver, true, -1, DEPEX_OVERFLOW},
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
