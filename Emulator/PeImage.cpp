#include "PeImage.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

namespace {

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
      Text += static_cast<char>(Bytes[Offset++]);
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

void ReadRelocations(PeImage &Image, Reader &In) {
  std::uint32_t Rva = Image.RelocDirectoryRva;
  const std::uint32_t End = Image.RelocDirectoryRva + Image.RelocDirectorySize;
  while (Rva + 8 <= End) {
    const auto Offset = FileOffsetOf(Image, Rva);
    if (!Offset) {
      Image.OtherRelocations.push_back("relocation block outside every section");
      return;
    }
    const std::uint32_t Page = In.U32(*Offset);
    const std::uint32_t BlockSize = In.U32(*Offset + 4);
    if (BlockSize < 8 || !In.Ok) {
      Image.OtherRelocations.push_back("malformed relocation block");
      return;
    }
    for (std::uint32_t Entry = 8; Entry + 2 <= BlockSize; Entry += 2) {
      const std::uint32_t Word = In.U16(*Offset + Entry);
      const std::uint32_t Type = Word >> 12;
      if (Type == 3) {
        Image.HighLowRelocations.push_back(Page + (Word & 0xFFFu));
      } else if (Type != 0) {
        Image.OtherRelocations.push_back("relocation type " + std::to_string(Type));
      }
    }
    Rva += BlockSize;
  }
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
  if (In.U16(0) != 0x5A4D) {
    Error = "no MZ header";
    return std::nullopt;
  }
  const std::uint32_t Pe = In.U32(0x3C);
  if (In.U32(Pe) != 0x00004550) {
    Error = "no PE signature";
    return std::nullopt;
  }
  Image.Machine = static_cast<std::uint16_t>(In.U16(Pe + 4));
  const std::uint32_t SectionCount = In.U16(Pe + 6);
  const std::uint32_t OptionalSize = In.U16(Pe + 20);
  Image.FileCharacteristics = static_cast<std::uint16_t>(In.U16(Pe + 22));
  const std::uint32_t Optional = Pe + 24;
  Image.Magic = static_cast<std::uint16_t>(In.U16(Optional));
  if (Image.Magic != 0x10B) {
    Error = "not a PE32 image (optional header magic " + std::to_string(Image.Magic) + ")";
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
  if (DirectoryCount > 1) {
    Image.ImportDirectoryRva = In.U32(Optional + 96 + 8);
    Image.ImportDirectorySize = In.U32(Optional + 96 + 12);
  }
  if (DirectoryCount > 5) {
    Image.RelocDirectoryRva = In.U32(Optional + 96 + 40);
    Image.RelocDirectorySize = In.U32(Optional + 96 + 44);
  }
  const std::uint32_t Table = Optional + OptionalSize;
  for (std::uint32_t Index = 0; Index < SectionCount && Index < 96; Index++) {
    const std::uint32_t At = Table + 40 * Index;
    PeSection Section;
    for (std::uint32_t Char = 0; Char < 8 && In.Get(At + Char, 1) != 0; Char++) {
      Section.Name += static_cast<char>(In.Get(At + Char, 1));
    }
    Section.VirtualSize = In.U32(At + 8);
    Section.VirtualAddress = In.U32(At + 12);
    Section.RawSize = In.U32(At + 16);
    Section.RawOffset = In.U32(At + 20);
    Section.Characteristics = In.U32(At + 36);
    if (static_cast<std::uint64_t>(Section.RawOffset) + Section.RawSize > Image.File.size()) {
      Error = "section " + Section.Name + " lies beyond the end of the file";
      return std::nullopt;
    }
    Image.Sections.push_back(Section);
  }
  if (!In.Ok) {
    Error = "truncated headers";
    return std::nullopt;
  }
  if (Image.RelocDirectorySize != 0) {
    ReadRelocations(Image, In);
  }
  if (Image.ImportDirectorySize != 0) {
    ReadImports(Image, In);
  }
  return Image;
}

std::optional<PeImage> ReadPeImage(const std::string &Path, std::string &Error) {
  std::ifstream In(Path, std::ios::binary);
  if (!In) {
    Error = "cannot open " + Path;
    return std::nullopt;
  }
  std::vector<std::uint8_t> Bytes((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
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
