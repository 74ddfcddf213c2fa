#include "VolumeWalk.h"

namespace {

UINT32 Read(const UINT8 *At, int Size) {
  UINT32 Value = 0;
  for (int Index = Size - 1; Index >= 0; Index--) {
    Value = Value << 8 | At[Index];
  }
  return Value;
}

bool SameGuid(const UINT8 *A, const UINT8 *B) {
  for (int Index = 0; Index < 16; Index++) {
    if (A[Index] != B[Index]) {
      return false;
    }
  }
  return true;
}

const UINT8 kFfs2[16] = {0x78, 0xE5, 0x8C, 0x8C, 0x3D, 0x8A, 0x1C, 0x4F, 0x99, 0x35, 0x89, 0x61, 0x85, 0xC3, 0x2D, 0xD3};

}  // namespace

bool IsFirmwareVolume(const UINT8 *Bytes, UINT32 Size) { return Size >= 0x48 && Read(Bytes + 0x28, 4) == 0x4856465F; }

const char *FindPeimInVolume(const UINT8 *Bytes, UINT32 Size, VOLUME_PEIM &Peim) {
  const UINT32 Length = Read(Bytes + 0x20, 4);
  const UINT32 HeaderLength = Read(Bytes + 0x30, 2);
  if (Read(Bytes + 0x24, 4) != 0 || Length > Size || HeaderLength < 0x48 || HeaderLength > Length ||
      (HeaderLength & 1) != 0 || Bytes[0x37] != 2 || !SameGuid(Bytes + 0x10, kFfs2)) {
    return "volume header out of range (length, header length, revision or file system)";
  }
  UINT32 Sum = 0;
  for (UINT32 At = 0; At < HeaderLength; At += 2) {
    Sum += Read(Bytes + At, 2);
  }
  if ((Sum & 0xFFFF) != 0) {
    return "volume header checksum is wrong";
  }
  for (UINT32 At = HeaderLength; At <= Length - 24 && Length >= 24;) {
    const UINT8 *File = Bytes + At;
    const UINT32 FileSize = Read(File + 0x14, 3);
    if (Read(File, 4) == 0xFFFFFFFFu && Read(File + 4, 4) == 0xFFFFFFFFu) {
      break;  // free space
    }
    if (FileSize < 24 || FileSize > Length - At || (File[0x13] & 0x01) != 0) {
      return "file size out of range";
    }
    UINT32 HeaderSum = 0;
    for (UINT32 Index = 0; Index < 24; Index++) {
      HeaderSum += (Index == 0x11 || Index == 0x17) ? 0 : File[Index];
    }
    if ((HeaderSum & 0xFF) != 0) {
      return "file header checksum is wrong";
    }
    if (File[0x12] == 0x06) {  // PEIM
      Peim = {nullptr, 0, nullptr, 0};
      for (UINT32 Offset = 24; Offset + 4 <= FileSize;) {
        const UINT32 SectionSize = Read(File + Offset, 3);
        if (SectionSize < 4 || SectionSize > FileSize - Offset) {
          return "section size out of range";
        }
        const UINT8 Type = File[Offset + 3];
        if (Type == 0x1B && Peim.Depex == nullptr) {
          Peim.Depex = File + Offset + 4;
          Peim.DepexSize = SectionSize - 4;
        } else if (Type == 0x10 && Peim.Pe32 == nullptr) {
          Peim.Pe32 = File + Offset + 4;
          Peim.Pe32Size = SectionSize - 4;
        }
        Offset = (Offset + SectionSize + 3) & ~3u;
      }
      return Peim.Pe32 == nullptr ? "the PEIM file has no PE32 section" : nullptr;
    }
    At = (At + FileSize + 7) & ~7u;
  }
  return "the volume holds no PEIM file";
}

int EvaluatePeiDepex(const UINT8 *E, UINT32 Size, const UINT8 *BusInfoGuid, bool Installed) {
  bool Stack[64];
  UINT32 Depth = 0;
  for (UINT32 At = 0; At < Size;) {
    const UINT8 Op = E[At];
    if (Op == 0x02) {  // PUSH
      if (Size - At < 17 || Depth == 64) {
        return -1;
      }
      Stack[Depth++] = Installed && SameGuid(E + At + 1, BusInfoGuid);
      At += 17;
      continue;
    }
    if (Op == 0x03 || Op == 0x04) {  // AND, OR
      if (Depth < 2) {
        return -1;
      }
      Depth--;
      Stack[Depth - 1] = Op == 0x03 ? (Stack[Depth - 1] && Stack[Depth]) : (Stack[Depth - 1] || Stack[Depth]);
    } else if (Op == 0x05) {  // NOT
      if (Depth < 1) {
        return -1;
      }
      Stack[Depth - 1] = !Stack[Depth - 1];
    } else if (Op == 0x06 || Op == 0x07) {  // TRUE, FALSE
      if (Depth == 64) {
        return -1;
      }
      Stack[Depth++] = Op == 0x06;
    } else if (Op == 0x08) {  // END
      return Depth == 1 ? (Stack[0] ? 1 : 0) : -1;
    } else {
      return -1;  // BEFORE, AFTER, SOR and unknown opcodes have no place in PEI
    }
    At++;
  }
  return -1;  // no END
}
