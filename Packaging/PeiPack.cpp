// pei-pack: wraps the module image into its PEIM file and that into a
// firmware volume. Same input, same bytes: nothing of the build's time or
// place goes in.
// and, given OUT.te, writes the image's TE form (as linked, base 0) too.
// Usage: pei-pack IMAGE.efi VERSION OUT.ffs OUT.fv [OUT.te]
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "FileBytes.h"
#include "FirmwareFile.h"
#include "ImageForms.h"

int main(int Argc, char **Argv) {
  if (Argc != 5 && Argc != 6) {
    std::fprintf(stderr, "usage: pei-pack IMAGE.efi VERSION OUT.ffs OUT.fv [OUT.te]\n");
    return 2;
  }
  std::ifstream In(Argv[1], std::ios::binary);
  const std::vector<std::uint8_t> Image((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
  if (Image.size() < 2 || Image[0] != 'M' || Image[1] != 'Z' || Image.size() > 0xFFFF00) {
    std::fprintf(stderr, "pei-pack: %s is not a PE32 image of at most 16 MiB\n", Argv[1]);
    return 1;
  }
  const std::vector<std::uint8_t> File = BuildPeimFile(Image, "SocPreInit", Argv[2]);
  if (!WriteFileBytes(Argv[3], File) || !WriteFileBytes(Argv[4], BuildVolume(File))) {
    std::fprintf(stderr, "pei-pack: cannot write %s or %s\n", Argv[3], Argv[4]);
    return 1;
  }
  if (Argc == 6) {
    std::string Error;
    const auto Te = ToTe(Image, Error);
    if (!Te || !WriteFileBytes(Argv[5], *Te)) {
      std::fprintf(stderr, "pei-pack: %s: no TE form: %s\n", Argv[1], Te ? "cannot write it" : Error.c_str());
      return 1;
    }
  }
  return 0;
}
