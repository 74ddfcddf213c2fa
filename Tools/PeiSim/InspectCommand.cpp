// pei-sim inspect: prints the properties of a module image and checks them
// against the module image's contract.
#include <cstdio>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "Commands.h"
#include "LinkMap.h"
#include "ModuleImageRun.h"
#include "PeImage.h"

namespace {

std::string Hex32(std::uint32_t Value) {
  char Text[16];
  std::snprintf(Text, sizeof Text, "0x%08X", Value);
  return Text;
}

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

int InspectCommand(const std::vector<std::string> &Args) {
  if (Args.size() != 1 || Args[0].empty() || Args[0][0] == '-') {
    throw UsageError("inspect takes one IMAGE");
  }
  std::string Error;
  const auto Image = ReadPeImage(Args[0], Error);
  if (!Image) {
    std::fprintf(stderr, "pei-sim: %s: not a PE32 image: %s\n", Args[0].c_str(), Error.c_str());
    return 1;
  }
  std::string Out;
  Out += "image: " + Args[0] + " (" + std::to_string(Image->File.size()) + " bytes)\n";
  Out += "machine: 0x" + Hex32(Image->Machine).substr(6) + (Image->Machine == 0x14C ? " (IA-32)" : "") + "\n";
  Out += "format: PE32\n";
  Out += "subsystem: " + std::to_string(Image->Subsystem) +
         (Image->Subsystem == 11 ? " (EFI boot service driver)" : "") + "\n";
  Out += "section alignment: " + std::to_string(Image->SectionAlignment) + "\n";
  Out += "file alignment: " + std::to_string(Image->FileAlignment) + "\n";
  Out += "image base: " + Hex32(Image->ImageBase) + "\n";
  Out += "size of image: " + std::to_string(Image->SizeOfImage) + "\n";
  const std::string Entry = SymbolAt(Args[0], Image->EntryPoint);
  Out += "entry point: " + Hex32(Image->EntryPoint) + (Entry.empty() ? "" : " (" + Entry + ")") + "\n";
  Out += "sections: " + std::to_string(Image->Sections.size()) + "\n";
  for (const PeSection &Section : Image->Sections) {
    Out += "  " + Section.Name + " rva " + Hex32(Section.VirtualAddress) + " size " +
           std::to_string(Section.VirtualSize) + " raw " + std::to_string(Section.RawSize) + " flags " +
           Hex32(Section.Characteristics) + " (" + SectionFlagsText(Section.Characteristics) + ")\n";
  }
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
  return Broken.empty() ? 0 : 1;
}
