#include "FirmwareFile.h"

#include <algorithm>
#include <cstdio>

namespace {

std::uint32_t Read(const std::vector<std::uint8_t> &Bytes, std::size_t At, int Size) {
  std::uint32_t Value = 0;
  for (int Index = Size - 1; Index >= 0; Index--) {
    Value = Value << 8 | Bytes[At + static_cast<std::size_t>(Index)];
  }
  return Value;
}

void Put(std::vector<std::uint8_t> &Bytes, std::size_t At, int Size, std::uint64_t Value) {
  for (int Index = 0; Index < Size; Index++) {
    Bytes[At + static_cast<std::size_t>(Index)] = static_cast<std::uint8_t>(Value >> (8 * Index));
  }
}

std::string Hex(std::uint64_t Value) {
  char Text[24];
  std::snprintf(Text, sizeof Text, "0x%llX", static_cast<unsigned long long>(Value));
  return Text;
}

void Append(std::vector<std::uint8_t> &Out, const std::vector<std::uint8_t> &More) {
  Out.insert(Out.end(), More.begin(), More.end());
}

// A UTF-16LE text with its 0 terminator.
std::vector<std::uint8_t> Utf16(const std::string &Text) {
  std::vector<std::uint8_t> Out;
  for (unsigned char Character : Text) {
    Out.push_back(Character);
    Out.push_back(0);
  }
  Out.insert(Out.end(), {0, 0});
  return Out;
}

std::vector<std::uint8_t> Section(std::uint8_t Type, const std::vector<std::uint8_t> &Payload) {
  std::vector<std::uint8_t> Out(4);
  Put(Out, 0, 3, Payload.size() + 4);
  Out[3] = Type;
  Append(Out, Payload);
  return Out;
}

// The 8-bit header checksum: every header byte but the file checksum and the
// state; the header checksum byte itself counts.
std::uint8_t HeaderSum(const std::vector<std::uint8_t> &Bytes, std::size_t At, std::size_t Length) {
  unsigned Sum = 0;
  for (std::size_t Index = 0; Index < Length; Index++) {
    if (Index != 0x11 && Index != 0x17) {
      Sum += Bytes[At + Index];
    }
  }
  return static_cast<std::uint8_t>(Sum);
}

std::string PpiName(const Guid16 &Guid) { return Guid == kBusInfoPpiGuid ? " (BUS_INFO_PPI)" : ""; }

}  // namespace

const Guid16 kBusInfoPpiGuid = {0xA9, 0x65, 0x01, 0x4B, 0xD6, 0x61, 0x23, 0x4E,
                                0xA0, 0xB5, 0x3E, 0xC7, 0x9C, 0x2E, 0x30, 0xD5};
// 7F3C2A91-5B4E-4D6A-8C1F-2E9B0D4A6C35
const Guid16 kSocPreInitFileGuid = {0x91, 0x2A, 0x3C, 0x7F, 0x4E, 0x5B, 0x6A, 0x4D,
                                    0x8C, 0x1F, 0x2E, 0x9B, 0x0D, 0x4A, 0x6C, 0x35};
const Guid16 kFfs2Guid = {0x78, 0xE5, 0x8C, 0x8C, 0x3D, 0x8A, 0x1C, 0x4F,
                          0x99, 0x35, 0x89, 0x61, 0x85, 0xC3, 0x2D, 0xD3};

std::string GuidText(const Guid16 &G) {
  char Text[40];
  std::snprintf(Text, sizeof Text, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", G[3], G[2],
                G[1], G[0], G[5], G[4], G[7], G[6], G[8], G[9], G[10], G[11], G[12], G[13], G[14], G[15]);
  return Text;
}

std::optional<Guid16> GuidFromText(const std::string &Text) {
  unsigned V[11];
  if (Text.size() != 36 || std::sscanf(Text.c_str(), "%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x", &V[0], &V[1], &V[2],
                                       &V[3], &V[4], &V[5], &V[6], &V[7], &V[8], &V[9], &V[10]) != 11) {
    return std::nullopt;
  }
  Guid16 G{};
  for (int Index = 0; Index < 4; Index++) G[Index] = static_cast<std::uint8_t>(V[0] >> (8 * Index));
  G[4] = static_cast<std::uint8_t>(V[1]);
  G[5] = static_cast<std::uint8_t>(V[1] >> 8);
  G[6] = static_cast<std::uint8_t>(V[2]);
  G[7] = static_cast<std::uint8_t>(V[2] >> 8);
  for (int Index = 0; Index < 8; Index++) G[8 + Index] = static_cast<std::uint8_t>(V[3 + Index]);
  return G;
}

std::vector<std::uint8_t> ModuleDependencyExpression() {
  // The description names BUS_INFO_PPI as the one PPI installed before the
  // module runs; an integrator who also wants the Master Boot Mode PPI adds
  // "PUSH guid, AND" before END here.
  std::vector<std::uint8_t> Expression = {DEPEX_PUSH};
  Expression.insert(Expression.end(), kBusInfoPpiGuid.begin(), kBusInfoPpiGuid.end());
  Expression.push_back(DEPEX_END);
  return Expression;
}

DepexResult EvaluateDependencyExpression(const std::vector<std::uint8_t> &E, const std::vector<Guid16> &Installed) {
  constexpr std::size_t kMaxDepth = 64;
  DepexResult Result;
  std::vector<bool> Stack;
  auto Fail = [&](const std::string &Why, std::size_t At) {
    Result.Error = Why + " at byte " + std::to_string(At);
    return Result;
  };
  for (std::size_t At = 0; At < E.size();) {
    const std::uint8_t Op = E[At];
    if (!Result.Text.empty()) {
      Result.Text += "; ";
    }
    if (Op == DEPEX_PUSH) {
      if (E.size() - At < 17) {
        return Fail("PUSH with a truncated GUID", At);
      }
      Guid16 G;
      std::copy(E.begin() + static_cast<std::ptrdiff_t>(At) + 1, E.begin() + static_cast<std::ptrdiff_t>(At) + 17,
                G.begin());
      const bool Present = std::find(Installed.begin(), Installed.end(), G) != Installed.end();
      if (!Present) {
        Result.Missing.push_back(G);
      }
      if (Stack.size() == kMaxDepth) {
        return Fail("stack overflow (more than 64 values)", At);
      }
      Stack.push_back(Present);
      Result.Text += "PUSH " + GuidText(G) + PpiName(G);
      At += 17;
      continue;
    }
    if (Op == DEPEX_AND || Op == DEPEX_OR) {
      if (Stack.size() < 2) {
        return Fail(std::string(Op == DEPEX_AND ? "AND" : "OR") + " with " + std::to_string(Stack.size()) +
                        " value(s) on the stack (stack underflow)", At);
      }
      const bool B = Stack.back();
      Stack.pop_back();
      Stack.back() = Op == DEPEX_AND ? (Stack.back() && B) : (Stack.back() || B);
      Result.Text += Op == DEPEX_AND ? "AND" : "OR";
    } else if (Op == DEPEX_NOT) {
      if (Stack.empty()) {
        return Fail("NOT with an empty stack (stack underflow)", At);
      }
      Stack.back() = !Stack.back();
      Result.Text += "NOT";
    } else if (Op == DEPEX_TRUE || Op == DEPEX_FALSE) {
      if (Stack.size() == kMaxDepth) {
        return Fail("stack overflow (more than 64 values)", At);
      }
      Stack.push_back(Op == DEPEX_TRUE);
      Result.Text += Op == DEPEX_TRUE ? "TRUE" : "FALSE";
    } else if (Op == DEPEX_END) {
      Result.Text += "END";
      if (Stack.size() != 1) {
        return Fail("END with " + std::to_string(Stack.size()) + " values on the stack (one expected)", At);
      }
      Result.Valid = true;
      Result.Satisfied = Stack.back();
      return Result;
    } else if (Op == DEPEX_BEFORE || Op == DEPEX_AFTER || Op == DEPEX_SOR) {
      static const char *const kNames[] = {"BEFORE", "AFTER", "", "", "", "", "", "", "", "SOR"};
      return Fail("opcode " + Hex(Op) + " (" + kNames[Op] + ") is not allowed in a PEI expression", At);
    } else {
      return Fail("unknown opcode " + Hex(Op), At);
    }
    At++;
  }
  Result.Error = "no END";
  return Result;
}

std::string DispatchRefusal(const DepexResult &Result) {
  std::string Missing;
  for (const Guid16 &Guid : Result.Missing) {
    Missing += (Missing.empty() ? "" : ", ") + GuidText(Guid) + PpiName(Guid);
  }
  return "its dependency expression (" + Result.Text + ") does not hold; not installed: " +
         (Missing.empty() ? std::string("none") : Missing);
}

const FirmwareSection *FirmwareFile::Find(std::uint8_t SectionType) const {
  for (const FirmwareSection &Each : Sections) {
    if (Each.Type == SectionType) {
      return &Each;
    }
  }
  return nullptr;
}

std::uint8_t FileHeaderChecksum(const std::vector<std::uint8_t> &Header) {
  std::vector<std::uint8_t> Copy(Header.begin(), Header.begin() + 24);
  Copy[0x10] = 0;
  return static_cast<std::uint8_t>(0x100 - HeaderSum(Copy, 0, 24));
}

std::vector<std::uint8_t> BuildPeimFile(const std::vector<std::uint8_t> &Pe32, const std::string &Name,
                                        const std::string &Version) {
  std::vector<std::uint8_t> VersionPayload = {0, 0};  // BuildNumber 0: the version text says it all
  Append(VersionPayload, Utf16(Version));
  const std::vector<std::uint8_t> Sections[] = {Section(SECTION_PEI_DEPEX, ModuleDependencyExpression()),
                                                Section(SECTION_PE32, Pe32), Section(SECTION_USER_INTERFACE, Utf16(Name)),
                                                Section(SECTION_VERSION, VersionPayload)};
  std::vector<std::uint8_t> File(24, 0);
  for (const std::vector<std::uint8_t> &Each : Sections) {
    while (File.size() % 4 != 0) {  // each section 4-aligned from the file data (and the file)
      File.push_back(0);
    }
    Append(File, Each);
  }
  std::copy(kSocPreInitFileGuid.begin(), kSocPreInitFileGuid.end(), File.begin());
  File[0x11] = 0xAA;  // no file checksum (attribute CHECKSUM clear)
  File[0x12] = kFileTypePeim;
  File[0x13] = 0x00;  // attributes: no alignment beyond the 8-byte file rule
  Put(File, 0x14, 3, File.size());
  File[0x17] = 0xF8;  // header and data valid, stored against erase polarity 1
  File[0x10] = static_cast<std::uint8_t>(0x100 - HeaderSum(File, 0, 24));
  return File;
}

std::optional<FirmwareFile> ParseFirmwareFile(const std::vector<std::uint8_t> &Bytes, std::size_t At,
                                              std::size_t Limit, std::string &Error) {
  const std::string Where = "file at " + Hex(At);
  if (Limit > Bytes.size() || At > Limit || Limit - At < 24) {
    Error = Where + ": fewer than the 24 bytes of a file header";
    return std::nullopt;
  }
  FirmwareFile File;
  std::copy(Bytes.begin() + static_cast<std::ptrdiff_t>(At), Bytes.begin() + static_cast<std::ptrdiff_t>(At) + 16,
            File.Name.begin());
  File.HeaderChecksum = Bytes[At + 0x10];
  File.FileChecksum = Bytes[At + 0x11];
  File.Type = Bytes[At + 0x12];
  File.Attributes = Bytes[At + 0x13];
  File.State = Bytes[At + 0x17];
  std::uint64_t Size = Read(Bytes, At + 0x14, 3);
  std::size_t Header = 24;
  if ((File.Attributes & 0x01) != 0) {  // large file: a 64-bit size follows
    if (Limit - At < 32) {
      Error = Where + ": fewer than the 32 bytes of a large file header";
      return std::nullopt;
    }
    Size = Read(Bytes, At + 0x18, 4) | static_cast<std::uint64_t>(Read(Bytes, At + 0x1C, 4)) << 32;
    Header = 32;
  }
  if (Size < Header || Size > Limit - At) {
    Error = Where + ": Size " + Hex(Size) + " is out of range (" + Hex(Header) + " to " + Hex(Limit - At) + ")";
    return std::nullopt;
  }
  File.Size = static_cast<std::uint32_t>(Size);
  const std::uint8_t Sum = HeaderSum(Bytes, At, Header);
  if (Sum != 0) {
    Error = Where + ": header checksum " + Hex(File.HeaderChecksum) + " is wrong (the header sums to " + Hex(Sum) +
            ", not 0)";
    return std::nullopt;
  }
  if ((File.Attributes & 0x40) != 0) {
    unsigned DataSum = 0;
    for (std::size_t Index = At + Header; Index < At + File.Size; Index++) {
      DataSum += Bytes[Index];
    }
    if (static_cast<std::uint8_t>(DataSum + File.FileChecksum) != 0) {
      Error = Where + ": file checksum " + Hex(File.FileChecksum) + " is wrong";
      return std::nullopt;
    }
  } else if (File.FileChecksum != 0xAA) {
    Error = Where + ": file checksum " + Hex(File.FileChecksum) + " without the CHECKSUM attribute (0xAA expected)";
    return std::nullopt;
  }
  if (File.Type == 0xF0 || File.Type == 0x01) {
    return File;  // pad and raw files hold no sections
  }
  for (std::size_t Offset = Header; Offset < File.Size;) {
    const std::size_t SectionAt = At + Offset;
    if (File.Size - Offset < 4) {
      Error = Where + ": section at file offset " + Hex(Offset) + " is cut off by the end of the file";
      return std::nullopt;
    }
    std::uint64_t SectionSize = Read(Bytes, SectionAt, 3);
    std::size_t SectionHeader = 4;
    if (SectionSize == 0xFFFFFF) {
      if (File.Size - Offset < 8) {
        Error = Where + ": extended section at file offset " + Hex(Offset) + " is cut off";
        return std::nullopt;
      }
      SectionSize = Read(Bytes, SectionAt + 4, 4);
      SectionHeader = 8;
    }
    if (SectionSize < SectionHeader || SectionSize > File.Size - Offset) {
      Error = Where + ": section at file offset " + Hex(Offset) + " has size " + Hex(SectionSize) +
              " (" + Hex(SectionHeader) + " to " + Hex(File.Size - Offset) + ")";
      return std::nullopt;
    }
    FirmwareSection Each;
    Each.Type = Bytes[SectionAt + 3];
    Each.Offset = static_cast<std::uint32_t>(Offset);
    Each.Payload.assign(Bytes.begin() + static_cast<std::ptrdiff_t>(SectionAt + SectionHeader),
                        Bytes.begin() + static_cast<std::ptrdiff_t>(SectionAt + SectionSize));
    File.Sections.push_back(std::move(Each));
    Offset += static_cast<std::size_t>(SectionSize);
    Offset = (Offset + 3) & ~static_cast<std::size_t>(3);
  }
  return File;
}

std::vector<std::uint8_t> BuildVolume(const std::vector<std::uint8_t> &File) {
  constexpr std::size_t kHeaderLength = 0x48;
  const std::size_t Used = kHeaderLength + File.size();
  const std::size_t Blocks = (Used + kVolumeBlockSize - 1) / kVolumeBlockSize;
  std::vector<std::uint8_t> Volume(Blocks * kVolumeBlockSize, 0xFF);  // free space at the erase value
  std::fill(Volume.begin(), Volume.begin() + kHeaderLength, 0);
  std::copy(kFfs2Guid.begin(), kFfs2Guid.end(), Volume.begin() + 0x10);
  Put(Volume, 0x20, 8, Volume.size());
  Put(Volume, 0x28, 4, 0x4856465F);  // "_FVH"
  Put(Volume, 0x2C, 4, 0x0004FEFF);  // capabilities and status, erase polarity 1, 16-byte alignment
  Put(Volume, 0x30, 2, kHeaderLength);
  Volume[0x37] = 2;  // revision
  Put(Volume, 0x38, 4, Blocks);
  Put(Volume, 0x3C, 4, kVolumeBlockSize);  // then the {0, 0} terminator
  unsigned Sum = 0;
  for (std::size_t At = 0; At < kHeaderLength; At += 2) {
    Sum += Read(Volume, At, 2);
  }
  Put(Volume, 0x32, 2, (0x10000 - (Sum & 0xFFFF)) & 0xFFFF);
  std::copy(File.begin(), File.end(), Volume.begin() + kHeaderLength);  // 0x48: a multiple of 8
  return Volume;
}

std::optional<FirmwareVolume> ParseFirmwareVolume(const std::vector<std::uint8_t> &Bytes, std::string &Error) {
  FirmwareVolume Volume;
  if (Bytes.size() < 0x48) {
    Error = "volume of " + std::to_string(Bytes.size()) + " bytes is shorter than a volume header with a block map";
    return std::nullopt;
  }
  std::copy(Bytes.begin() + 0x10, Bytes.begin() + 0x20, Volume.FileSystem.begin());
  Volume.Length = Read(Bytes, 0x20, 4) | static_cast<std::uint64_t>(Read(Bytes, 0x24, 4)) << 32;
  Volume.Attributes = Read(Bytes, 0x2C, 4);
  Volume.HeaderLength = static_cast<std::uint16_t>(Read(Bytes, 0x30, 2));
  Volume.Checksum = static_cast<std::uint16_t>(Read(Bytes, 0x32, 2));
  Volume.Revision = Bytes[0x37];
  if (Read(Bytes, 0x28, 4) != 0x4856465F) {
    Error = "volume Signature " + Hex(Read(Bytes, 0x28, 4)) + " is not _FVH (0x4856465F)";
    return std::nullopt;
  }
  if (Volume.Revision != 2) {
    Error = "volume Revision " + std::to_string(Volume.Revision) + " is not 2";
    return std::nullopt;
  }
  if (Volume.Length < 0x48 || Volume.Length > Bytes.size()) {
    Error = "volume FvLength " + Hex(Volume.Length) + " is out of range (0x48 to the file's " + Hex(Bytes.size()) + ")";
    return std::nullopt;
  }
  if (Volume.HeaderLength < 0x48 || Volume.HeaderLength % 2 != 0 || Volume.HeaderLength > Volume.Length) {
    Error = "volume HeaderLength " + Hex(Volume.HeaderLength) + " is out of range (even, 0x48 to FvLength)";
    return std::nullopt;
  }
  if (Read(Bytes, 0x34, 2) != 0) {
    Error = "volume ExtHeaderOffset " + Hex(Read(Bytes, 0x34, 2)) + ": extended headers are not read";
    return std::nullopt;
  }
  unsigned Sum = 0;
  for (std::size_t At = 0; At < Volume.HeaderLength; At += 2) {
    Sum += Read(Bytes, At, 2);
  }
  if ((Sum & 0xFFFF) != 0) {
    Error = "volume header Checksum " + Hex(Volume.Checksum) + " is wrong (the header sums to " + Hex(Sum & 0xFFFF) +
            ", not 0)";
    return std::nullopt;
  }
  std::uint64_t Covered = 0;
  for (std::size_t At = 0x38; At + 8 <= Volume.HeaderLength; At += 8) {
    const std::uint32_t Count = Read(Bytes, At, 4), Length = Read(Bytes, At + 4, 4);
    if (Count == 0 && Length == 0) {
      break;
    }
    Volume.Blocks.emplace_back(Count, Length);
    Covered += static_cast<std::uint64_t>(Count) * Length;
  }
  if (Covered < Volume.Length) {
    Error = "volume block map covers " + Hex(Covered) + " bytes, less than FvLength " + Hex(Volume.Length);
    return std::nullopt;
  }
  if (Volume.FileSystem != kFfs2Guid) {
    return Volume;  // another file system: no files read
  }
  const std::size_t End = static_cast<std::size_t>(Volume.Length);
  for (std::size_t At = Volume.HeaderLength; At + 24 <= End;) {
    bool Free = true;
    for (std::size_t Index = 0; Index < 24 && Free; Index++) {
      Free = Bytes[At + Index] == 0xFF;
    }
    if (Free) {
      break;  // free space: the erase value where a file could start
    }
    auto File = ParseFirmwareFile(Bytes, At, End, Error);
    if (!File) {
      return std::nullopt;
    }
    At = (At + File->Size + 7) & ~static_cast<std::size_t>(7);
    Volume.Files.push_back(std::move(*File));
  }
  return Volume;
}

std::string KindOfFirmware(const std::vector<std::uint8_t> &Bytes) {
  if (Bytes.size() >= 2 && Bytes[0] == 'M' && Bytes[1] == 'Z') {
    return "pe32";
  }
  if (Bytes.size() >= 0x2C && Read(Bytes, 0x28, 4) == 0x4856465F) {
    return "volume";
  }
  return "file";
}
