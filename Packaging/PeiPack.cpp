// pei-pack: wraps the module image into its PEIM file and that into a
// firmware volume and, given OUT.te, writes the image's TE form (as linked,
// base 0) too. Same input, same bytes: nothing of the build's time or place
// goes in.
// Usage: pei-pack IMAGE.efi VERSION OUT.ffs OUT.fv [OUT.te]
// Exit status: 0 written; 1 the image cannot be read or packed, or an output
// cannot be written (nothing is written then); 2 usage.
#include <cstdio>
#include <string>
#include <vector>

#include "FileBytes.h"
#include "FirmwarePacking.h"
#include "ImageForms.h"

int main(int Argc, char **Argv) {
  if (Argc != 5 && Argc != 6) {
    std::fprintf(stderr, "usage: pei-pack IMAGE.efi VERSION OUT.ffs OUT.fv [OUT.te]\n");
    return 2;
  }
  std::vector<std::uint8_t> Image;
  std::string Error;
  if (!ReadFileBytes(Argv[1], Image, Error)) {
    std::fprintf(stderr, "pei-pack: %s\n", Error.c_str());
    return 1;
  }
  PE32_INFO Info;
  if (KindOfFirmware(Image) != "image" || !ReadImageHeaders(Image, Info, Error) || Info.TeHeaderSize != 0) {
    std::fprintf(stderr, "pei-pack: %s: not a PE32 image: %s\n", Argv[1], Error.empty() ? "a TE image" : Error.c_str());
    return 1;
  }
  const auto File = BuildPeimFile(Image, "SocPreInit", Argv[2], Error);
  const auto Te = File && Argc == 6 ? ToTe(Image, Error) : std::nullopt;
  if (!File || (Argc == 6 && !Te)) {
    std::fprintf(stderr, "pei-pack: %s: %s\n", Argv[1], Error.c_str());
    return 1;
  }
  // Every output is checked before any is written.
  const auto Volume = BuildVolume(*File, Error);
  if (!Volume) {
    std::fprintf(stderr, "pei-pack: %s: %s\n", Argv[1], Error.c_str());
    return 1;
  }
  // All outputs or none: what was written goes again when a later write fails.
  std::vector<std::pair<const char *, const std::vector<std::uint8_t> *>> Outputs = {{Argv[3], &*File}, {Argv[4], &*Volume}};
  if (Te) {
    Outputs.push_back({Argv[5], &*Te});
  }
  for (std::size_t Index = 0; Index < Outputs.size(); Index++) {
    if (!WriteFileBytes(Outputs[Index].first, *Outputs[Index].second, Error)) {
      for (std::size_t Written = 0; Written < Index; Written++) {
        std::remove(Outputs[Written].first);
      }
      std::fprintf(stderr, "pei-pack: %s\n", Error.c_str());
      return 1;
    }
  }
  return 0;
}
