// pe-compact: shrinks the headers of a PE32 image that lld-link wrote and
// keeps it able to execute in place, and makes it reproducible:
//   - the DOS header is the bare 64-byte MZ header (no DOS program), so the
//     PE signature follows at 0x40;
//   - only the data directories up to the debug directory are kept (the
//     image uses none of the others), so the optional header shrinks by 72 bytes;
//   - the section table follows, SizeOfHeaders becomes the smaller size
//     rounded to the file alignment, and each section moves down by the bytes
//     saved: its raw data in the file and its RVA alike, so that every
//     section's file offset still equals its RVA and the file runs as it
//     lies in flash. Every RVA in the headers moves with it, and so does
//     every address the base relocations name (the image base is 0, so each
//     such address is an RVA);
//   - the link map's addresses move the same way;
//   - TimeDateStamp is 0.
// lld-link 14 has no /stub and always writes 16 directories; a loader reads
// NumberOfRvaAndSizes, so fewer directories are an ordinary PE32 image.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "Layout/Pe32.h"
#include "Library/PiLayoutLib.h"

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

// Moves every RVA of the compacted image Out down by Saved: entry point, base
// of code and data, size of image, the data directories (but the security
// directory, which holds a file offset) and the addresses at the sites the
// base relocations name; the blocks are written anew for the moved sites.
// In is the image as linked.
bool MoveRvasDown(const std::vector<std::uint8_t> &In, std::vector<std::uint8_t> &Out, std::size_t Optional,
                  std::uint32_t Saved, std::string &Error) {
  using namespace pe32;
  for (const std::uint32_t Field : {optional_header::AddressOfEntryPoint, optional_header::BaseOfCode,
                                    optional_header::BaseOfData, optional_header::SizeOfImage}) {
    const std::uint32_t Value = Get(Out, Optional + Field, 4);
    Put(Out, Optional + Field, 4, Value >= Saved ? Value - Saved : Value);
  }
  for (std::uint32_t Index = 0; Index < kKeptDirectories; Index++) {
    const std::size_t Entry = Optional + DirectoryOffset(Index) + data_directory::VirtualAddress;
    if (Index != data_directory::kSecurity && Get(Out, Entry, 4) != 0) {
      Put(Out, Entry, 4, Get(Out, Entry, 4) - Saved);
    }
  }
  // The sites, read from the image as linked: each holds the address of what
  // it names, an RVA, which moves down; the site itself moves down too.
  PE32_INFO Linked;
  LAYOUT_FAULT Fault;
  if (!CheckPe32Headers(In.data(), static_cast<UINT32>(In.size()), 16u << 20, Linked, Fault)) {
    Error = LayoutCheckText(Fault.Check);
    return false;
  }
  std::vector<std::uint32_t> Sites;
  PE32_RELOCATION_CURSOR Cursor{};
  UINT32 Type, Target;
  while (NextPe32Relocation(In.data(), static_cast<UINT32>(In.size()), Linked, Cursor, Type, Target, Fault)) {
    if (Type != relocation_block::kHighLow || Target < Saved || Target - Saved + 4 > Out.size()) {
      Error = "a base relocation pe-compact cannot move";
      return false;
    }
    Sites.push_back(Target - Saved);
    Put(Out, Target - Saved, 4, Get(Out, Target - Saved, 4) - Saved);
  }
  if (Fault.Check != LAYOUT_OK) {
    Error = LayoutCheckText(Fault.Check);
    return false;
  }
  // The blocks written anew, one per 4 KiB page of the moved sites (a page may
  // now hold sites of two old ones), each padded to 4 bytes with an ABSOLUTE
  // entry; they must fit where the old ones were.
  std::sort(Sites.begin(), Sites.end());
  std::vector<std::uint8_t> Blocks;
  for (std::size_t First = 0; First < Sites.size();) {
    const std::uint32_t Page = Sites[First] & ~relocation_block::kOffsetMask;
    std::size_t Last = First;
    while (Last < Sites.size() && (Sites[Last] & ~relocation_block::kOffsetMask) == Page) {
      Last++;
    }
    const std::size_t Entries = (Last - First + 1) & ~static_cast<std::size_t>(1);
    const std::size_t At = Blocks.size();
    Blocks.resize(At + relocation_block::HeaderSize + Entries * relocation_block::EntrySize, 0);
    Put(Blocks, At + relocation_block::PageRva, 4, Page);
    Put(Blocks, At + relocation_block::SizeOfBlock, 4, static_cast<std::uint32_t>(Blocks.size() - At));
    for (std::size_t Index = First; Index < Last; Index++) {
      Put(Blocks, At + relocation_block::HeaderSize + (Index - First) * relocation_block::EntrySize, 2,
          relocation_block::kHighLow << relocation_block::kTypeShift | (Sites[Index] & relocation_block::kOffsetMask));
    }
    First = Last;
  }
  const std::size_t Directory = Linked.RelocRva - Saved;
  if (Blocks.size() > Linked.RelocSize) {
    Error = "the moved base relocations need more room than the linked ones";
    return false;
  }
  std::fill(Out.begin() + static_cast<std::ptrdiff_t>(Directory),
            Out.begin() + static_cast<std::ptrdiff_t>(Directory + Linked.RelocSize), 0);
  std::copy(Blocks.begin(), Blocks.end(), Out.begin() + static_cast<std::ptrdiff_t>(Directory));
  Put(Out, Optional + DirectoryOffset(data_directory::kBaseRelocation) + data_directory::Size, 4,
      static_cast<std::uint32_t>(Blocks.size()));
  return true;
}

// The compacted image, or an empty vector with Error set; Saved: how far
// the sections moved down.
std::vector<std::uint8_t> Compact(const std::vector<std::uint8_t> &In, std::uint32_t &Saved, std::string &Error) {
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
  Saved = OldHeaders - NewHeaders;

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
    if (Get(Out, Header + section_header::VirtualAddress, 4) != RawOffset) {
      Error = "a section's file offset is not its RVA: the image cannot be made to execute in place";
      return {};
    }
    Put(Out, Header + section_header::PointerToRawData, 4, RawOffset - Saved);
    Put(Out, Header + section_header::VirtualAddress, 4, RawOffset - Saved);
    if (Out.size() != RawOffset - Saved) {
      Error = "sections do not follow one another";
      return {};
    }
    Out.insert(Out.end(), In.begin() + RawOffset, In.begin() + RawOffset + RawSize);
  }
  return MoveRvasDown(In, Out, NewOptional, Saved, Error) ? Out : std::vector<std::uint8_t>{};
}

// Lines of an lld-link map: "<section>:<offset> <name> <RVA, 16 digits> <object>";
// the RVA moves down by Saved.
std::string MoveMapDown(const std::string &Map, std::uint32_t Saved) {
  std::string Out;
  std::size_t At = 0;
  while (At < Map.size()) {
    const std::size_t End = std::min(Map.find('\n', At), Map.size());
    std::string Line = Map.substr(At, End - At);
    At = End + 1;
    char Where[16], Name[4096], Rva[32];
    unsigned long long Address = 0;
    if (Line.size() < sizeof Name && std::sscanf(Line.c_str(), " %15s %4095s %31s", Where, Name, Rva) == 3 &&
        std::strlen(Rva) == 16 && std::sscanf(Rva, "%llx", &Address) == 1 && Address >= Saved) {
      const std::size_t Column = Line.find(Rva, Line.find(Name) + std::strlen(Name));
      char Moved[20];
      std::snprintf(Moved, sizeof Moved, "%016llx", Address - Saved);
      Line.replace(Column, 16, Moved);
    }
    Out += Line + (End < Map.size() ? "\n" : "");
  }
  return Out;
}

}  // namespace

int main(int Argc, char **Argv) {
  if (Argc != 3 && Argc != 5) {
    std::fprintf(stderr, "usage: pe-compact IN.efi OUT.efi [IN.map OUT.map]\n");
    return 2;
  }
  std::ifstream In(Argv[1], std::ios::binary);
  const std::vector<std::uint8_t> Bytes((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
  std::string Error;
  std::uint32_t Saved = 0;
  const std::vector<std::uint8_t> Out =
      Bytes.size() <= (16u << 20) ? Compact(Bytes, Saved, Error) : std::vector<std::uint8_t>{};
  if (Out.empty()) {
    std::fprintf(stderr, "pe-compact: %s: %s\n", Argv[1], Error.empty() ? "larger than 16 MiB" : Error.c_str());
    return 1;
  }
  std::ofstream(Argv[2], std::ios::binary).write(reinterpret_cast<const char *>(Out.data()),
                                                 static_cast<std::streamsize>(Out.size()));
  if (Argc == 5) {
    std::ifstream MapIn(Argv[3], std::ios::binary);
    const std::string Map((std::istreambuf_iterator<char>(MapIn)), std::istreambuf_iterator<char>());
    std::ofstream(Argv[4], std::ios::binary) << MoveMapDown(Map, Saved);
  }
  return 0;
}
