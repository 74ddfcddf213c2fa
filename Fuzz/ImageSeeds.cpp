// image-seeds: writes image-fuzz's seed inputs from the images of this very
// build, so that they never fall behind the image: the images, the PEIM file,
// the volume, the TE form and the ROM as built, and mutations of their
// headers, sections, relocation blocks and entry code, each at a field found
// by its name.
// Usage: image-seeds OUT_DIR MODULE.efi MODULE.ffs MODULE.fv MODULE.te ROM [IMAGE.efi ...]
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "FileBytes.h"
#include "Layout/FirmwareFile.h"
#include "Layout/FirmwareVolume.h"
#include "Layout/LittleEndian.h"
#include "Layout/Te.h"
#include "PeFields.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Slurp(const std::string &Path) {
  Bytes Content;
  std::string Error;
  if (!ReadFileBytes(Path, Content, Error)) {
    std::fprintf(stderr, "image-seeds: %s\n", Error.c_str());
    std::exit(1);
  }
  return Content;
}

Bytes Patched(Bytes Image, std::size_t At, std::uint32_t Size, std::uint64_t Value) {
  WriteLe(&Image.at(At + Size - 1) - (Size - 1), Size, Value);
  return Image;
}

Bytes WithCode(Bytes Image, std::size_t At, const Bytes &Code) {
  std::copy(Code.begin(), Code.end(), Image.begin() + static_cast<std::ptrdiff_t>(At));
  return Image;
}

}  // namespace

int main(int Argc, char **Argv) {
  if (Argc < 7) {
    std::fprintf(stderr, "usage: image-seeds OUT_DIR MODULE.efi MODULE.ffs MODULE.fv MODULE.te ROM [IMAGE.efi ...]\n");
    return 2;
  }
  const std::string Out = Argv[1];
  const Bytes Module = Slurp(Argv[2]), File = Slurp(Argv[3]), Volume = Slurp(Argv[4]), Te = Slurp(Argv[5]),
              Rom = Slurp(Argv[6]);
  using namespace pe32;
  const PeFields F = FieldsOf(Module);
  const std::size_t Entry = F.EntryRaw;
  // The PE32 section's payload inside the PEIM file, after the dependency expression section.
  const std::size_t FileSection = firmware_file::HeaderSize;
  const std::vector<std::pair<std::string, Bytes>> Seeds = {
      {"module.efi", Module},
      {"artifact.ffs", File},
      {"artifact.fv", Volume},
      // Headers at their edges.
      {"cut-lfanew", Bytes(Module.begin(), Module.begin() + dos::Size)},
      {"cut-coff", Bytes(Module.begin(), Module.begin() + F.Optional)},
      {"cut-optional", Bytes(Module.begin(), Module.begin() + F.Table)},
      {"cut-table", Bytes(Module.begin(), Module.begin() + F.Section(1, 0))},
      {"cut-text", Bytes(Module.begin(), Module.begin() + F.TextRaw + 0x80)},
      {"directories-17", Patched(Module, F.OptionalHeader(optional_header::NumberOfRvaAndSizes), 4, 17)},
      {"entry-outside", Patched(Module, F.OptionalHeader(optional_header::AddressOfEntryPoint), 4, 0x100000)},
      {"raw-size-big", Patched(Module, F.Section(0, section_header::SizeOfRawData), 4, 0x7FFFFFFF)},
      {"reloc-page-far", Patched(Module, F.RelocRaw + relocation_block::PageRva, 4, 0x7FFFF000)},
      {"reloc-size-wraps", Patched(Module, F.RelocRaw + relocation_block::SizeOfBlock, 4, 0xFFFFFFFF)},
      // Entry code the run must bear: a tight loop, a port loop, a walk through memory.
      {"loop", WithCode(Module, Entry, {0xEB, 0xFE})},
      {"port-loop", WithCode(Module, Entry, {0xE6, 0x80, 0xEB, 0xFC})},
      {"page-walk", WithCode(Module, Entry, {0xBB, 0x00, 0x00, 0x00, 0x10, 0x8B, 0x03, 0x81, 0xC3, 0x00, 0x00, 0x10,
                                             0x00, 0xEB, 0xF6})},
      // The PEIM file and the volume.
      {"ffs-bad-checksum", Patched(File, firmware_file::HeaderChecksum, 1, File.at(firmware_file::HeaderChecksum) + 1)},
      {"ffs-size-huge", Patched(File, firmware_file::Size, 3, 0xFFFFFF)},
      {"ffs-section-tiny", Patched(File, FileSection + section::Size, 3, 2)},
      {"ffs-depex-not-only", Patched(File, FileSection + section::HeaderSize + 4, 1, 0x05)},
      {"fv-bad-checksum", Patched(Volume, volume::Checksum, 2, ReadLe16(&Volume.at(volume::Checksum)) ^ 1)},
      {"fv-header-odd", Patched(Volume, volume::HeaderLength, 2, volume::MinHeaderLength - 1)},
      {"fv-length-huge", Patched(Volume, volume::FvLength, 8, ~0ull)},
      {"fv-cut", Bytes(Volume.begin(), Volume.begin() + volume::MinHeaderLength + firmware_file::HeaderSize)},
      // The TE form: its header's fields at their edges.
      {"module.te", Te},
      {"te-stripped-over", Patched(Te, te::StrippedSize, 2, ReadLe16(&Te.at(te::StrippedSize)) + 1)},
      {"te-sections-255", Patched(Te, te::NumberOfSections, 1, 0xFF)},
      {"te-entry-outside", Patched(Te, te::AddressOfEntryPoint, 4, 0x100000)},
      {"te-relocations-outside", Patched(Te, te::RelocationDirectory, 4, 0x7FFFFFF0)},
      {"te-cut-table", Bytes(Te.begin(), Te.begin() + te::Size + 20)},
      // The ROM: the whole boot volume, its first file rebased into flash, and the volume cut.
      {"socpreinit.rom", Rom},
      {"rom-cut", Bytes(Rom.begin(), Rom.begin() + Rom.size() / 2)},
      {"rom-first-file-bad-checksum",
       Patched(Rom, volume::MinHeaderLength + firmware_file::HeaderChecksum, 1,
               Rom.at(volume::MinHeaderLength + firmware_file::HeaderChecksum) + 1)},
  };
  std::string Error;
  for (const auto &[Name, Content] : Seeds) {
    if (!WriteFileBytes(Out + "/" + Name, Content, Error)) {
      std::fprintf(stderr, "image-seeds: %s\n", Error.c_str());
      return 1;
    }
  }
  for (int Index = 7; Index < Argc; Index++) {
    const std::string Path = Argv[Index];
    if (!WriteFileBytes(Out + "/" + Path.substr(Path.find_last_of('/') + 1), Slurp(Path), Error)) {
      std::fprintf(stderr, "image-seeds: %s\n", Error.c_str());
      return 1;
    }
  }
  return 0;
}
