// pe-symbols: the build step that makes an image's symbol file for gdb from
// the DWARF link of the image's objects (see SymbolFile.h). It refuses a
// DWARF link whose code is not the image's, so a symbol file never describes
// other code than what runs.
// Usage: pe-symbols DWARF_LINK IMAGE.efi OUT.debug
// Exit status: 0 written; 1 a file cannot be read or written, or they do not
// match; 2 usage.
#include <cstdio>
#include <string>
#include <vector>

#include "FileBytes.h"
#include "SymbolFile.h"

namespace {

constexpr std::size_t kMaxFile = 64u << 20;

}  // namespace

int main(int Argc, char **Argv) {
  if (Argc != 4) {
    std::fprintf(stderr, "usage: pe-symbols DWARF_LINK IMAGE.efi OUT.debug\n");
    return 2;
  }
  std::vector<std::uint8_t> Link, Image;
  std::string Error;
  for (const auto &[Path, Bytes] : {std::pair{Argv[1], &Link}, std::pair{Argv[2], &Image}}) {
    if (!ReadFileBytes(Path, *Bytes, Error, kMaxFile)) {
      std::fprintf(stderr, "pe-symbols: %s\n", Error.c_str());
      return 1;
    }
    if (Bytes->empty()) {
      std::fprintf(stderr, "pe-symbols: %s: empty\n", Path);
      return 1;
    }
  }
  const auto Symbols = MakeSymbolFile(Link, Image, Error);
  if (!Symbols) {
    std::fprintf(stderr, "pe-symbols: %s for %s: %s\n", Argv[1], Argv[2], Error.c_str());
    return 1;
  }
  if (!WriteFileBytes(Argv[3], *Symbols, Error)) {
    std::fprintf(stderr, "pe-symbols: %s\n", Error.c_str());
    return 1;
  }
  return 0;
}
