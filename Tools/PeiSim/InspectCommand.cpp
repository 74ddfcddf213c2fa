// pei-sim inspect: prints the properties of a module image and checks them
// against the module image's contract.
#include <cstdio>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "FileBytes.h"
#include "Commands.h"
#include "LinkMap.h"
#include "ModuleImageRun.h"
#include "FirmwarePacking.h"
#include "PeImage.h"

namespace {

// The symbol at Rva in the link map beside the image, if there is one.
std::string SymbolAt(const std::string &ImagePath, std::uint32_t Rva) {
  std::string Error;
  const auto Map = ReadLinkMap(MapPathFor(ImagePath), Error);
  if (Map) {
    for (const auto &[Name, Address] : Map->Rvas) {
      if (Address == Rva) {
        return Name;
      }
    }
  }
  return {};
}

}  // namespace

namespace {

// The PE32 or TE image's properties and the contract checks. MapBeside names the
// file whose link map names the routines.
ExitStatus InspectPe(const std::string &Name, std::vector<std::uint8_t> Bytes, const std::string &MapBeside) {
  std::string Error;
  const auto Image = ParsePeImage(std::move(Bytes), Error);
  if (!Image) {
    std::fprintf(stderr, "pei-sim: %s: not a PE32 or TE image: %s\n", Name.c_str(), Error.c_str());
    return ExitStatus::Failed;
  }
  std::string Out;
  Out += "image: " + Name + " (" + std::to_string(Image->File.size()) + " bytes)\n";
  Out += "machine: 0x" + Hex(Image->Machine, 8).substr(6) + (Image->Machine == 0x14C ? " (IA-32)" : "") + "\n";
  Out += Image->Te ? "format: TE (StrippedSize " + Hex(Image->StrippedSize, 8) + ")\n" : std::string("format: PE32\n");
  Out += "subsystem: " + std::to_string(Image->Subsystem) +
         (Image->Subsystem == 11 ? " (EFI boot service driver)" : "") + "\n";
  if (!Image->Te) {  // a TE header carries no alignments
    Out += "section alignment: " + std::to_string(Image->SectionAlignment) + "\n";
    Out += "file alignment: " + std::to_string(Image->FileAlignment) + "\n";
  }
  Out += "image base: " + Hex(Image->ImageBase, 8) + "\n";
  Out += "size of image: " + std::to_string(Image->SizeOfImage) + "\n";
  const std::string Entry = SymbolAt(MapBeside, Image->EntryPoint);
  Out += "entry point: " + Hex(Image->EntryPoint, 8) + (Entry.empty() ? "" : " (" + Entry + ")") + "\n";
  Out += "sections: " + std::to_string(Image->Sections.size()) + "\n";
  for (const PeSection &Section : Image->Sections) {
    Out += "  " + Section.Name + " rva " + Hex(Section.VirtualAddress, 8) + " size " +
           std::to_string(Section.VirtualSize) + " raw " + std::to_string(Section.RawSize) + " flags " +
           Hex(Section.Characteristics, 8) + " (" + SectionFlagsText(Section.Characteristics) + ")\n";
  }
  Out += std::string("executes in place: ") +
         (!ExecutesInPlace(*Image) ? "no (" + Image->NotInPlace + ")"
          : Image->Te              ? "yes (every section lies at its RVA - StrippedSize + 40)"
                                   : "yes (every section's file offset is its RVA)") +
         "\n";
  Out += "relocations: " + std::to_string(Image->HighLowRelocations.size()) + " HIGHLOW";
  for (const std::string &Other : Image->OtherRelocations) {
    Out += ", " + Other;
  }
  Out += "\nimports: " + std::string(Image->Imports.empty() ? "none" : "") + "\n";
  for (const std::string &Import : Image->Imports) {
    Out += "  " + Import + "\n";
  }
  std::vector<std::string> Broken = CheckModuleImageContract(*Image);
  if (!Entry.empty() && Entry != "_ModuleEntry") {
    Broken.push_back("entry point is " + Entry + ", not ModuleEntry");
  }
  for (const std::string &Each : Broken) {
    Out += "contract broken: " + Each + "\n";
  }
  if (Broken.empty()) {
    Out += "contract: ok\n";
  }
  std::fwrite(Out.data(), 1, Out.size(), stdout);
  return Broken.empty() ? ExitStatus::Success : ExitStatus::Failed;
}


const char *SectionName(std::uint8_t Type) {
  switch (Type) {
    case section::kPe32: return "PE32";
    case section::kTe: return "TE";
    case section::kVersion: return "version";
    case section::kUserInterface: return "user interface";
    case section::kPeiDepex: return "PEI dependency expression";
    default: return "other";
  }
}

std::string Utf16Text(const std::vector<std::uint8_t> &Bytes, std::size_t From) {
  std::string Text;
  for (std::size_t At = From; At + 1 < Bytes.size() && (Bytes[At] | Bytes[At + 1]) != 0; At += 2) {
    Text += Bytes[At + 1] == 0 && Bytes[At] >= 0x20 && Bytes[At] < 0x7F ? static_cast<char>(Bytes[At]) : '?';
  }
  return Text;
}

// A file's header, checksums and sections; then its PE32 through InspectPe.
ExitStatus InspectFile(const std::string &Name, const FirmwareFile &File, const std::string &Indent) {
  std::printf("%sfile %s: type %s%s, size %u, attributes %s, state %s\n", Indent.c_str(), GuidText(File.Name).c_str(),
              Hex(File.Type, 2).c_str(), File.Type == firmware_file::kTypePeim ? " (PEIM)" : "", File.Size,
              Hex(File.Attributes, 2).c_str(), Hex(File.State, 2).c_str());
  std::printf("%s  header checksum %s: ok; file checksum %s: %s\n", Indent.c_str(), Hex(File.HeaderChecksum, 2).c_str(),
              Hex(File.FileChecksum, 2).c_str(), (File.Attributes & firmware_file::kAttributeChecksum) != 0 ? "ok" : "not used (0xAA)");
  ExitStatus Status = ExitStatus::Success;
  for (const FirmwareSection &Section : File.Sections) {
    std::printf("%s  section at %s: %s (%s), %zu bytes\n", Indent.c_str(), Hex(Section.Offset, 4).c_str(),
                SectionName(Section.Type), Hex(Section.Type, 2).c_str(), Section.Payload.size());
    if (Section.Type == section::kPeiDepex) {
      const DepexResult Depex = EvaluateDependencyExpression(Section.Payload, {});
      if (!Depex.Valid) {
        std::fprintf(stderr, "pei-sim: %s: dependency expression: %s\n", Name.c_str(), Depex.Error.c_str());
        return ExitStatus::Failed;
      }
      std::printf("%s    %s\n", Indent.c_str(), Depex.Text.c_str());
    } else if (Section.Type == section::kUserInterface) {
      std::printf("%s    \"%s\"\n", Indent.c_str(), Utf16Text(Section.Payload, 0).c_str());
    } else if (Section.Type == section::kVersion && Section.Payload.size() >= 2) {
      std::printf("%s    build %u, \"%s\"\n", Indent.c_str(), Section.Payload[0] | Section.Payload[1] << 8,
                  Utf16Text(Section.Payload, 2).c_str());
    }
  }
  const FirmwareSection *Image = File.FindImage();
  if (File.Type != firmware_file::kTypePeim || Image == nullptr || File.Find(section::kPeiDepex) == nullptr) {
    std::printf("contract broken: the file is not a PEIM with a PE32 or TE image and a PEI dependency expression\n");
    Status = ExitStatus::Failed;
  }
  if (Image != nullptr) {
    std::fflush(stdout);
    const std::string Which = Name + " (" + SectionName(Image->Type) + " section)";
    Status = InspectPe(Which, Image->Payload, Name) != ExitStatus::Success ? ExitStatus::Failed : Status;
  }
  return Status;
}

}  // namespace

ExitStatus InspectCommand(const std::vector<std::string> &Args) {
  if (Args.size() != 1 || Args[0].empty() || Args[0][0] == '-') {
    throw UsageError("inspect takes one IMAGE, PEIM file or firmware volume");
  }
  std::vector<std::uint8_t> Bytes;
  std::string Error;
  if (!ReadFileBytes(Args[0], Bytes, Error)) {
    std::fprintf(stderr, "pei-sim: %s\n", Error.c_str());
    return ExitStatus::Failed;
  }
  const std::string Kind = KindOfFirmware(Bytes);
  if (Kind == "image") {
    return InspectPe(Args[0], std::move(Bytes), Args[0]);
  }
  if (Kind == "volume") {
    const auto Volume = ParseFirmwareVolume(Bytes, Error);
    if (!Volume) {
      std::fprintf(stderr, "pei-sim: %s: %s\n", Args[0].c_str(), Error.c_str());
      return ExitStatus::Failed;
    }
    std::printf("volume: %s (%zu bytes)\n", Args[0].c_str(), Bytes.size());
    std::printf("  file system %s%s, FvLength %llu, attributes %s (erase polarity %d), header length %u\n",
                GuidText(Volume->FileSystem).c_str(), Volume->FileSystem == kFfs2Guid ? " (FFS2)" : "",
                static_cast<unsigned long long>(Volume->Length), Hex(Volume->Attributes, 8).c_str(),
                (Volume->Attributes & volume::kErasePolarity) != 0 ? 1 : 0, Volume->HeaderLength);
    std::printf("  header checksum %s: ok; revision %u; block map", Hex(Volume->Checksum, 4).c_str(), Volume->Revision);
    for (const auto &[Count, Length] : Volume->Blocks) {
      std::printf(" %u x %u", Count, Length);
    }
    std::printf("\n  files: %zu\n", Volume->Files.size());
    ExitStatus Status = Volume->Files.empty() ? ExitStatus::Failed : ExitStatus::Success;
    for (const FirmwareFile &File : Volume->Files) {
      Status = InspectFile(Args[0], File, "  ") != ExitStatus::Success ? ExitStatus::Failed : Status;
    }
    return Status;
  }
  const auto File = ParseFileNamedAsModule(Bytes, Args[0], Error);
  if (!File) {
    std::fprintf(stderr, "pei-sim: %s\n", Error.c_str());
    return ExitStatus::Failed;
  }
  std::printf("PEIM file: %s (%zu bytes)\n", Args[0].c_str(), Bytes.size());
  return InspectFile(Args[0], *File, "");
}
