#include "PeImage.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

namespace {

constexpr std::uint64_t kMaxImageFile = 16u << 20;  // 16 MiB: no image of ours is near it
constexpr std::uint32_t kSectionCode = 0x00000020;
constexpr std::uint32_t kSectionInitializedData = 0x00000040;
constexpr std::uint32_t kSectionUninitializedData = 0x00000080;
constexpr std::uint32_t kSectionDiscardable = 0x02000000;
constexpr std::uint32_t kSectionExecute = 0x20000000;
constexpr std::uint32_t kSectionRead = 0x40000000;
constexpr std::uint32_t kSectionWrite = 0x80000000;

struct Reader {
  const std::vector<std::uint8_t> &Bytes;
  bool Ok = true;
  std::uint32_t Get(std::uint64_t Offset, int Size) {
    if (Offset + static_cast<std::uint64_t>(Size) > Bytes.size()) {
      Ok = false;
      return 0;
    }
    std::uint32_t Value = 0;
    for (int Index = Size - 1; Index >= 0; Index--) {
      Value = (Value << 8) | Bytes[Offset + static_cast<std::uint64_t>(Index)];
    }
    return Value;
  }
  std::uint32_t U16(std::uint64_t Offset) { return Get(Offset, 2); }
  std::uint32_t U32(std::uint64_t Offset) { return Get(Offset, 4); }
  std::string CString(std::uint64_t Offset) {
    std::string Text;
    while (Offset < Bytes.size() && Bytes[Offset] != 0 && Text.size() < 256) {
      const std::uint8_t Byte = Bytes[Offset++];
      Text += Byte > 0x20 && Byte < 0x7F ? static_cast<char>(Byte) : '?';  // printable only
    }
    return Text;
  }
};

// File offset of an RVA, through the section that holds it.
std::optional<std::uint32_t> FileOffsetOf(const PeImage &Image, std::uint32_t Rva) {
  for (const PeSection &Section : Image.Sections) {
    if (Rva >= Section.VirtualAddress && Rva - Section.VirtualAddress < Section.RawSize) {
      return Section.RawOffset + (Rva - Section.VirtualAddress);
    }
  }
  if (Rva < Image.SizeOfHeaders) {
    return Rva;
  }
  return std::nullopt;
}

std::string HexText(std::uint64_t Value) {
  char Text[24];
  std::snprintf(Text, sizeof Text, "0x%llX", static_cast<unsigned long long>(Value));
  return Text;
}

// Every block lies inside the directory and every entry inside its block;
// sums are taken in 64 bits, so no size field can make them wrap.
bool ReadRelocations(PeImage &Image, Reader &In, std::string &Error) {
  const std::uint64_t End = static_cast<std::uint64_t>(Image.RelocDirectoryRva) + Image.RelocDirectorySize;
  if (End > Image.SizeOfImage) {
    Error = "base relocation directory (RVA " + HexText(Image.RelocDirectoryRva) + ", size " +
            HexText(Image.RelocDirectorySize) + ") runs past SizeOfImage " + HexText(Image.SizeOfImage);
    return false;
  }
  std::uint64_t Rva = Image.RelocDirectoryRva;
  while (Rva + 8 <= End) {
    const auto Offset = FileOffsetOf(Image, static_cast<std::uint32_t>(Rva));
    if (!Offset) {
      Error = "relocation block at RVA " + HexText(Rva) + " is in no section's file data";
      return false;
    }
    const std::uint32_t Page = In.U32(*Offset);
    const std::uint32_t BlockSize = In.U32(*Offset + 4);
    if (!In.Ok) {
      Error = "relocation block at RVA " + HexText(Rva) + " is cut off by the end of the file";
      return false;
    }
    if (BlockSize < 8 || BlockSize > End - Rva || BlockSize % 2 != 0) {
      Error = "relocation block at RVA " + HexText(Rva) + " has SizeOfBlock " + HexText(BlockSize) +
              " (8 to " + HexText(End - Rva) + ", even)";
      return false;
    }
    for (std::uint32_t Entry = 8; Entry + 2 <= BlockSize; Entry += 2) {
      const std::uint32_t Word = In.U16(*Offset + Entry);
      const std::uint32_t Type = Word >> 12;
      const std::uint64_t Target = static_cast<std::uint64_t>(Page) + (Word & 0xFFFu);
      if (!In.Ok) {
        Error = "relocation block at RVA " + HexText(Rva) + " is cut off by the end of the file";
        return false;
      }
      if (Type == 3 && Target + 4 > Image.SizeOfImage) {
        Error = "HIGHLOW relocation of RVA " + HexText(Target) + " lies outside the image (SizeOfImage " +
                HexText(Image.SizeOfImage) + ")";
        return false;
      }
      if (Type == 3) {
        Image.HighLowRelocations.push_back(static_cast<std::uint32_t>(Target));
      } else if (Type != 0) {
        Image.OtherRelocations.push_back("relocation type " + std::to_string(Type));
      }
    }
    Rva += BlockSize;
  }
  return true;
}

void ReadImports(PeImage &Image, Reader &In) {
  auto Descriptor = FileOffsetOf(Image, Image.ImportDirectoryRva);
  for (int Guard = 0; Descriptor && Guard < 64; Guard++, *Descriptor += 20) {
    const std::uint32_t NameRva = In.U32(*Descriptor + 12);
    const std::uint32_t ThunkRva = In.U32(*Descriptor) != 0 ? In.U32(*Descriptor) : In.U32(*Descriptor + 16);
    if (NameRva == 0 || !In.Ok) {
      return;
    }
    const auto NameOffset = FileOffsetOf(Image, NameRva);
    const std::string Dll = NameOffset ? In.CString(*NameOffset) : "?";
    auto Thunk = FileOffsetOf(Image, ThunkRva);
    bool Any = false;
    for (int Count = 0; Thunk && Count < 1024; Count++, *Thunk += 4) {
      const std::uint32_t Entry = In.U32(*Thunk);
      if (Entry == 0 || !In.Ok) {
        break;
      }
      Any = true;
      const auto Hint = (Entry & 0x80000000u) == 0 ? FileOffsetOf(Image, Entry) : std::nullopt;
      Image.Imports.push_back(Dll + "!" + (Hint ? In.CString(*Hint + 2) : "#" + std::to_string(Entry & 0xFFFF)));
    }
    if (!Any) {
      Image.Imports.push_back(Dll);
    }
  }
}

}  // namespace

std::optional<PeImage> ParsePeImage(std::vector<std::uint8_t> Bytes, std::string &Error) {
  PeImage Image;
  Image.File = std::move(Bytes);
  Reader In{Image.File};
  const std::uint64_t FileSize = Image.File.size();
  if (FileSize > kMaxImageFile) {
    Error = "file of " + std::to_string(FileSize) + " bytes is larger than the 16 MiB an image may be";
    return std::nullopt;
  }
  if (FileSize < 0x40 || In.U16(0) != 0x5A4D) {
    Error = FileSize < 0x40 ? "file of " + std::to_string(FileSize) + " bytes is shorter than a DOS header (64)"
                            : "no MZ header";
    return std::nullopt;
  }
  const std::uint32_t Pe = In.U32(0x3C);
  if (static_cast<std::uint64_t>(Pe) + 24 > FileSize) {
    Error = "e_lfanew " + HexText(Pe) + " leaves no room for the PE and COFF headers in a file of " +
            std::to_string(FileSize) + " bytes";
    return std::nullopt;
  }
  if (In.U32(Pe) != 0x00004550) {
    Error = "no PE signature at e_lfanew " + HexText(Pe);
    return std::nullopt;
  }
  Image.Machine = static_cast<std::uint16_t>(In.U16(Pe + 4));
  const std::uint32_t SectionCount = In.U16(Pe + 6);
  const std::uint32_t OptionalSize = In.U16(Pe + 20);
  Image.FileCharacteristics = static_cast<std::uint16_t>(In.U16(Pe + 22));
  const std::uint32_t Optional = Pe + 24;
  if (OptionalSize < 96 || static_cast<std::uint64_t>(Optional) + OptionalSize > FileSize) {
    Error = "SizeOfOptionalHeader " + std::to_string(OptionalSize) +
            (OptionalSize < 96 ? " is smaller than a PE32 optional header (96)" : " runs past the end of the file");
    return std::nullopt;
  }
  Image.Magic = static_cast<std::uint16_t>(In.U16(Optional));
  if (Image.Magic != 0x10B) {
    Error = "not a PE32 image (optional header magic " + HexText(Image.Magic) + ", PE32 is 0x10B)";
    return std::nullopt;
  }
  Image.EntryPoint = In.U32(Optional + 16);
  Image.ImageBase = In.U32(Optional + 28);
  Image.SectionAlignment = In.U32(Optional + 32);
  Image.FileAlignment = In.U32(Optional + 36);
  Image.SizeOfImage = In.U32(Optional + 56);
  Image.SizeOfHeaders = In.U32(Optional + 60);
  Image.Subsystem = static_cast<std::uint16_t>(In.U16(Optional + 68));
  Image.DllCharacteristics = static_cast<std::uint16_t>(In.U16(Optional + 70));
  const std::uint32_t DirectoryCount = In.U32(Optional + 92);
  if (DirectoryCount > 16 || 96 + 8ull * DirectoryCount > OptionalSize) {
    Error = "NumberOfRvaAndSizes " + std::to_string(DirectoryCount) + " does not fit SizeOfOptionalHeader " +
            std::to_string(OptionalSize) + " (at most 16)";
    return std::nullopt;
  }
  if (Image.SizeOfImage == 0 || Image.SizeOfImage > kMaxImageFile) {
    Error = "SizeOfImage " + HexText(Image.SizeOfImage) + " is out of range (1 to 16 MiB)";
    return std::nullopt;
  }
  if (Image.SizeOfHeaders > Image.SizeOfImage || Image.SizeOfHeaders > FileSize) {
    Error = "SizeOfHeaders " + HexText(Image.SizeOfHeaders) + " exceeds SizeOfImage or the file";
    return std::nullopt;
  }
  if (Image.EntryPoint >= Image.SizeOfImage) {
    Error = "AddressOfEntryPoint " + HexText(Image.EntryPoint) + " lies outside the image (SizeOfImage " +
            HexText(Image.SizeOfImage) + ")";
    return std::nullopt;
  }
  if (DirectoryCount > 1) {
    Image.ImportDirectoryRva = In.U32(Optional + 96 + 8);
    Image.ImportDirectorySize = In.U32(Optional + 96 + 12);
  }
  if (DirectoryCount > 5) {
    Image.RelocDirectoryRva = In.U32(Optional + 96 + 40);
    Image.RelocDirectorySize = In.U32(Optional + 96 + 44);
  }
  const std::uint32_t Table = Optional + OptionalSize;
  if (SectionCount == 0 || SectionCount > 96 || Table + 40ull * SectionCount > FileSize) {
    Error = "NumberOfSections " + std::to_string(SectionCount) +
            (SectionCount == 0 || SectionCount > 96 ? " is out of range (1 to 96)"
                                                    : " runs the section table past the end of the file");
    return std::nullopt;
  }
  for (std::uint32_t Index = 0; Index < SectionCount; Index++) {
    const std::uint32_t At = Table + 40 * Index;
    PeSection Section;
    // The name is the file's: anything but a printable character is shown as
    // '?', so that no message or listing carries control bytes or a line break.
    for (std::uint32_t Char = 0; Char < 8 && In.Get(At + Char, 1) != 0; Char++) {
      const std::uint32_t Byte = In.Get(At + Char, 1);
      Section.Name += Byte > 0x20 && Byte < 0x7F ? static_cast<char>(Byte) : '?';
    }
    Section.VirtualSize = In.U32(At + 8);
    Section.VirtualAddress = In.U32(At + 12);
    Section.RawSize = In.U32(At + 16);
    Section.RawOffset = In.U32(At + 20);
    Section.Characteristics = In.U32(At + 36);
    if (static_cast<std::uint64_t>(Section.RawOffset) + Section.RawSize > Image.File.size()) {
      Error = "section " + Section.Name + " (PointerToRawData " + HexText(Section.RawOffset) + ", SizeOfRawData " +
              HexText(Section.RawSize) + ") lies beyond the end of the file";
      return std::nullopt;
    }
    const std::uint64_t Loaded = std::min(Section.RawSize, Section.VirtualSize);
    if (Section.VirtualAddress + Loaded > Image.SizeOfImage) {
      Error = "section " + Section.Name + " (VirtualAddress " + HexText(Section.VirtualAddress) +
              ") lies outside the image (SizeOfImage " + HexText(Image.SizeOfImage) + ")";
      return std::nullopt;
    }
    Image.Sections.push_back(Section);
  }
  if (!In.Ok) {
    Error = "truncated headers";
    return std::nullopt;
  }
  if (Image.RelocDirectorySize != 0 && !ReadRelocations(Image, In, Error)) {
    return std::nullopt;
  }
  if (Image.ImportDirectorySize != 0) {
    ReadImports(Image, In);
  }
  return Image;
}

bool ReadFileBounded(const std::string &Path, std::vector<std::uint8_t> &Bytes, std::string &Error) {
  std::ifstream In(Path, std::ios::binary);
  if (!In) {
    Error = "cannot open " + Path;
    return false;
  }
  In.seekg(0, std::ios::end);
  const std::streamoff Size = In.tellg();
  In.seekg(0, std::ios::beg);
  if (Size < 0 || static_cast<std::uint64_t>(Size) > kMaxImageFile) {
    Error = Path + ": larger than the 16 MiB a module file may be";
    return false;
  }
  Bytes.assign(static_cast<std::size_t>(Size), 0);
  In.read(reinterpret_cast<char *>(Bytes.data()), Size);
  Bytes.resize(static_cast<std::size_t>(In.gcount()));
  return true;
}

std::optional<PeImage> ReadPeImage(const std::string &Path, std::string &Error) {
  std::vector<std::uint8_t> Bytes;
  if (!ReadFileBounded(Path, Bytes, Error)) {
    return std::nullopt;
  }
  return ParsePeImage(std::move(Bytes), Error);
}

std::vector<std::uint8_t> LayOutImage(const PeImage &Image, std::uint32_t LoadBase) {
  std::vector<std::uint8_t> Memory(Image.SizeOfImage, 0);
  std::memcpy(Memory.data(), Image.File.data(), std::min<std::size_t>(Image.SizeOfHeaders, Memory.size()));
  for (const PeSection &Section : Image.Sections) {
    const std::uint32_t Length = std::min(Section.RawSize, Section.VirtualSize);
    if (static_cast<std::uint64_t>(Section.VirtualAddress) + Length <= Memory.size()) {
      std::memcpy(Memory.data() + Section.VirtualAddress, Image.File.data() + Section.RawOffset, Length);
    }
  }
  const std::uint32_t Delta = LoadBase - Image.ImageBase;
  for (std::uint32_t Rva : Image.HighLowRelocations) {
    if (static_cast<std::uint64_t>(Rva) + 4 <= Memory.size()) {
      std::uint32_t Value;
      std::memcpy(&Value, Memory.data() + Rva, 4);
      Value += Delta;
      std::memcpy(Memory.data() + Rva, &Value, 4);
    }
  }
  return Memory;
}

std::string SectionFlagsText(std::uint32_t Characteristics) {
  const std::pair<std::uint32_t, const char *> Names[] = {
      {kSectionCode, "code"},       {kSectionInitializedData, "initialized data"},
      {kSectionUninitializedData, "uninitialized data"}, {kSectionDiscardable, "discardable"},
      {kSectionExecute, "execute"}, {kSectionRead, "read"}, {kSectionWrite, "write"}};
  std::string Text;
  for (const auto &[Bit, Name] : Names) {
    if ((Characteristics & Bit) != 0) {
      Text += Text.empty() ? Name : std::string(", ") + Name;
    }
  }
  return Text;
}

std::vector<std::string> CheckModuleImageContract(const PeImage &Image) {
  std::vector<std::string> Broken;
  auto Expect = [&Broken](bool Holds, const std::string &What) {
    if (!Holds) {
      Broken.push_back(What);
    }
  };
  Expect(Image.Machine == 0x14C, "machine is not IA-32 (0x14C)");
  Expect(Image.Subsystem == 11, "subsystem is not EFI boot service driver (11)");
  Expect(Image.SectionAlignment == 32, "section alignment is not 32");
  Expect(Image.FileAlignment == 32, "file alignment is not 32");
  Expect(Image.ImageBase == 0, "image base is not 0");
  Expect(!Image.HighLowRelocations.empty(), "no base relocations");
  Expect(Image.OtherRelocations.empty(), "base relocations other than HIGHLOW");
  Expect(Image.ImportDirectorySize == 0 && Image.Imports.empty(), "has an import table");
  // Code, constants and variables share the one section: executable and writable.
  const std::uint32_t Merged = kSectionCode | kSectionExecute | kSectionRead | kSectionWrite;
  int Loaded = 0;
  const PeSection *Code = nullptr;
  for (const PeSection &Section : Image.Sections) {
    if (Section.Name == ".reloc") {
      continue;
    }
    Loaded++;
    Code = &Section;
  }
  Expect(Loaded == 1, "code, constant data and variables are not in one section (" + std::to_string(Loaded) +
                          " sections besides .reloc)");
  Expect(Code == nullptr || (Code->Characteristics & Merged) == Merged,
         "the section is not code with execute, read and write");
  Expect(Code != nullptr && Image.EntryPoint >= Code->VirtualAddress &&
             Image.EntryPoint - Code->VirtualAddress < Code->VirtualSize,
         "entry point is not inside the code section");
  return Broken;
}
