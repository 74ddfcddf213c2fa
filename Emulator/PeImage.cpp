#include "PeImage.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "FileBytes.h"
#include "TextFields.h"
#include "LayoutFaultText.h"
#include "Layout/LittleEndian.h"
#include "Layout/Pe32.h"
#include "Layout/Te.h"
#include "Library/PiLayoutLib.h"

namespace {


using namespace pe32;

struct Reader {
  const std::vector<std::uint8_t> &Bytes;
  std::optional<std::uint32_t> U32(std::uint64_t Offset) const {
    if (Offset + 4 > Bytes.size()) {
      return std::nullopt;
    }
    return ReadLe32(&Bytes[Offset]);
  }
};

void ReadImports(PeImage &Image, const PE32_INFO &Info) {
  const Reader In{Image.File};
  const auto *File = Image.File.data();
  const auto Size = static_cast<UINT32>(Image.File.size());
  auto OffsetOf = [&](std::uint32_t Rva) -> std::optional<std::uint32_t> {
    UINT32 Offset;
    return Pe32FileOffset(File, Size, Info, Rva, Offset) ? std::optional<std::uint32_t>(Offset) : std::nullopt;
  };
  auto Descriptor = OffsetOf(Info.ImportRva);
  for (int Guard = 0; Descriptor && Guard < 64; Guard++, *Descriptor += import_descriptor::Size) {
    const auto NameRva = In.U32(*Descriptor + import_descriptor::Name);
    const auto Original = In.U32(*Descriptor + import_descriptor::OriginalFirstThunk);
    const auto First = In.U32(*Descriptor + import_descriptor::FirstThunk);
    if (!NameRva || !Original || !First || *NameRva == 0) {
      return;
    }
    const auto NameOffset = OffsetOf(*NameRva);
    const std::string Dll = NameOffset ? PrintableText(Image.File, *NameOffset, 256) : "?";
    auto Thunk = OffsetOf(*Original != 0 ? *Original : *First);
    bool Any = false;
    for (int Count = 0; Thunk && Count < 1024; Count++, *Thunk += import_descriptor::kThunkSize) {
      const auto Entry = In.U32(*Thunk);
      if (!Entry || *Entry == 0) {
        break;
      }
      Any = true;
      const auto Hint = (*Entry & import_descriptor::kByOrdinal) == 0 ? OffsetOf(*Entry) : std::nullopt;
      Image.Imports.push_back(Dll + "!" +
                              (Hint ? PrintableText(Image.File, *Hint + import_descriptor::kHintSize, 256)
                                    : "#" + std::to_string(*Entry & 0xFFFF)));
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
  const std::uint64_t FileSize = Image.File.size();
  if (FileSize > kMaxImageSize) {
    Error = "file of " + std::to_string(FileSize) + " bytes is larger than the 16 MiB an image may be";
    return std::nullopt;
  }
  const UINT8 *File = Image.File.data();
  const auto Size = static_cast<UINT32>(FileSize);
  PE32_INFO Info;
  LAYOUT_FAULT Fault;
  auto Refused = [&]() {
    Error = LayoutFaultText(Fault, &Image.File);
    return std::nullopt;
  };
  Image.Te = IsTeImage(File, Size);
  if (!CheckImageHeaders(File, Size, kMaxImageSize, Info, Fault)) {
    return Refused();
  }
  Image.StrippedSize = Info.StrippedSize;
  Image.Machine = Info.Machine;
  Image.FileCharacteristics = Info.Characteristics;
  Image.Magic = Info.Magic;
  Image.EntryPoint = Info.EntryPoint;
  Image.ImageBase = Info.ImageBase;
  Image.SectionAlignment = Info.SectionAlignment;
  Image.FileAlignment = Info.FileAlignment;
  Image.SizeOfImage = Info.SizeOfImage;
  Image.SizeOfHeaders = Info.SizeOfHeaders;
  Image.Subsystem = Info.Subsystem;
  Image.DllCharacteristics = Info.DllCharacteristics;
  Image.ImportDirectoryRva = Info.ImportRva;
  Image.ImportDirectorySize = Info.ImportSize;
  Image.RelocDirectoryRva = Info.RelocRva;
  Image.RelocDirectorySize = Info.RelocSize;
  for (UINT32 Index = 0; Index < Info.NumberOfSections; Index++) {
    PE32_SECTION Section;
    if (!ReadPe32Section(File, Size, Info, Index, Section, Fault)) {
      return Refused();
    }
    Image.Sections.push_back({SectionName(Image.File, Section.HeaderOffset), Section.VirtualAddress,
                              Section.VirtualSize, Section.RawOffset, Section.RawSize, Section.LoadedSize,
                              Section.PointerToRawData, Section.Characteristics});
  }
  if (!CheckExecutesInPlace(File, Size, Info, Fault)) {
    Image.NotInPlace = LayoutFaultText(Fault, &Image.File);
  }
  PE32_RELOCATION_CURSOR Cursor{};
  UINT32 Type, Target;
  while (NextPe32Relocation(File, Size, Info, Cursor, Type, Target, Fault)) {
    if (Type == relocation_block::kHighLow) {
      Image.HighLowRelocations.push_back(Target);
    } else {
      Image.OtherRelocations.push_back("relocation type " + std::to_string(Type));
    }
  }
  if (Fault.Check != LAYOUT_OK) {
    return Refused();
  }
  if (Info.ImportSize != 0) {
    ReadImports(Image, Info);
  }
  return Image;
}

std::optional<PeImage> ReadPeImage(const std::string &Path, std::string &Error) {
  std::vector<std::uint8_t> Bytes;
  if (!ReadFileBytes(Path, Bytes, Error)) {
    return std::nullopt;
  }
  return ParsePeImage(std::move(Bytes), Error);
}

std::vector<std::uint8_t> LayOutImage(const PeImage &Image, std::uint32_t LoadBase) {
  std::vector<std::uint8_t> Memory(Image.SizeOfImage, 0);
  std::memcpy(Memory.data(), Image.File.data(), std::min<std::size_t>(Image.SizeOfHeaders, Memory.size()));
  for (const PeSection &Section : Image.Sections) {
    const std::uint64_t Length = Section.LoadedSize;
    if (Section.VirtualAddress + Length <= Memory.size() && Section.RawOffset + Length <= Image.File.size()) {
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
  using namespace pe32::section_flags;
  const std::pair<std::uint32_t, const char *> Names[] = {
      {kCode, "code"},       {kInitializedData, "initialized data"},
      {kUninitializedData, "uninitialized data"}, {kDiscardable, "discardable"},
      {kExecute, "execute"}, {kRead, "read"}, {kWrite, "write"}};
  std::string Text;
  for (const auto &[Bit, Name] : Names) {
    if ((Characteristics & Bit) != 0) {
      Text += Text.empty() ? Name : std::string(", ") + Name;
    }
  }
  return Text;
}

bool ExecutesInPlace(const PeImage &Image) { return Image.NotInPlace.empty(); }

std::vector<std::string> CheckModuleImageContract(const PeImage &Image) {
  std::vector<std::string> Broken;
  auto Expect = [&Broken](bool Holds, const std::string &What) {
    if (!Holds) {
      Broken.push_back(What);
    }
  };
  Expect(Image.Machine == pe32::kMachineI386, "machine is not IA-32 (0x14C)");
  Expect(Image.Subsystem == pe32::kSubsystemEfiBootServiceDriver, "subsystem is not EFI boot service driver (11)");
  // A TE image has no alignments, and is rebased to where it runs.
  Expect(Image.Te || Image.SectionAlignment == 32, "section alignment is not 32");
  Expect(Image.Te || Image.FileAlignment == 32, "file alignment is not 32");
  Expect(Image.Te || Image.ImageBase == 0, "image base is not 0");
  Expect(!Image.HighLowRelocations.empty(), "no base relocations");
  Expect(Image.OtherRelocations.empty(), "base relocations other than HIGHLOW");
  Expect(Image.ImportDirectorySize == 0 && Image.Imports.empty(), "has an import table");
  Expect(ExecutesInPlace(Image), "it cannot execute in place: " + Image.NotInPlace);
  // Code, constants and variables share the one section: executable and writable.
  using namespace pe32::section_flags;
  const std::uint32_t Merged = kCode | kExecute | kRead | kWrite;
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
