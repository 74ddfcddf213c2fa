#include "PeCompaction.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "TextFields.h"
#include "LayoutFaultText.h"
#include "Layout/LittleEndian.h"
#include "Layout/Pe32.h"
#include "Library/PiLayoutLib.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace pe32;

// Export, import, resource, exception, security, base relocation and debug:
// some readers (python3-pefile among them) look for the debug directory
// before the base relocations and stop when it is missing.
constexpr std::uint32_t kKeptDirectories = data_directory::kDebug + 1;

std::uint32_t Get32(const Bytes &From, std::size_t At) { return ReadLe32(&From[At]); }
void Put(Bytes &Into, std::size_t At, std::uint32_t Size, std::uint32_t Value) { WriteLe(&Into[At], Size, Value); }

// An RVA of the linked image moved down by Saved; false when it points into
// the headers that go (0 stays 0: the field is unused).
bool MovedDown(std::uint32_t Value, std::uint32_t Saved, std::uint32_t &Moved) {
  Moved = Value >= Saved ? Value - Saved : Value;
  return Value == 0 || Value >= Saved;
}

// Moves every RVA of the compacted image Out down by Saved: entry point, base
// of code and data, size of image, the data directories (but the security
// directory, which holds a file offset) and the addresses at the sites the
// base relocations name; the blocks are written anew for the moved sites.
bool MoveRvasDown(const Bytes &In, const PE32_INFO &Linked, Bytes &Out, std::size_t Optional, std::uint32_t Saved,
                  std::string &Error) {
  const std::pair<std::uint32_t, const char *> Fields[] = {{optional_header::AddressOfEntryPoint, "AddressOfEntryPoint"},
                                                           {optional_header::BaseOfCode, "BaseOfCode"},
                                                           {optional_header::BaseOfData, "BaseOfData"},
                                                           {optional_header::SizeOfImage, "SizeOfImage"}};
  for (const auto &[Field, Name] : Fields) {
    std::uint32_t Moved;
    if (!MovedDown(Get32(Out, Optional + Field), Saved, Moved)) {
      Error = std::string(Name) + " " + Hex(Get32(Out, Optional + Field)) + " lies in the headers that go";
      return false;
    }
    Put(Out, Optional + Field, 4, Moved);
  }
  for (std::uint32_t Index = 0; Index < kKeptDirectories; Index++) {
    const std::size_t Entry = Optional + DirectoryOffset(Index) + data_directory::VirtualAddress;
    std::uint32_t Moved;
    if (Index == data_directory::kSecurity) {
      continue;
    }
    if (!MovedDown(Get32(Out, Entry), Saved, Moved)) {
      Error = "data directory " + std::to_string(Index) + " (RVA " + Hex(Get32(Out, Entry)) +
              ") lies in the headers that go";
      return false;
    }
    Put(Out, Entry, 4, Moved);
  }
  // The sites, read from the image as linked: each holds the address of what
  // it names, an RVA, which moves down; the site itself moves down too.
  std::vector<std::uint32_t> Sites;
  PE32_RELOCATION_CURSOR Cursor{};
  LAYOUT_FAULT Fault;
  UINT32 Type, Target;
  while (NextPe32Relocation(In.data(), static_cast<UINT32>(In.size()), Linked, Cursor, Type, Target, Fault)) {
    if (Type != relocation_block::kHighLow) {
      Error = "a base relocation of type " + std::to_string(Type) + " (only HIGHLOW is moved)";
      return false;
    }
    if (Target < Saved || Target - Saved > Out.size() || Out.size() - (Target - Saved) < 4) {
      Error = "the base relocation at RVA " + Hex(Target) + " has no place in the compacted image";
      return false;
    }
    const std::uint32_t Address = Get32(Out, Target - Saved);
    if (Address < Saved) {
      Error = "the address at RVA " + Hex(Target) + " (" + Hex(Address) + ") lies in the headers that go";
      return false;
    }
    Sites.push_back(Target - Saved);
    Put(Out, Target - Saved, 4, Address - Saved);
  }
  if (Fault.Check != LAYOUT_OK) {
    Error = LayoutFaultText(Fault);
    return false;
  }
  // The blocks written anew, one per 4 KiB page of the moved sites (a page may
  // now hold sites of two old ones), each padded to 4 bytes with an ABSOLUTE
  // entry; they must fit where the old ones were.
  std::sort(Sites.begin(), Sites.end());
  Bytes Blocks;
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
  if (Linked.RelocSize == 0) {
    return true;
  }
  if (Blocks.size() > Linked.RelocSize) {
    Error = "the moved base relocations need more room than the linked ones";
    return false;
  }
  if (Linked.RelocRva < Saved || Linked.RelocRva - Saved > Out.size() ||
      Out.size() - (Linked.RelocRva - Saved) < Linked.RelocSize) {
    Error = "the base relocation directory (RVA " + Hex(Linked.RelocRva) + ", " + Hex(Linked.RelocSize) +
            " bytes) has no place in the compacted image";
    return false;
  }
  const std::size_t Directory = Linked.RelocRva - Saved;
  std::fill(Out.begin() + static_cast<std::ptrdiff_t>(Directory),
            Out.begin() + static_cast<std::ptrdiff_t>(Directory + Linked.RelocSize), 0);
  std::copy(Blocks.begin(), Blocks.end(), Out.begin() + static_cast<std::ptrdiff_t>(Directory));
  Put(Out, Optional + DirectoryOffset(data_directory::kBaseRelocation) + data_directory::Size, 4,
      static_cast<std::uint32_t>(Blocks.size()));
  return true;
}

}  // namespace

std::optional<CompactedImage> CompactImage(const Bytes &In, std::string &Error) {
  PE32_INFO Linked;
  LAYOUT_FAULT Fault;
  if (In.size() > kMaxImageSize) {
    Error = "larger than 16 MiB";
    return std::nullopt;
  }
  if (!CheckPe32Headers(In.data(), static_cast<UINT32>(In.size()), kMaxImageSize, Linked, Fault)) {
    Error = LayoutFaultText(Fault, &In);
    return std::nullopt;
  }
  if (Linked.NumberOfDirectories < kKeptDirectories || Linked.OptionalSize != DirectoryOffset(Linked.NumberOfDirectories)) {
    Error = "the optional header holds " + std::to_string(Linked.NumberOfDirectories) +
            " data directories in " + std::to_string(Linked.OptionalSize) + " bytes (7 to 16, and nothing else)";
    return std::nullopt;
  }
  for (std::uint32_t Index = kKeptDirectories; Index < Linked.NumberOfDirectories; Index++) {
    const std::size_t Entry = Linked.OptionalOffset + DirectoryOffset(Index);
    if (Get32(In, Entry + data_directory::VirtualAddress) != 0 || Get32(In, Entry + data_directory::Size) != 0) {
      Error = "data directory " + std::to_string(Index) + " is in use";
      return std::nullopt;
    }
  }
  const std::uint32_t Sections = Linked.NumberOfSections;
  const std::uint32_t OldHeaders = Linked.SizeOfHeaders, FileAlignment = Linked.FileAlignment;
  if (FileAlignment == 0 || (FileAlignment & (FileAlignment - 1)) != 0 ||
      Linked.SectionTable + section_header::Size * Sections > OldHeaders) {
    Error = "FileAlignment " + Hex(FileAlignment) + " is not a power of two, or the section table runs past SizeOfHeaders";
    return std::nullopt;
  }
  if (!CheckExecutesInPlace(In.data(), static_cast<UINT32>(In.size()), Linked, Fault)) {
    Error = LayoutFaultText(Fault, &In) + ": the image cannot be made to execute in place";
    return std::nullopt;
  }

  const std::uint32_t NewOptionalSize = DirectoryOffset(kKeptDirectories);
  const std::size_t NewPe = dos::Size, NewOptional = NewPe + kNtHeadersSize;
  const std::size_t NewTable = NewOptional + NewOptionalSize;
  const auto NewHeaders = static_cast<std::uint32_t>(
      (NewTable + section_header::Size * Sections + FileAlignment - 1) & ~static_cast<std::size_t>(FileAlignment - 1));
  if (NewHeaders > OldHeaders) {
    Error = "the compact headers (" + Hex(NewHeaders) + " bytes) would be larger than the linked ones (" +
            Hex(OldHeaders) + ")";
    return std::nullopt;
  }
  CompactedImage Result;
  Result.Saved = OldHeaders - NewHeaders;
  const std::uint32_t Saved = Result.Saved;

  Bytes &Out = Result.Image;
  Out.assign(NewHeaders, 0);
  Put(Out, dos::Magic, 2, dos::kMagic);
  Put(Out, dos::Lfanew, 4, static_cast<std::uint32_t>(NewPe));
  std::memcpy(&Out[NewPe], &In[Linked.PeOffset], kNtHeadersSize + NewOptionalSize);
  Put(Out, NewPe + kSignatureSize + file_header::TimeDateStamp, 4, 0);
  Put(Out, NewPe + kSignatureSize + file_header::SizeOfOptionalHeader, 2, NewOptionalSize);
  Put(Out, NewOptional + optional_header::SizeOfHeaders, 4, NewHeaders);
  Put(Out, NewOptional + optional_header::NumberOfRvaAndSizes, 4, kKeptDirectories);
  std::memcpy(&Out[NewTable], &In[Linked.SectionTable], section_header::Size * Sections);
  for (std::uint32_t Index = 0; Index < Sections; Index++) {
    const std::size_t Header = NewTable + section_header::Size * Index;
    const std::uint32_t RawSize = Get32(Out, Header + section_header::SizeOfRawData);
    const std::uint32_t RawOffset = Get32(Out, Header + section_header::PointerToRawData);
    if (RawSize == 0) {
      continue;  // nothing in memory either: the in-place check above refused any other
    }
    if (RawOffset < OldHeaders) {
      Error = "section " + std::to_string(Index) + "'s raw data (at " + Hex(RawOffset) + ") lies in the headers";
      return std::nullopt;
    }
    Put(Out, Header + section_header::PointerToRawData, 4, RawOffset - Saved);
    Put(Out, Header + section_header::VirtualAddress, 4, RawOffset - Saved);
    if (Out.size() != RawOffset - Saved) {
      Error = "sections do not follow one another (section " + std::to_string(Index) + " at " + Hex(RawOffset) + ")";
      return std::nullopt;
    }
    Out.insert(Out.end(), In.begin() + RawOffset, In.begin() + RawOffset + RawSize);
  }
  if (!MoveRvasDown(In, Linked, Out, NewOptional, Saved, Error)) {
    return std::nullopt;
  }
  return Result;
}

std::optional<std::string> MoveLinkMapDown(const std::string &Map, std::uint32_t Saved, std::string &Error) {
  std::string Out;
  std::size_t At = 0, Moved = 0;
  while (At < Map.size()) {
    const std::size_t End = std::min(Map.find('\n', At), Map.size());
    std::string Line = Map.substr(At, End - At);
    At = End + 1;
    char Where[16], Name[4096], Rva[32];
    unsigned long long Address = 0;
    if (Line.size() < sizeof Name && std::sscanf(Line.c_str(), " %15s %4095s %31s", Where, Name, Rva) == 3 &&
        std::strlen(Rva) == 16 && std::strspn(Rva, "0123456789abcdefABCDEF") == 16 &&
        std::sscanf(Rva, "%llx", &Address) == 1) {
      if (Address < Saved) {
        Error = "the link map's " + std::string(Name) + " (" + Hex(Address) + ") lies in the headers that go";
        return std::nullopt;
      }
      const std::size_t Column = Line.find(Rva, Line.find(Name) + std::strlen(Name));
      char Text[20];
      std::snprintf(Text, sizeof Text, "%016llx", Address - Saved);
      Line.replace(Column, 16, Text);
      Moved++;
    }
    Out += Line + (End < Map.size() ? "\n" : "");
  }
  if (Moved == 0) {
    Error = "no symbol in the link map";
    return std::nullopt;
  }
  return Out;
}
