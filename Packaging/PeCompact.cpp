// pe-compact: the post-link step of every IA-32 image (see PeCompaction.h).
// Usage: pe-compact IN.efi OUT.efi [IN.map OUT.map]
// Exit status: 0 written; 1 an input cannot be read, cannot be compacted or
// an output cannot be written (nothing is written then); 2 usage.
#include <cstdio>
#include <string>
#include <vector>

#include "FileBytes.h"
#include "PeCompaction.h"

int main(int Argc, char **Argv) {
  if (Argc != 3 && Argc != 5) {
    std::fprintf(stderr, "usage: pe-compact IN.efi OUT.efi [IN.map OUT.map]\n");
    return 2;
  }
  std::vector<std::uint8_t> Linked;
  std::string Error, Map;
  if (!ReadFileBytes(Argv[1], Linked, Error) || (Argc == 5 && !ReadFileText(Argv[3], Map, Error))) {
    std::fprintf(stderr, "pe-compact: %s\n", Error.c_str());
    return 1;
  }
  const auto Compacted = CompactImage(Linked, Error);
  if (!Compacted) {
    std::fprintf(stderr, "pe-compact: %s: %s\n", Argv[1], Error.c_str());
    return 1;
  }
  std::optional<std::string> Moved;
  if (Argc == 5 && !(Moved = MoveLinkMapDown(Map, Compacted->Saved, Error))) {
    std::fprintf(stderr, "pe-compact: %s: %s\n", Argv[3], Error.c_str());
    return 1;
  }
  // The map first: a build that stops between the two leaves no image
  // newer than its map.
  if (Moved && !WriteFileText(Argv[4], *Moved, Error)) {
    std::fprintf(stderr, "pe-compact: %s\n", Error.c_str());
    return 1;
  }
  if (!WriteFileBytes(Argv[2], Compacted->Image, Error)) {
    if (Moved) {
      std::remove(Argv[4]);  // all outputs or none
    }
    std::fprintf(stderr, "pe-compact: %s\n", Error.c_str());
    return 1;
  }
  return 0;
}
