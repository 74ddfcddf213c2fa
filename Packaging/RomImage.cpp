#include "RomImage.h"

#include "FirmwarePacking.h"
#include "ImageForms.h"
#include "Layout/LittleEndian.h"
#include "Layout/Te.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

using rom_layout::kResetVector;
using rom_layout::kSecSize;
constexpr std::size_t kMaxOptionsText = 255;          // what the foundation's options buffer holds

std::size_t Align8(std::size_t Value) { return (Value + 7) & ~static_cast<std::size_t>(7); }

std::optional<Bytes> TeOf(const Bytes &Image, std::string &Error) {
  if (IsTeImage(Image.data(), static_cast<UINT32>(std::min<std::size_t>(Image.size(), kMaxImageSize)))) {
    return Image;
  }
  return ToTe(Image, Error);
}

// The PEIM built twice: once to find where its image lands in flash, then
// with the image rebased there (the file's layout does not change).
std::optional<Bytes> PlacedPeim(PeimContents Peim, std::size_t Offset, RomFile &Row, std::string &Error) {
  const std::optional<Bytes> Draft = BuildPeim(Peim, Error);
  if (!Draft) {
    Error = Peim.UiName + ": " + Error;
    return std::nullopt;
  }
  const auto File = ParseFirmwareFile(*Draft, 0, Draft->size(), Error);
  if (!File || File->FindImage() == nullptr) {
    return std::nullopt;
  }
  // The section's payload follows its 4-byte header.
  Row.ImageAddress = static_cast<std::uint32_t>(kRomBase + Offset + File->FindImage()->Offset + 4);
  auto Rebased = RebaseImage(Peim.Image, Row.ImageAddress, Error);
  if (!Rebased) {
    Error = Peim.UiName + ": " + Error;
    return std::nullopt;
  }
  PE32_INFO Info;
  if (!ReadImageHeaders(*Rebased, Info, Error)) {
    return std::nullopt;
  }
  Row.ImageBase = RvaZeroAddress(Info, Row.ImageAddress);
  Peim.Image = std::move(*Rebased);
  return BuildPeim(Peim, Error);
}

}  // namespace

std::optional<std::string> WatchOptions(const LinkMap &Map, std::string &Error) {
  std::string Options;
  for (const auto &[Key, Symbol] : {std::pair{"sink", "_SerialWrite"}, std::pair{"halt", "_HaltProcessor"}}) {
    const std::optional<std::uint32_t> Rva = Map.Rva(Symbol);
    if (!Rva) {
      Error = std::string("no ") + Symbol + " in the link map: the foundation could not watch it";
      return std::nullopt;
    }
    Options += (Options.empty() ? "" : " ") + std::string(Key) + "=" + Hex(*Rva, 8);
  }
  return Options;
}

std::optional<Bytes> BuildRom(const RomParts &Parts, std::vector<RomFile> &Layout, std::string &Error) {
  Layout.clear();
  if (Parts.Sec.size() > kSecSize || Parts.Sec.size() <= kResetVector) {
    Error = "the SEC is " + std::to_string(Parts.Sec.size()) + " bytes: its reset vector lies at byte " +
            std::to_string(kResetVector) + " and it may be at most " + std::to_string(kSecSize);
    return std::nullopt;
  }
  if (Parts.Foundation.empty()) {
    Error = "the foundation is empty";
    return std::nullopt;
  }
  const auto Module = TeOf(Parts.Module, Error);
  if (!Module) {
    Error = "SocPreInit: " + Error;
    return std::nullopt;
  }
  std::vector<PeimContents> Peims = {{kSocPreInitFileGuid, Parts.ModuleDepex, *Module, "SocPreInit", Parts.Version}};
  if (!Parts.WithoutBusInfoPei) {
    const auto BusInfo = TeOf(Parts.BusInfoPei, Error);
    if (!BusInfo) {
      Error = "BusInfoPei: " + Error;
      return std::nullopt;
    }
    // Depends on nothing: TRUE, END.
    const PeimContents Peim{ToGuid16(gBusInfoPeiFileGuid), {depex::kTrue, depex::kEnd}, *BusInfo, "BusInfoPei", Parts.Version};
    Peims.insert(Parts.BusInfoPeiFirst ? Peims.begin() : Peims.end(), Peim);
  }
  std::vector<PlacedFile> Files;
  std::size_t Offset = volume::MinHeaderLength;
  for (const PeimContents &Peim : Peims) {
    RomFile Row;
    Row.Name = Peim.UiName;
    auto File = PlacedPeim(Peim, Offset, Row, Error);
    if (!File) {
      return std::nullopt;
    }
    Row.Offset = static_cast<std::uint32_t>(Offset);
    Row.Size = static_cast<std::uint32_t>(File->size());
    Layout.push_back(Row);
    Files.push_back({Offset, std::move(*File)});
    Offset = Align8(Offset + Files.back().Bytes.size());
  }
  // The options follow a first word, as the foundation's parser takes them.
  std::string OptionsText = "SocPreInit.rom " + Parts.Options;
  if (OptionsText.size() > kMaxOptionsText) {
    Error = "the options (" + std::to_string(OptionsText.size()) + " bytes) are longer than the " +
            std::to_string(kMaxOptionsText) + " the foundation reads";
    return std::nullopt;
  }

  // The volume top file: the foundation where it is linked to execute in
  // place (its data begins at kFoundationBase), zeros, then the SEC (padded
  // to 256 with its reset vector last), ending the volume.
  constexpr std::size_t kFoundationRoom = rom_layout::kFoundationLimit - rom_layout::kFoundationBase;
  if (Parts.Foundation.size() > kFoundationRoom) {
    Error = "the foundation is " + std::to_string(Parts.Foundation.size()) + " bytes: from " +
            Hex(rom_layout::kFoundationBase, 8) + " it must end by the SEC at " + Hex(rom_layout::kFoundationLimit, 8) +
            " (" + std::to_string(kFoundationRoom) + " bytes)";
    return std::nullopt;
  }
  Bytes Top = Parts.Foundation;
  Top.resize(kFoundationRoom, 0);
  Bytes Sec = Parts.Sec;
  Sec.resize(kSecSize, 0);  // linked at 4 GiB - 256; its reset vector's jump is in its last 16 bytes
  Top.insert(Top.end(), Sec.begin(), Sec.end());
  const std::optional<Bytes> TopFile = BuildRawFile(ToGuid16(gVolumeTopFileGuid), Top, Error);
  const std::size_t OptionsSize = firmware_file::HeaderSize + OptionsText.size();
  if (!TopFile || TopFile->size() > kRomSize || kRomSize - TopFile->size() < Align8(Offset + OptionsSize)) {
    Error = "the ROM's files do not fit below the foundation at " + Hex(rom_layout::kFoundationBase, 8);
    return std::nullopt;
  }
  const std::size_t TopOffset = kRomSize - TopFile->size();
  static_assert((rom_layout::kFoundationBase - rom_layout::kRomBase - firmware_file::HeaderSize) % 8 == 0,
                "the volume top file's header must lie 8-aligned just below the foundation");
  // Files follow one another up to the volume top file: a pad file (its data
  // the erase value) fills the space between. A gap too small for a pad
  // file's header goes to the options as trailing spaces.
  std::size_t Gap = TopOffset - Align8(Offset + OptionsSize);
  if (Gap > 0 && Gap < firmware_file::HeaderSize) {
    OptionsText.append(Gap, ' ');  // trailing blanks: the foundation stops reading at its limit
    Gap = 0;
  }
  const std::optional<Bytes> OptionsFile =
      BuildRawFile(ToGuid16(gRomOptionsFileGuid), Bytes(OptionsText.begin(), OptionsText.end()), Error);
  if (!OptionsFile) {
    return std::nullopt;
  }
  Files.push_back({Offset, *OptionsFile});
  Layout.push_back({"options", static_cast<std::uint32_t>(Offset), static_cast<std::uint32_t>(Files.back().Bytes.size())});
  Offset = Align8(Offset + Files.back().Bytes.size());
  if (Gap > 0) {
    const std::optional<Bytes> Pad = BuildPadFile(Gap, Error);
    if (!Pad) {
      return std::nullopt;
    }
    Files.push_back({Offset, *Pad});
    Layout.push_back({"pad", static_cast<std::uint32_t>(Offset), static_cast<std::uint32_t>(Gap)});
  }
  Files.push_back({TopOffset, *TopFile});
  Layout.push_back({"volume top file (foundation and SEC)", static_cast<std::uint32_t>(TopOffset),
                    static_cast<std::uint32_t>(TopFile->size())});
  return BuildVolumeOf(Files, kRomSize, Error);
}
