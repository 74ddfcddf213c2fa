// pe-compact: shrinks the headers of a PE32 image that lld-link wrote, without
// touching its sections' RVAs, and makes the image reproducible:
//   - the DOS header is the bare 64-byte MZ header (no DOS program), so the
//     PE signature follows at 0x40;
//   - only the data directories up to the debug directory are kept (the
//     image uses none of the others), so the optional header shrinks by 72 bytes;
//   - the section table follows, SizeOfHeaders becomes the smaller size
//     rounded to the file alignment, and each section's raw data moves down
//     by the bytes saved;
//   - TimeDateStamp is 0.
// lld-link 14 has no /stub and always writes 16 directories; a loader reads
// NumberOfRvaAndSizes, so fewer directories are an ordinary PE32 image.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "Layout/Pe32.h"

namespace {

// Export, import, resource, exception, security, base relocation and debug:
// some readers (python3-pefile among them) look for the debug directory
// before the base relocations and stop when it is missing.
constexpr std::uint32_t kKeptDirectories = pe32::data_directory::kDebug + 1;

std::uint32_t Get(const std::vector<std::uint8_t> &Bytes, std::size_t At, int Size) {
  std::uint32_t Value = 0;
  for (int Index = Size - 1; Index >= 0; Index--) {
    Value = Value << 8 | Bytes.at(At + static_cast<std::size_t>(Index));
  }
  return Value;
}

void Put(std::vector<std::uint8_t> &Bytes, std::size_t At, int Size, std::uint32_t Value) {
  for (int Index = 0; Index < Size; Index++) {
    Bytes.at(At + static_cast<std::size_t>(Index)) = static_cast<std::uint8_t>(Value >> (8 * Index));
  }
}

// The compacted image, or an empty vector with Error set.
std::vector<std::uint8_t> Compact(const std::vector<std::uint8_t> &In, std::string &Error) {
  using namespace pe32;
  if (In.size() < dos::Size || Get(In, dos::Magic, 2) != dos::kMagic) {
    Error = "no MZ header";
    return {};
  }
  const std::uint32_t PeOffset = Get(In, dos::Lfanew, 4);
  if (PeOffset > In.size() - kNtHeadersSize || Get(In, PeOffset, 4) != kSignature) {
    Error = "no PE signature";
    return {};
  }
  const std::size_t Coff = PeOffset + kSignatureSize, Optional = PeOffset + kNtHeadersSize;
  const std::uint32_t Sections = Get(In, Coff + file_header::NumberOfSections, 2);
  const std::uint32_t OptionalSize = Get(In, Coff + file_header::SizeOfOptionalHeader, 2);
  if (Get(In, Optional + optional_header::Magic, 2) != kMagicPe32 || OptionalSize < DirectoryOffset(kKeptDirectories)) {
    Error = "not a PE32 optional header";
    return {};
  }
  const std::uint32_t Directories = Get(In, Optional + optional_header::NumberOfRvaAndSizes, 4);
  if (Directories > data_directory::kMaxEntries || OptionalSize != DirectoryOffset(Directories)) {
    Error = "optional header size does not match its directories";
    return {};
  }
  for (std::uint32_t Index = kKeptDirectories; Index < Directories; Index++) {
    const std::size_t Entry = Optional + DirectoryOffset(Index);
    if (Get(In, Entry + data_directory::VirtualAddress, 4) != 0 || Get(In, Entry + data_directory::Size, 4) != 0) {
      Error = "data directory " + std::to_string(Index) + " is in use";
      return {};
    }
  }
  const std::uint32_t FileAlignment = Get(In, Optional + optional_header::FileAlignment, 4);
  const std::uint32_t OldHeaders = Get(In, Optional + optional_header::SizeOfHeaders, 4);
  const std::size_t Table = Optional + OptionalSize;
  if (FileAlignment == 0 || (FileAlignment & (FileAlignment - 1)) != 0 ||
      Table + section_header::Size * Sections > OldHeaders || OldHeaders > In.size()) {
    Error = "header layout out of range";
    return {};
  }

  const std::uint32_t NewOptionalSize = DirectoryOffset(kKeptDirectories);
  const std::size_t NewPe = dos::Size, NewOptional = NewPe + kNtHeadersSize;
  const std::size_t NewTable = NewOptional + NewOptionalSize;
  const std::uint32_t NewHeaders = static_cast<std::uint32_t>(
      (NewTable + section_header::Size * Sections + FileAlignment - 1) & ~static_cast<std::size_t>(FileAlignment - 1));
  const std::uint32_t Saved = OldHeaders - NewHeaders;

  std::vector<std::uint8_t> Out(NewHeaders, 0);
  Put(Out, dos::Magic, 2, dos::kMagic);
  Put(Out, dos::Lfanew, 4, NewPe);
  std::memcpy(&Out[NewPe], &In[PeOffset], kNtHeadersSize + NewOptionalSize);
  Put(Out, NewPe + kSignatureSize + file_header::TimeDateStamp, 4, 0);
  Put(Out, NewPe + kSignatureSize + file_header::SizeOfOptionalHeader, 2, NewOptionalSize);
  Put(Out, NewOptional + optional_header::SizeOfHeaders, 4, NewHeaders);
  Put(Out, NewOptional + optional_header::NumberOfRvaAndSizes, 4, kKeptDirectories);
  std::memcpy(&Out[NewTable], &In[Table], section_header::Size * Sections);
  for (std::uint32_t Index = 0; Index < Sections; Index++) {
    const std::size_t Header = NewTable + section_header::Size * Index;
    const std::uint32_t RawSize = Get(Out, Header + section_header::SizeOfRawData, 4);
    const std::uint32_t RawOffset = Get(Out, Header + section_header::PointerToRawData, 4);
    if (RawSize == 0) {
      continue;
    }
    if (RawOffset < OldHeaders || RawOffset > In.size() || RawSize > In.size() - RawOffset) {
      Error = "section raw data out of range";
      return {};
    }
    Put(Out, Header + section_header::PointerToRawData, 4, RawOffset - Saved);
    if (Out.size() != RawOffset - Saved) {
      Error = "sections do not follow one another";
      return {};
    }
    Out.insert(Out.end(), In.begin() + RawOffset, In.begin() + RawOffset + RawSize);
  }
  return Out;
}

}  // namespace

int main(int Argc, char **Argv) {
  if (Argc != 3) {
    std::fprintf(stderr, "usage: pe-compact IN.efi OUT.efi\n");
    return 2;
  }
  std::ifstream In(Argv[1], std::ios::binary);
  const std::vector<std::uint8_t> Bytes((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
  std::string Error;
  const std::vector<std::uint8_t> Out = Bytes.size() <= (16u << 20) ? Compact(Bytes, Error) : std::vector<std::uint8_t>{};
  if (Out.empty()) {
    std::fprintf(stderr, "pe-compact: %s: %s\n", Argv[1], Error.empty() ? "larger than 16 MiB" : Error.c_str());
    return 1;
  }
  std::ofstream(Argv[2], std::ios::binary).write(reinterpret_cast<const char *>(Out.data()),
                                                 static_cast<std::streamsize>(Out.size()));
  return 0;
}
