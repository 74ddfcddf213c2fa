#include "SymbolFile.h"

#include <cstring>
#include <set>

#include "FirmwarePacking.h"
#include "ImageForms.h"
#include "LayoutFaultText.h"
#include "Layout/LittleEndian.h"
#include "Layout/Pe32.h"

namespace {

// DWARF: the attribute that carries a linkage name, the one that takes its
// place (a free-text description, which gdb does not read; both codes are
// one byte long, so no offset in the file moves), and the one form that
// carries a value inside the abbreviation table itself.
constexpr std::uint8_t kDwAtLinkageName = 0x6E;
constexpr std::uint8_t kDwAtDescription = 0x5A;
constexpr std::uint32_t kDwFormImplicitConst = 0x21;

using Bytes = std::vector<std::uint8_t>;

// A section's name, long names ("/4": an offset into the COFF string table,
// which follows the symbol table) included. Empty when it cannot be read.
std::string SectionName(const Bytes &File, const PE32_INFO &Info, const PE32_SECTION &Section) {
  const char *Raw = reinterpret_cast<const char *>(File.data() + Section.HeaderOffset + pe32::section_header::Name);
  std::string Name(Raw, strnlen(Raw, pe32::section_header::NameSize));
  if (Name.size() < 2 || Name[0] != '/' || Info.TeHeaderSize != 0) {
    return Name;
  }
  std::uint64_t Offset = 0;
  for (std::size_t Index = 1; Index < Name.size(); Index++) {
    if (Name[Index] < '0' || Name[Index] > '9' || Offset > File.size()) {
      return {};
    }
    Offset = Offset * 10 + static_cast<std::uint64_t>(Name[Index] - '0');
  }
  const UINT8 *FileHeader = File.data() + Info.PeOffset + pe32::kSignatureSize;
  const std::uint64_t Strings = ReadLe32(FileHeader + pe32::file_header::PointerToSymbolTable) +
                                std::uint64_t{ReadLe32(FileHeader + pe32::file_header::NumberOfSymbols)} * pe32::kCoffSymbolSize;
  if (Strings + Offset >= File.size()) {
    return {};
  }
  const char *Text = reinterpret_cast<const char *>(File.data() + Strings + Offset);
  return std::string(Text, strnlen(Text, File.size() - (Strings + Offset)));
}

bool FindSection(const Bytes &File, const PE32_INFO &Info, const std::string &Name, PE32_SECTION &Found) {
  for (UINT32 Index = 0; Index < Info.NumberOfSections; Index++) {
    LAYOUT_FAULT Fault;
    if (ReadPe32Section(File.data(), static_cast<UINT32>(File.size()), Info, Index, Found, Fault) &&
        SectionName(File, Info, Found) == Name) {
      return true;
    }
  }
  return false;
}

// The image's headers and its .text section, or false with Error set.
bool ReadText(const Bytes &File, const char *What, PE32_INFO &Info, PE32_SECTION &Text, std::string &Error) {
  if (!ReadImageHeaders(File, Info, Error)) {
    Error = std::string(What) + ": " + Error;
    return false;
  }
  if (!FindSection(File, Info, ".text", Text)) {
    Error = std::string(What) + ": no .text section";
    return false;
  }
  return true;
}

// The HIGHLOW sites of File's relocations that lie in its .text, as offsets
// into .text; false with Error set on a fault or another kind of relocation.
bool TextSites(const Bytes &File, const PE32_INFO &Info, const PE32_SECTION &Text, const char *What,
               std::set<std::uint32_t> &Sites, std::string &Error) {
  PE32_RELOCATION_CURSOR Cursor{};
  LAYOUT_FAULT Fault{};
  UINT32 Type, Target;
  while (NextPe32Relocation(File.data(), static_cast<UINT32>(File.size()), Info, Cursor, Type, Target, Fault)) {
    if (Type != pe32::relocation_block::kHighLow) {
      Error = std::string(What) + ": a base relocation of type " + std::to_string(Type);
      return false;
    }
    if (Target >= Text.VirtualAddress && Target - Text.VirtualAddress < Text.LoadedSize) {
      Sites.insert(Target - Text.VirtualAddress);
    }
  }
  if (Fault.Check != LAYOUT_OK) {
    Error = std::string(What) + ": " + LayoutFaultText(Fault);
    return false;
  }
  return true;
}

// The symbol file holds the image's .text: the same bytes, the same
// relocation sites, and at each site the same address relative to .text.
bool SameCode(const Bytes &Symbols, const Bytes &Image, const std::string &What, std::string &Error) {
  PE32_INFO SymbolInfo, ImageInfo;
  PE32_SECTION SymbolText, ImageText;
  std::set<std::uint32_t> SymbolSites, ImageSites;
  if (!ReadText(Symbols, What.c_str(), SymbolInfo, SymbolText, Error) ||
      !ReadText(Image, "the image", ImageInfo, ImageText, Error) ||
      !TextSites(Symbols, SymbolInfo, SymbolText, What.c_str(), SymbolSites, Error) ||
      !TextSites(Image, ImageInfo, ImageText, "the image", ImageSites, Error)) {
    return false;
  }
  const std::uint32_t Length = ImageText.LoadedSize;
  if (SymbolText.LoadedSize < Length) {
    Error = What + "'s .text (" + Hex(SymbolText.LoadedSize) + " bytes) is shorter than the image's (" +
            Hex(Length) + ")";
    return false;
  }
  SymbolSites.erase(SymbolSites.lower_bound(Length), SymbolSites.end());
  if (SymbolSites != ImageSites) {
    Error = What + " relocates other places of .text than the image";
    return false;
  }
  const std::uint8_t *SymbolCode = Symbols.data() + SymbolText.RawOffset;
  const std::uint8_t *ImageCode = Image.data() + ImageText.RawOffset;
  for (std::uint32_t At = 0; At < Length; At++) {
    if (ImageSites.count(At) != 0 && At + 4ull <= Length) {
      const std::uint32_t SymbolAddress = ReadLe32(SymbolCode + At) - SymbolInfo.ImageBase - SymbolText.VirtualAddress;
      const std::uint32_t ImageAddress = ReadLe32(ImageCode + At) - ImageInfo.ImageBase - ImageText.VirtualAddress;
      if (SymbolAddress != ImageAddress) {
        Error = "the address at .text+" + Hex(At) + " differs between " + What + " and the image";
        return false;
      }
      At += 3;
    } else if (SymbolCode[At] != ImageCode[At]) {
      Error = "the code differs at .text+" + Hex(At) + " between " + What + " and the image (" +
              Hex(SymbolCode[At]) + " against " + Hex(ImageCode[At]) + ")";
      return false;
    }
  }
  return true;
}

// One unsigned or signed LEB128 number of at most 5 bytes in Table[At, End).
bool SkipLeb(const Bytes &Table, std::size_t &At, std::size_t End, std::uint32_t &Value) {
  Value = 0;
  for (int Shift = 0; Shift < 35; Shift += 7) {
    if (At >= End) {
      return false;
    }
    const std::uint8_t Byte = Table[At++];
    Value |= static_cast<std::uint32_t>(Byte & 0x7F) << Shift;
    if ((Byte & 0x80) == 0) {
      return true;
    }
  }
  return false;
}

// Renames DW_AT_linkage_name in every abbreviation of .debug_abbrev.
bool PlainNames(Bytes &File, std::string &Error) {
  PE32_INFO Info;
  PE32_SECTION Abbrev;
  if (!ReadImageHeaders(File, Info, Error) || !FindSection(File, Info, ".debug_abbrev", Abbrev)) {
    Error = "the DWARF link has no .debug_abbrev section (was it linked with /debug:dwarf?)";
    return false;
  }
  std::size_t At = Abbrev.RawOffset;
  const std::size_t End = At + Abbrev.LoadedSize;
  std::uint32_t Code, Tag, Attribute, Form, Ignored;
  // Every abbreviation ends inside the section: a code, a tag, the children
  // flag, then attribute and form pairs up to a pair of zeros.
  bool Cut = false;
  while (At < End) {
    if (!SkipLeb(File, At, End, Code)) {
      Cut = true;
      break;
    }
    if (Code == 0) {
      continue;  // the end of one unit's table
    }
    if (!SkipLeb(File, At, End, Tag) || At >= End) {  // and the children flag
      Cut = true;
      break;
    }
    At++;
    for (;;) {
      const std::size_t AttributeAt = At;
      if (!SkipLeb(File, At, End, Attribute) || !SkipLeb(File, At, End, Form) ||
          (Form == kDwFormImplicitConst && !SkipLeb(File, At, End, Ignored))) {
        Error = "the DWARF abbreviations run past the end of .debug_abbrev";
        return false;
      }
      if (Attribute == 0 && Form == 0) {
        break;
      }
      if (Attribute == kDwAtLinkageName) {
        File[AttributeAt] = kDwAtDescription;
      }
    }
  }
  if (Cut) {
    Error = "the DWARF abbreviations run past the end of .debug_abbrev";
    return false;
  }
  return true;
}

}  // namespace

std::optional<Bytes> MakeSymbolFile(const Bytes &DwarfLink, const Bytes &Image, std::string &Error) {
  if (!SameCode(DwarfLink, Image, "the DWARF link", Error)) {
    return std::nullopt;
  }
  Bytes Symbols = DwarfLink;
  if (!PlainNames(Symbols, Error)) {
    return std::nullopt;
  }
  return Symbols;
}

bool SymbolFileDescribes(const Bytes &SymbolFile, const Bytes &Image, std::string &Error) {
  return SameCode(SymbolFile, Image, "the symbol file", Error);
}

std::optional<std::uint32_t> TextRva(const Bytes &Image, std::string &Error) {
  PE32_INFO Info;
  PE32_SECTION Text;
  if (!ReadText(Image, "the file", Info, Text, Error)) {
    return std::nullopt;
  }
  return Text.VirtualAddress;
}

std::optional<std::uint32_t> SymbolOffset(const Bytes &SymbolFile, const Bytes &Image, std::uint32_t ImageBase,
                                          std::string &Error) {
  PE32_INFO SymbolInfo, ImageInfo;
  PE32_SECTION SymbolText, ImageText;
  if (!ReadText(SymbolFile, "the symbol file", SymbolInfo, SymbolText, Error) ||
      !ReadText(Image, "the image", ImageInfo, ImageText, Error)) {
    return std::nullopt;
  }
  // The symbol file's addresses are its own image base plus RVAs: the offset
  // takes its .text from where the symbol file put it to where the image's lies.
  return ImageBase + ImageText.VirtualAddress - (SymbolInfo.ImageBase + SymbolText.VirtualAddress);
}
