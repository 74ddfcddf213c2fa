// pei-rom: builds SocPreInit.rom (see RomImage.h) from the module image, its
// link map (for the addresses of SerialWrite and HaltProcessor, which the
// foundation watches), BusInfoPei, the foundation and the SEC; prints the
// layout. Same input, same bytes.
// Usage: pei-rom OUT.rom MODULE.efi MODULE.map BUSINFOPEI.efi FOUNDATION.bin SEC.bin VERSION
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "FileBytes.h"
#include "RomImage.h"

namespace {

std::vector<std::uint8_t> Slurp(const char *Path) {
  std::ifstream In(Path, std::ios::binary);
  return {std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>()};
}

// The RVA of a public symbol in an lld-link map ("Rva+Base" column), or 0.
unsigned long RvaInMap(const char *Path, const std::string &Symbol) {
  std::ifstream In(Path);
  std::string Where, Name, Rva;
  for (std::string Line; std::getline(In, Line);) {
    char Buffer[3][512];
    if (Line.size() < 512 && std::sscanf(Line.c_str(), " %511s %511s %511s", Buffer[0], Buffer[1], Buffer[2]) == 3 &&
        Symbol == Buffer[1]) {
      return std::stoul(Buffer[2], nullptr, 16);
    }
  }
  return 0;
}

}  // namespace

int main(int Argc, char **Argv) {
  if (Argc != 8) {
    std::fprintf(stderr, "usage: pei-rom OUT.rom MODULE.efi MODULE.map BUSINFOPEI.efi FOUNDATION.bin SEC.bin VERSION\n");
    return 2;
  }
  RomParts Parts;
  Parts.Module = Slurp(Argv[2]);
  Parts.BusInfoPei = Slurp(Argv[4]);
  Parts.Foundation = Slurp(Argv[5]);
  Parts.Sec = Slurp(Argv[6]);
  Parts.Version = Argv[7];
  char Options[160];
  std::snprintf(Options, sizeof Options, "divisor=3 bus=0 reg40=0 release=0 ppi=installed sink=0x%lX halt=0x%lX",
                RvaInMap(Argv[3], "_SerialWrite"), RvaInMap(Argv[3], "_HaltProcessor"));
  Parts.Options = Options;
  std::vector<RomFile> Layout;
  std::string Error;
  const auto Rom = BuildRom(Parts, Layout, Error);
  if (!Rom) {
    std::fprintf(stderr, "pei-rom: %s\n", Error.c_str());
    return 1;
  }
  if (!WriteFileBytes(Argv[1], *Rom)) {
    std::fprintf(stderr, "pei-rom: cannot write %s\n", Argv[1]);
    return 1;
  }
  return 0;
}
