// Where the fields of a PE32 image lie in its file, found through the layout
// library, so that a test can patch or cut a field by its name.
#ifndef TESTS_SUPPORT_PE_FIELDS_H_
#define TESTS_SUPPORT_PE_FIELDS_H_

#include <cstdint>
#include <stdexcept>
#include <vector>

#include "Layout/Pe32.h"
#include "Library/PiLayoutLib.h"

struct PeFields {
  std::uint32_t Pe = 0;        // the PE signature
  std::uint32_t Optional = 0;  // the optional header
  std::uint32_t Table = 0;     // the section table
  std::uint32_t TextRaw = 0;   // the first section's raw data
  std::uint32_t RelocRaw = 0;  // the base relocation section's raw data (the second section)
  std::uint32_t EntryRaw = 0;  // the entry point's byte in the file

  std::uint32_t FileHeader(std::uint32_t Field) const { return Pe + pe32::kSignatureSize + Field; }
  std::uint32_t OptionalHeader(std::uint32_t Field) const { return Optional + Field; }
  std::uint32_t Section(std::uint32_t Index, std::uint32_t Field) const {
    return Table + Index * pe32::section_header::Size + Field;
  }
};

inline PeFields FieldsOf(const std::vector<std::uint8_t> &Bytes) {
  PE32_INFO Info;
  LAYOUT_FAULT Fault;
  if (!CheckPe32Headers(Bytes.data(), static_cast<UINT32>(Bytes.size()), 16u << 20, Info, Fault)) {
    throw std::runtime_error(LayoutCheckText(Fault.Check));
  }
  PeFields Fields;
  Fields.Pe = Info.PeOffset;
  Fields.Optional = Info.OptionalOffset;
  Fields.Table = Info.SectionTable;
  PE32_SECTION Text, Reloc;
  ReadPe32Section(Bytes.data(), static_cast<UINT32>(Bytes.size()), Info, 0, Text, Fault);
  ReadPe32Section(Bytes.data(), static_cast<UINT32>(Bytes.size()), Info, 1, Reloc, Fault);
  Fields.TextRaw = Text.RawOffset;
  Fields.RelocRaw = Reloc.RawOffset;
  Fields.EntryRaw = Info.EntryPoint - Text.VirtualAddress + Text.RawOffset;
  return Fields;
}

#endif  // TESTS_SUPPORT_PE_FIELDS_H_
