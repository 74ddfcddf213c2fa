#include "FirmwarePacking.h"

#include <algorithm>
#include <cstdio>

#include "Layout/LittleEndian.h"
#include "Layout/Pe32.h"
#include "Layout/Te.h"

namespace {

void Append(std::vector<std::uint8_t> &Out, const std::vector<std::uint8_t> &More) {
  Out.insert(Out.end(), More.begin(), More.end());
}

void PutGuid(std::vector<std::uint8_t> &Out, std::size_t At, const Guid16 &Guid) {
  std::copy(Guid.begin(), Guid.end(), Out.begin() + static_cast<std::ptrdiff_t>(At));
}

Guid16 GuidAt(const std::uint8_t *At) {
  Guid16 Guid;
  std::copy(At, At + Guid.size(), Guid.begin());
  return Guid;
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

// The largest size a 3-byte field holds; a section of exactly this size would
// read as the extended-size marker, so sections stop one below it.
constexpr std::size_t kMax24 = 0xFFFFFF;

std::optional<std::vector<std::uint8_t>> Section(std::uint8_t Type, const std::vector<std::uint8_t> &Payload,
                                                 std::string &Error) {
  if (Payload.size() >= section::kUseExtendedSize - section::HeaderSize) {
    Error = "a section of " + Hex(Payload.size() + section::HeaderSize) + " bytes does not fit a section header's size (below " +
            Hex(section::kUseExtendedSize) + ")";
    return std::nullopt;
  }
  std::vector<std::uint8_t> Out(section::HeaderSize);
  WriteLe(&Out[section::Size], 3, Payload.size() + section::HeaderSize);
  Out[section::Type] = Type;
  Append(Out, Payload);
  return Out;
}

std::string PpiName(const Guid16 &Guid) { return Guid == kBusInfoPpiGuid ? " (BUS_INFO_PPI)" : ""; }

}  // namespace

Guid16 ToGuid16(const EFI_GUID &Guid) { return GuidAt(GuidBytes(Guid).Bytes); }

const Guid16 kBusInfoPpiGuid = ToGuid16(gBusInfoPpiGuid);
const Guid16 kSocPreInitFileGuid = ToGuid16(gSocPreInitFileGuid);
const Guid16 kFfs2Guid = ToGuid16(gFfs2FileSystemGuid);

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
  EFI_GUID Guid{V[0], static_cast<UINT16>(V[1]), static_cast<UINT16>(V[2]), {}};
  for (int Index = 0; Index < 8; Index++) Guid.Data4[Index] = static_cast<UINT8>(V[3 + Index]);
  return ToGuid16(Guid);
}

std::vector<std::uint8_t> ModuleDependencyExpression() {
  // The description names BUS_INFO_PPI as the one PPI installed before the
  // module runs; an integrator who also wants the Master Boot Mode PPI adds
  // "PUSH guid, AND" before END here.
  std::vector<std::uint8_t> Expression = {depex::kPush};
  Expression.insert(Expression.end(), kBusInfoPpiGuid.begin(), kBusInfoPpiGuid.end());
  Expression.push_back(depex::kEnd);
  return Expression;
}

namespace {

struct DepexWalk {
  const std::vector<Guid16> &Installed;
  DepexResult &Result;
};

BOOLEAN IsInstalled(const UINT8 *Guid, void *Context) {
  const auto &Walk = *static_cast<DepexWalk *>(Context);
  return std::find(Walk.Installed.begin(), Walk.Installed.end(), GuidAt(Guid)) != Walk.Installed.end();
}

void NoteStep(UINT8 Opcode, const UINT8 *Guid, BOOLEAN Installed, void *Context) {
  DepexResult &Result = static_cast<DepexWalk *>(Context)->Result;
  static const char *const kNames[] = {"BEFORE", "AFTER", "PUSH", "AND", "OR", "NOT", "TRUE", "FALSE", "END", "SOR"};
  Result.Text += (Result.Text.empty() ? "" : "; ") + std::string(kNames[Opcode]);
  if (Opcode == depex::kPush) {
    const Guid16 Pushed = GuidAt(Guid);
    Result.Text += " " + GuidText(Pushed) + PpiName(Pushed);
    if (!Installed) {
      Result.Missing.push_back(Pushed);
    }
  }
}

}  // namespace

DepexResult EvaluateDependencyExpression(const std::vector<std::uint8_t> &E, const std::vector<Guid16> &Installed) {
  DepexResult Result;
  DepexWalk Walk{Installed, Result};
  LAYOUT_FAULT Fault;
  const INT32 Holds =
      EvaluateDepex(E.data(), static_cast<UINT32>(E.size()), IsInstalled, NoteStep, &Walk, Fault);
  Result.Valid = Holds >= 0;
  Result.Satisfied = Holds == 1;
  if (!Result.Valid) {
    Result.Error = LayoutFaultText(Fault);
  }
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

const FirmwareSection *FirmwareFile::FindImage() const {
  const FirmwareSection *Pe32 = Find(section::kPe32);
  return Pe32 != nullptr ? Pe32 : Find(section::kTe);
}

std::uint8_t FileHeaderChecksum(const std::vector<std::uint8_t> &Header) {
  std::vector<std::uint8_t> Copy(Header.begin(), Header.begin() + firmware_file::HeaderSize);
  Copy[firmware_file::HeaderChecksum] = 0;
  return static_cast<std::uint8_t>(0x100 - FileHeaderSum(Copy.data(), firmware_file::HeaderSize));
}

namespace {

// A file header before Body: name, type, size, state, header checksum; no file checksum.
std::optional<std::vector<std::uint8_t>> WithFileHeader(const Guid16 &Name, std::uint8_t Type,
                                                        const std::vector<std::uint8_t> &Body, std::string &Error) {
  if (Body.size() > kMax24 - firmware_file::HeaderSize) {
    Error = "a file of " + Hex(Body.size() + firmware_file::HeaderSize) + " bytes does not fit a file header's size (at most " +
            Hex(kMax24) + ")";
    return std::nullopt;
  }
  std::vector<std::uint8_t> File(firmware_file::HeaderSize, 0);
  Append(File, Body);
  PutGuid(File, firmware_file::Name, Name);
  File[firmware_file::FileChecksum] = firmware_file::kNoFileChecksum;  // attribute CHECKSUM clear
  File[firmware_file::Type] = Type;
  File[firmware_file::Attributes] = 0x00;  // no alignment beyond the 8-byte file rule
  WriteLe(&File[firmware_file::Size], 3, File.size());
  File[firmware_file::State] = firmware_file::kStateValid;
  File[firmware_file::HeaderChecksum] = FileHeaderChecksum(File);
  return File;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> BuildPeim(const PeimContents &Peim, std::string &Error) {
  const bool Te = IsTeImage(Peim.Image.data(), static_cast<UINT32>(std::min<std::size_t>(Peim.Image.size(), kMaxImageSize)));
  std::vector<std::uint8_t> VersionPayload = {0, 0};  // BuildNumber 0: the version text says it all
  Append(VersionPayload, Utf16(Peim.Version));
  const std::pair<std::uint8_t, std::vector<std::uint8_t>> Sections[] = {
      {section::kPeiDepex, Peim.Depex},
      {Te ? section::kTe : section::kPe32, Peim.Image},
      {section::kUserInterface, Utf16(Peim.UiName)},
      {section::kVersion, VersionPayload}};
  std::vector<std::uint8_t> Body;
  for (const auto &[Type, Payload] : Sections) {
    const auto Each = Section(Type, Payload, Error);
    if (!Each) {
      return std::nullopt;
    }
    // Each section 4-aligned from the start of the file, whose header is 24 bytes.
    while ((firmware_file::HeaderSize + Body.size()) % section::kAlignment != 0) {
      Body.push_back(0);
    }
    Append(Body, *Each);
  }
  return WithFileHeader(Peim.Name, firmware_file::kTypePeim, Body, Error);
}

std::optional<std::vector<std::uint8_t>> BuildPeimFile(const std::vector<std::uint8_t> &Pe32, const std::string &Name,
                                                       const std::string &Version, std::string &Error) {
  return BuildPeim({kSocPreInitFileGuid, ModuleDependencyExpression(), Pe32, Name, Version}, Error);
}

std::optional<std::vector<std::uint8_t>> BuildPadFile(std::size_t Size, std::string &Error) {
  if (Size < firmware_file::HeaderSize) {
    Error = "a pad file of " + std::to_string(Size) + " bytes has no room for its header";
    return std::nullopt;
  }
  Guid16 Name;
  Name.fill(firmware_file::kErased);  // a pad file's name says nothing
  return WithFileHeader(Name, firmware_file::kTypePad,
                        std::vector<std::uint8_t>(Size - firmware_file::HeaderSize, firmware_file::kErased), Error);
}

std::optional<std::vector<std::uint8_t>> BuildRawFile(const Guid16 &Name, const std::vector<std::uint8_t> &Data,
                                                      std::string &Error) {
  return WithFileHeader(Name, firmware_file::kTypeRaw, Data, Error);
}

namespace {

FirmwareFile FileWithSections(const std::vector<std::uint8_t> &Bytes, const FILE_INFO &Info, LAYOUT_FAULT &Fault) {
  FirmwareFile File;
  File.Name = GuidAt(&Bytes[Info.At + firmware_file::Name]);
  File.Type = Info.Type;
  File.Attributes = Info.Attributes;
  File.State = Info.State;
  File.HeaderChecksum = Info.HeaderChecksum;
  File.FileChecksum = Info.FileChecksum;
  File.Size = Info.Size;
  if (!FileHoldsSections(Info)) {
    return File;
  }
  UINT32 Cursor = 0;
  SECTION_INFO Section;
  while (NextSection(Bytes.data(), Info, Cursor, Section, Fault)) {
    const auto Start = Bytes.begin() + static_cast<std::ptrdiff_t>(Info.At + Section.Offset);
    File.Sections.push_back({Section.Type, Section.Offset,
                             std::vector<std::uint8_t>(Start + Section.HeaderSize, Start + Section.Size)});
  }
  return File;
}

}  // namespace

std::optional<FirmwareFile> ParseFirmwareFile(const std::vector<std::uint8_t> &Bytes, std::size_t At,
                                              std::size_t Limit, std::string &Error) {
  FILE_INFO Info;
  LAYOUT_FAULT Fault;
  if (Limit > Bytes.size() || Limit > UINT32_MAX || At > Limit) {
    Fault = {FFS_HEADER_CUT, At, 0, firmware_file::HeaderSize, 0, 0};
  } else if (CheckFile(Bytes.data(), static_cast<UINT32>(At), static_cast<UINT32>(Limit), Info, Fault)) {
    FirmwareFile File = FileWithSections(Bytes, Info, Fault);
    if (Fault.Check == LAYOUT_OK) {
      return File;
    }
  }
  Error = LayoutFaultText(Fault);
  return std::nullopt;
}

std::optional<FirmwareFile> ParseFileNamedAsModule(const std::vector<std::uint8_t> &Bytes, const std::string &Name,
                                                   std::string &Error) {
  std::optional<FirmwareFile> File = ParseFirmwareFile(Bytes, 0, Bytes.size(), Error);
  if (!File) {
    Error = Name + ": not a PE32 or TE image, PEIM file or firmware volume: " + Error;
  }
  return File;
}

std::optional<std::vector<std::uint8_t>> BuildVolumeOf(const std::vector<PlacedFile> &Files, std::size_t Length,
                                                       std::string &Error) {
  constexpr std::size_t kHeaderLength = volume::MinHeaderLength;
  if (Length > UINT32_MAX - kVolumeBlockSize) {
    Error = "a volume of " + Hex(Length) + " bytes";
    return std::nullopt;
  }
  const std::size_t Blocks = (Length + kVolumeBlockSize - 1) / kVolumeBlockSize;
  std::size_t Free = kHeaderLength;  // where the next file may start
  for (const PlacedFile &Each : Files) {
    if (Each.Offset < Free || Each.Offset % volume::kFileAlignment != 0 || Each.Offset > Blocks * kVolumeBlockSize ||
        Each.Bytes.size() > Blocks * kVolumeBlockSize - Each.Offset) {
      Error = "a file of " + Hex(Each.Bytes.size()) + " bytes at " + Hex(Each.Offset) +
              " is not 8-aligned after the one before it, or runs past the volume's " + Hex(Blocks * kVolumeBlockSize) +
              " bytes";
      return std::nullopt;
    }
    Free = Each.Offset + Each.Bytes.size();
  }
  std::vector<std::uint8_t> Volume(Blocks * kVolumeBlockSize, firmware_file::kErased);  // free space at the erase value
  std::fill(Volume.begin(), Volume.begin() + kHeaderLength, 0);
  PutGuid(Volume, volume::FileSystemGuid, kFfs2Guid);
  WriteLe(&Volume[volume::FvLength], 8, Volume.size());
  WriteLe(&Volume[volume::Signature], 4, volume::kSignature);
  WriteLe(&Volume[volume::Attributes], 4, volume::kAttributes);
  WriteLe(&Volume[volume::HeaderLength], 2, kHeaderLength);
  Volume[volume::Revision] = volume::kRevision;
  WriteLe(&Volume[volume::BlockMap + volume::BlockCount], 4, Blocks);
  WriteLe(&Volume[volume::BlockMap + volume::BlockLength], 4, kVolumeBlockSize);  // then the {0, 0} terminator
  WriteLe(&Volume[volume::Checksum], 2, 0x10000 - VolumeHeaderSum(Volume.data(), kHeaderLength));
  for (const PlacedFile &Each : Files) {
    std::copy(Each.Bytes.begin(), Each.Bytes.end(), Volume.begin() + static_cast<std::ptrdiff_t>(Each.Offset));
  }
  return Volume;
}

std::optional<std::vector<std::uint8_t>> BuildVolume(const std::vector<std::uint8_t> &File, std::string &Error) {
  static_assert(volume::MinHeaderLength % volume::kFileAlignment == 0, "the file follows the header at an 8-byte boundary");
  return BuildVolumeOf({{volume::MinHeaderLength, File}}, volume::MinHeaderLength + File.size(), Error);
}

std::optional<FirmwareVolume> ParseFirmwareVolume(const std::vector<std::uint8_t> &Bytes, std::string &Error) {
  VOLUME_INFO Info;
  LAYOUT_FAULT Fault;
  if (Bytes.size() > UINT32_MAX) {
    Error = "volume larger than 4 GiB";
    return std::nullopt;
  }
  if (!CheckVolumeHeader(Bytes.data(), static_cast<UINT32>(Bytes.size()), Info, Fault)) {
    Error = LayoutFaultText(Fault);
    return std::nullopt;
  }
  FirmwareVolume Volume;
  Volume.FileSystem = GuidAt(&Bytes[volume::FileSystemGuid]);
  Volume.Length = Info.Length;
  Volume.Attributes = Info.Attributes;
  Volume.HeaderLength = static_cast<std::uint16_t>(Info.HeaderLength);
  Volume.Checksum = Info.Checksum;
  Volume.Revision = Info.Revision;
  UINT32 Count, Length;
  for (UINT32 Index = 0; VolumeBlockAt(Bytes.data(), Info.HeaderLength, Index, Count, Length); Index++) {
    Volume.Blocks.emplace_back(Count, Length);
  }
  UINT32 Cursor = 0;
  FILE_INFO File;
  while (NextFile(Bytes.data(), Info, Cursor, File, Fault)) {
    Volume.Files.push_back(FileWithSections(Bytes, File, Fault));
    if (Fault.Check != LAYOUT_OK) {
      break;
    }
  }
  if (Fault.Check != LAYOUT_OK) {
    Error = LayoutFaultText(Fault);
    return std::nullopt;
  }
  return Volume;
}

std::string KindOfFirmware(const std::vector<std::uint8_t> &Bytes) {
  const auto Size = static_cast<UINT32>(std::min<std::size_t>(Bytes.size(), kMaxImageSize));
  if ((Bytes.size() >= 2 && ReadLe16(Bytes.data()) == pe32::dos::kMagic) || IsTeImage(Bytes.data(), Size)) {
    return "image";
  }
  if (LooksLikeVolume(Bytes.data(), static_cast<UINT32>(std::min<std::size_t>(Bytes.size(), UINT32_MAX)))) {
    return "volume";
  }
  return "file";
}

std::optional<FirmwareFile> ModulePeimFile(const std::vector<std::uint8_t> &Bytes, const std::string &Name,
                                           std::string &Error) {
  std::optional<FirmwareFile> File;
  if (KindOfFirmware(Bytes) == "volume") {
    const auto Volume = ParseFirmwareVolume(Bytes, Error);
    if (!Volume) {
      Error.insert(0, Name + ": ");
      return std::nullopt;
    }
    for (const FirmwareFile &Each : Volume->Files) {
      if (!File && Each.Type == firmware_file::kTypePeim) {
        File = Each;
      }
    }
    if (!File) {
      Error = Name + ": the volume holds no PEIM file";
      return std::nullopt;
    }
  } else {
    File = ParseFileNamedAsModule(Bytes, Name, Error);
  }
  if (File && File->FindImage() == nullptr) {
    Error = Name + ": the PEIM file has no PE32 or TE section";
    return std::nullopt;
  }
  return File;
}
