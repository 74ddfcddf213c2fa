// Firmware volumes, the files in them and the sections in the files.
#include "Layout/FirmwareFile.h"
#include "Layout/FirmwareVolume.h"
#include "Layout/Guids.h"
#include "Layout/LittleEndian.h"
#include "Library/PiLayoutLib.h"


namespace {

BOOLEAN Refuse(LAYOUT_FAULT &Fault, UINT32 Check, UINT64 At, UINT64 Value, UINT64 Low = 0, UINT64 High = 0) {
  Fault = {Check, At, 0, Value, Low, High};
  return false;
}

BOOLEAN End(LAYOUT_FAULT &Fault) {
  Fault = {LAYOUT_OK, 0, 0, 0, 0, 0};
  return false;
}

}  // namespace

UINT8 FileHeaderSum(const UINT8 *Header, UINT32 HeaderSize) {
  UINT32 Sum = 0;
  for (UINT32 Index = 0; Index < HeaderSize; Index++) {
    if (Index != firmware_file::FileChecksum && Index != firmware_file::State) {
      Sum += Header[Index];
    }
  }
  return static_cast<UINT8>(Sum);
}

UINT16 VolumeHeaderSum(const UINT8 *Header, UINT32 HeaderLength) {
  UINT32 Sum = 0;
  for (UINT32 At = 0; At + 2 <= HeaderLength; At += 2) {
    Sum += ReadLe16(Header + At);
  }
  return static_cast<UINT16>(Sum);
}

BOOLEAN VolumeBlockAt(const UINT8 *Bytes, UINT32 HeaderLength, UINT32 Index, UINT32 &Count, UINT32 &Length) {
  const UINT64 At = volume::BlockMap + static_cast<UINT64>(Index) * volume::BlockEntrySize;
  if (At + volume::BlockEntrySize > HeaderLength) {
    return false;
  }
  Count = ReadLe32(Bytes + At + volume::BlockCount);
  Length = ReadLe32(Bytes + At + volume::BlockLength);
  return Count != 0 || Length != 0;
}

BOOLEAN LooksLikeVolume(const UINT8 *Bytes, UINT32 Size) {
  return Size >= volume::Signature + 4 && ReadLe32(Bytes + volume::Signature) == volume::kSignature;
}

BOOLEAN CheckVolumeHeader(const UINT8 *Bytes, UINT32 Size, VOLUME_INFO &Volume, LAYOUT_FAULT &Fault) {
  if (Size < volume::MinHeaderLength) {
    return Refuse(Fault, FV_TOO_SHORT, 0, Size);
  }
  const UINT32 Signature = ReadLe32(Bytes + volume::Signature);
  if (Signature != volume::kSignature) {
    return Refuse(Fault, FV_SIGNATURE, 0, Signature);
  }
  Volume.Revision = Bytes[volume::Revision];
  if (Volume.Revision != volume::kRevision) {
    return Refuse(Fault, FV_REVISION, 0, Volume.Revision);
  }
  const UINT64 Length = ReadLe64(Bytes + volume::FvLength);
  if (Length < volume::MinHeaderLength || Length > Size) {
    return Refuse(Fault, FV_LENGTH, 0, Length, volume::MinHeaderLength, Size);
  }
  Volume.Length = static_cast<UINT32>(Length);
  Volume.HeaderLength = ReadLe16(Bytes + volume::HeaderLength);
  if (Volume.HeaderLength < volume::MinHeaderLength || Volume.HeaderLength % 2 != 0 ||
      Volume.HeaderLength > Volume.Length) {
    return Refuse(Fault, FV_HEADER_LENGTH, 0, Volume.HeaderLength, volume::MinHeaderLength, Volume.Length);
  }
  const UINT16 ExtHeader = ReadLe16(Bytes + volume::ExtHeaderOffset);
  if (ExtHeader != 0) {
    return Refuse(Fault, FV_EXT_HEADER, 0, ExtHeader);
  }
  Volume.Checksum = ReadLe16(Bytes + volume::Checksum);
  const UINT16 Sum = VolumeHeaderSum(Bytes, Volume.HeaderLength);
  if (Sum != 0) {
    return Refuse(Fault, FV_CHECKSUM, 0, Volume.Checksum, Sum);
  }
  // The blocks must cover the volume; counting stops once they do, so no
  // number of entries can make the sum wrap.
  UINT64 Covered = 0;
  UINT32 Count, BlockLength;
  for (UINT32 Index = 0; Covered < Length && VolumeBlockAt(Bytes, Volume.HeaderLength, Index, Count, BlockLength);
       Index++) {
    Covered += static_cast<UINT64>(Count) * BlockLength;
  }
  if (Covered < Length) {
    return Refuse(Fault, FV_BLOCK_MAP, 0, Covered, 0, Length);
  }
  Volume.Attributes = ReadLe32(Bytes + volume::Attributes);
  const GUID_BYTES Ffs2 = GuidBytes(gFfs2FileSystemGuid);
  Volume.Ffs2 = SameGuid(Bytes + volume::FileSystemGuid, Ffs2.Bytes);
  Fault = {LAYOUT_OK, 0, 0, 0, 0, 0};
  return true;
}

BOOLEAN CheckFile(const UINT8 *Bytes, UINT32 At, UINT32 Limit, FILE_INFO &File, LAYOUT_FAULT &Fault) {
  if (At > Limit || Limit - At < firmware_file::HeaderSize) {
    return Refuse(Fault, FFS_HEADER_CUT, At, firmware_file::HeaderSize);
  }
  const UINT8 *Header = Bytes + At;
  File.At = At;
  File.HeaderChecksum = Header[firmware_file::HeaderChecksum];
  File.FileChecksum = Header[firmware_file::FileChecksum];
  File.Type = Header[firmware_file::Type];
  File.Attributes = Header[firmware_file::Attributes];
  File.State = Header[firmware_file::State];
  UINT64 Size = ReadLe24(Header + firmware_file::Size);
  File.HeaderSize = firmware_file::HeaderSize;
  if ((File.Attributes & firmware_file::kAttributeLargeFile) != 0) {
    if (Limit - At < firmware_file::LargeHeaderSize) {
      return Refuse(Fault, FFS_HEADER_CUT, At, firmware_file::LargeHeaderSize);
    }
    Size = ReadLe64(Header + firmware_file::ExtendedSize);
    File.HeaderSize = firmware_file::LargeHeaderSize;
  }
  if (Size < File.HeaderSize || Size > Limit - At) {
    return Refuse(Fault, FFS_SIZE, At, Size, File.HeaderSize, Limit - At);
  }
  File.Size = static_cast<UINT32>(Size);
  const UINT8 Sum = FileHeaderSum(Header, File.HeaderSize);
  if (Sum != 0) {
    return Refuse(Fault, FFS_HEADER_SUM, At, File.HeaderChecksum, Sum);
  }
  if ((File.Attributes & firmware_file::kAttributeChecksum) != 0) {
    UINT32 DataSum = File.FileChecksum;
    for (UINT32 Index = File.HeaderSize; Index < File.Size; Index++) {
      DataSum += Header[Index];
    }
    if (static_cast<UINT8>(DataSum) != 0) {
      return Refuse(Fault, FFS_DATA_SUM, At, File.FileChecksum);
    }
  } else if (File.FileChecksum != firmware_file::kNoFileChecksum) {
    return Refuse(Fault, FFS_DATA_SUM_UNSET, At, File.FileChecksum);
  }
  Fault = {LAYOUT_OK, 0, 0, 0, 0, 0};
  return true;
}

BOOLEAN NextFile(const UINT8 *Bytes, const VOLUME_INFO &Volume, UINT32 &Cursor, FILE_INFO &File,
                 LAYOUT_FAULT &Fault) {
  const UINT32 At = Cursor == 0 ? Volume.HeaderLength : Cursor;
  if (!Volume.Ffs2 || At > Volume.Length || Volume.Length - At < firmware_file::HeaderSize) {
    return End(Fault);
  }
  BOOLEAN Free = true;
  for (UINT32 Index = 0; Index < firmware_file::HeaderSize && Free; Index++) {
    Free = Bytes[At + Index] == firmware_file::kErased;
  }
  if (Free) {
    return End(Fault);
  }
  if (!CheckFile(Bytes, At, Volume.Length, File, Fault)) {
    return false;
  }
  // The next file starts at the next 8-byte boundary; past the volume, the walk ends.
  const UINT64 Next = (static_cast<UINT64>(At) + File.Size + volume::kFileAlignment - 1) &
                      ~static_cast<UINT64>(volume::kFileAlignment - 1);
  Cursor = Next > Volume.Length ? Volume.Length : static_cast<UINT32>(Next);
  return true;
}

BOOLEAN FileHoldsSections(const FILE_INFO &File) {
  return File.Type != firmware_file::kTypePad && File.Type != firmware_file::kTypeRaw;
}

BOOLEAN NextSection(const UINT8 *Bytes, const FILE_INFO &File, UINT32 &Cursor, SECTION_INFO &Section,
                    LAYOUT_FAULT &Fault) {
  const UINT32 Offset = Cursor == 0 ? File.HeaderSize : Cursor;
  if (Offset >= File.Size) {
    return End(Fault);
  }
  const UINT8 *Header = Bytes + File.At + Offset;
  Fault = {SECTION_CUT, File.At, Offset, 0, 0, 0};
  if (File.Size - Offset < section::HeaderSize) {
    return false;
  }
  UINT32 Size = ReadLe24(Header + section::Size);
  Section.HeaderSize = section::HeaderSize;
  if (Size == section::kUseExtendedSize) {
    if (File.Size - Offset < section::ExtendedHeaderSize) {
      Fault.Check = SECTION_EXT_CUT;
      return false;
    }
    Size = ReadLe32(Header + section::ExtendedSize);
    Section.HeaderSize = section::ExtendedHeaderSize;
  }
  if (Size < Section.HeaderSize || Size > File.Size - Offset) {
    Fault = {SECTION_SIZE, File.At, Offset, Size, Section.HeaderSize, File.Size - Offset};
    return false;
  }
  Section.Offset = Offset;
  Section.Size = Size;
  Section.Type = Header[section::Type];
  const UINT64 Next = (static_cast<UINT64>(Offset) + Size + section::kAlignment - 1) &
                      ~static_cast<UINT64>(section::kAlignment - 1);
  Cursor = Next > File.Size ? File.Size : static_cast<UINT32>(Next);
  Fault = {LAYOUT_OK, 0, 0, 0, 0, 0};
  return true;
}

