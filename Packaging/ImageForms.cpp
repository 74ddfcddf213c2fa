#include "ImageForms.h"

#include <algorithm>

#include "TextFields.h"
#include "LayoutFaultText.h"
#include "Layout/LittleEndian.h"
#include "Layout/Pe32.h"
#include "Layout/Te.h"
#include "Library/PiLayoutLib.h"

namespace {

bool IsTe(const std::vector<std::uint8_t> &Image) {
  return IsTeImage(Image.data(), static_cast<UINT32>(std::min<std::size_t>(Image.size(), kMaxImageSize)));
}

}  // namespace

bool ReadImageHeaders(const std::vector<std::uint8_t> &Image, PE32_INFO &Info, std::string &Error) {
  LAYOUT_FAULT Fault;
  const auto Size = static_cast<UINT32>(Image.size());
  const bool Ok = Image.size() <= kMaxImageSize && CheckImageHeaders(Image.data(), Size, kMaxImageSize, Info, Fault);
  if (!Ok) {
    Error = Image.size() > kMaxImageSize ? "larger than 16 MiB" : LayoutFaultText(Fault);
  }
  return Ok;
}

std::optional<std::vector<std::uint8_t>> ToTe(const std::vector<std::uint8_t> &Pe32, std::string &Error) {
  using namespace pe32;
  PE32_INFO Info;
  if (IsTe(Pe32) || !ReadImageHeaders(Pe32, Info, Error)) {
    Error = IsTe(Pe32) ? "already a TE image" : Error;
    return std::nullopt;
  }
  if (Info.NumberOfSections > 0xFF || Info.Subsystem > 0xFF || Info.SectionTable > 0xFFFF) {
    Error = "section count, subsystem or header size does not fit a TE header";
    return std::nullopt;
  }
  const UINT8 *Optional = Pe32.data() + Info.OptionalOffset;
  std::vector<std::uint8_t> Te(te::Size, 0);
  WriteLe(&Te[te::Signature], 2, te::kSignature);
  WriteLe(&Te[te::Machine], 2, Info.Machine);
  Te[te::NumberOfSections] = static_cast<std::uint8_t>(Info.NumberOfSections);
  Te[te::Subsystem] = static_cast<std::uint8_t>(Info.Subsystem);
  WriteLe(&Te[te::StrippedSize], 2, Info.SectionTable);
  WriteLe(&Te[te::AddressOfEntryPoint], 4, Info.EntryPoint);
  WriteLe(&Te[te::BaseOfCode], 4, ReadLe32(Optional + optional_header::BaseOfCode));
  WriteLe(&Te[te::ImageBase], 8, Info.ImageBase);
  for (const auto &[Entry, At] : {std::pair{data_directory::kBaseRelocation, te::RelocationDirectory},
                                  std::pair{data_directory::kDebug, te::DebugDirectory}}) {
    if (Info.NumberOfDirectories > Entry) {
      std::copy_n(Optional + DirectoryOffset(Entry), data_directory::EntrySize, Te.begin() + At);
    }
  }
  Te.insert(Te.end(), Pe32.begin() + Info.SectionTable, Pe32.end());
  return Te;
}

std::optional<std::vector<std::uint8_t>> RebaseImage(std::vector<std::uint8_t> Image, std::uint32_t Address,
                                                     std::string &Error) {
  PE32_INFO Info;
  if (!ReadImageHeaders(Image, Info, Error)) {
    return std::nullopt;
  }
  // Where RVA 0 lies once the image's first byte lies at Address.
  const std::uint32_t Base = RvaZeroAddress(Info, Address);
  const std::uint32_t Delta = Base - Info.ImageBase;
  const auto Size = static_cast<UINT32>(Image.size());
  PE32_RELOCATION_CURSOR Cursor{};
  LAYOUT_FAULT Fault;
  UINT32 Type, Target, Site, Applied = 0;
  while (NextPe32Relocation(Image.data(), Size, Info, Cursor, Type, Target, Fault)) {
    if (Type != pe32::relocation_block::kHighLow || !Pe32FileOffset(Image.data(), Size, Info, Target, Site) ||
        Site + 4ull > Image.size()) {
      Error = "a base relocation that cannot be applied in the file (type " + std::to_string(Type) + ", RVA " +
              std::to_string(Target) + ")";
      return std::nullopt;
    }
    WriteLe(&Image[Site], 4, ReadLe32(&Image[Site]) + Delta);
    Applied++;
  }
  if (Fault.Check != LAYOUT_OK) {
    Error = LayoutFaultText(Fault);
    return std::nullopt;
  }
  // Without relocations only the image base would move, and every absolute
  // address inside would still point where the image was linked.
  if (Applied == 0 && Delta != 0) {
    Error = "no base relocations: the image cannot be moved from " + Hex(Info.ImageBase, 8) + " to " + Hex(Base, 8);
    return std::nullopt;
  }
  if (IsTe(Image)) {
    WriteLe(&Image[te::ImageBase], 8, Base);
  } else {
    WriteLe(&Image[Info.OptionalOffset + pe32::optional_header::ImageBase], 4, Base);
  }
  return Image;
}
