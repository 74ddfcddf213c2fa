// pe-symbols: the build step that makes an image's symbol file for gdb from
// the DWARF link of the image's objects (see SymbolFile.h). It refuses a
// DWARF link whose code is not the image's, so a symbol file never describes
// other code than what runs.
// Usage: pe-symbols DWARF_LINK IMAGE.efi OUT.debug
// Exit status: 0 written; 1 a file cannot be read or written, or they do not
// match; 2 usage.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "FileBytes.h"
#include "SymbolFile.h"

namespace {

constexpr std::size_t kMaxFile = 64u << 20;

bool ReadFile(const char *Path, std::vector<std::uint8_t> &Bytes) {
  std::ifstream In(Path, std::ios::binary);
  Bytes.assign(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
  return In.good() || In.eof();
}

}  // namespace

int main(int Argc, char **Argv) {
  if (Argc != 4) {
    std::fprintf(stderr, "usage: pe-symbols DWARF_LINK IMAGE.efi OUT.debug\n");
    return 2;
  }
  std::vector<std::uint8_t> Link, Image;
  for (const auto &[Path, Bytes] : {std::pair{Argv[1], &Link}, std::pair{Argv[2], &Image}}) {
    if (!ReadFile(Path, *Bytes) || Bytes->empty() || Bytes->size() > kMaxFile) {
      std::fprintf(stderr, "pe-symbols: %s: cannot be read, is empty or is larger than 64 MiB\n", Path);
      return 1;
    }
  }
  std::string Error;
  const auto Symbols = MakeSymbolFile(Link, Image, Error);
  if (!Symbols) {
    std::fprintf(stderr, "pe-symbols: %s for %s: %s\n", Argv[1], Argv[2], Error.c_str());
    return 1;
  }
  if (!WriteFileBytes(Argv[3], *Symbols)) {
    std::fprintf(stderr, "pe-symbols: cannot write %s\n", Argv[3]);
    return 1;
  }
  return 0;
}
