// pei-rom: builds SocPreInit.rom (see RomImage.h) from the module image, its
// link map (for the addresses of SerialWrite and HaltProcessor, which the
// foundation watches), BusInfoPei, the foundation and the SEC. Same input,
// same bytes.
// Usage: pei-rom OUT.rom MODULE.efi MODULE.map BUSINFOPEI.efi FOUNDATION.bin SEC.bin VERSION
// Exit status: 0 written; 1 an input cannot be read or used (a symbol
// missing from the map, an empty foundation, a SEC without its reset
// vector, parts that do not fit) or the ROM cannot be written, and nothing
// is written then; 2 usage.
#include <cstdio>
#include <string>
#include <vector>

#include "FileBytes.h"
#include "LinkMap.h"
#include "RomImage.h"

int main(int Argc, char **Argv) {
  if (Argc != 8) {
    std::fprintf(stderr, "usage: pei-rom OUT.rom MODULE.efi MODULE.map BUSINFOPEI.efi FOUNDATION.bin SEC.bin VERSION\n");
    return 2;
  }
  RomParts Parts;
  std::string Error;
  std::optional<LinkMap> Map;
  if (!ReadFileBytes(Argv[2], Parts.Module, Error) || !(Map = ReadLinkMap(Argv[3], Error)) ||
      !ReadFileBytes(Argv[4], Parts.BusInfoPei, Error) || !ReadFileBytes(Argv[5], Parts.Foundation, Error) ||
      !ReadFileBytes(Argv[6], Parts.Sec, Error)) {
    std::fprintf(stderr, "pei-rom: %s\n", Error.c_str());
    return 1;
  }
  const std::optional<std::string> Watch = WatchOptions(*Map, Error);
  if (!Watch) {
    std::fprintf(stderr, "pei-rom: %s: %s\n", Argv[3], Error.c_str());
    return 1;
  }
  Parts.Options = "divisor=3 bus=0 reg40=0 release=0 ppi=installed " + *Watch;
  Parts.Version = Argv[7];
  std::vector<RomFile> Layout;
  const auto Rom = BuildRom(Parts, Layout, Error);
  if (!Rom) {
    std::fprintf(stderr, "pei-rom: %s\n", Error.c_str());
    return 1;
  }
  if (!WriteFileBytes(Argv[1], *Rom, Error)) {
    std::fprintf(stderr, "pei-rom: %s\n", Error.c_str());
    return 1;
  }
  return 0;
}
