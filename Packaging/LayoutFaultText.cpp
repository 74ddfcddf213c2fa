#include "LayoutFaultText.h"

#include <string>

#include "TextFields.h"
#include "Layout/Depex.h"
#include "Layout/FirmwareFile.h"
#include "Layout/Pe32.h"

std::string PrintableText(const std::vector<std::uint8_t> &Bytes, std::uint64_t Offset, std::size_t Limit) {
  std::string Text;
  while (Offset < Bytes.size() && Bytes[Offset] != 0 && Text.size() < Limit) {
    const std::uint8_t Byte = Bytes[Offset++];
    Text += Byte > 0x20 && Byte < 0x7F ? static_cast<char>(Byte) : '?';
  }
  return Text;
}

std::string SectionName(const std::vector<std::uint8_t> &Bytes, std::uint64_t Header) {
  return PrintableText(Bytes, Header + pe32::section_header::Name, pe32::section_header::NameSize);
}

namespace {

std::string DepexFaultText(const LAYOUT_FAULT &Fault) {
  const std::string Opcode = Fault.Value == depex::kAnd ? "AND" : Fault.Value == depex::kOr ? "OR" : "NOT";
  switch (Fault.Check) {
    case DEPEX_PUSH_CUT: return "PUSH with a truncated GUID";
    case DEPEX_OVERFLOW: return "stack overflow (more than 64 values)";
    case DEPEX_UNDERFLOW:
      return Fault.Value == depex::kNot ? "NOT with an empty stack (stack underflow)"
                                        : Opcode + " with " + std::to_string(Fault.Low) +
                                              " value(s) on the stack (stack underflow)";
    case DEPEX_END_DEPTH: return "END with " + std::to_string(Fault.Low) + " values on the stack (one expected)";
    case DEPEX_NOT_IN_PEI:
      return "opcode " + Hex(Fault.Value) + " (" +
             (Fault.Value == depex::kBefore ? "BEFORE" : Fault.Value == depex::kAfter ? "AFTER" : "SOR") +
             ") is not allowed in a PEI expression";
    default: return "unknown opcode " + Hex(Fault.Value);
  }
}

}  // namespace

std::string LayoutFaultText(const LAYOUT_FAULT &F, const std::vector<std::uint8_t> *Bytes) {
  using namespace pe32;
  const std::vector<std::uint8_t> None;
  const std::vector<std::uint8_t> &File = Bytes != nullptr ? *Bytes : None;
  const std::string FileAt = "file at " + Hex(F.At) + ": ";
  const std::string InFile = FileAt + "section at file offset " + Hex(F.Offset);
  switch (F.Check) {
    case FV_TOO_SHORT:
      return "volume of " + std::to_string(F.Value) + " bytes is shorter than a volume header with a block map";
    case FV_SIGNATURE: return "volume Signature " + Hex(F.Value) + " is not _FVH (0x4856465F)";
    case FV_REVISION: return "volume Revision " + std::to_string(F.Value) + " is not 2";
    case FV_LENGTH:
      return "volume FvLength " + Hex(F.Value) + " is out of range (" + Hex(F.Low) + " to the file's " + Hex(F.High) + ")";
    case FV_HEADER_LENGTH:
      return "volume HeaderLength " + Hex(F.Value) + " is out of range (even, " + Hex(F.Low) + " to FvLength)";
    case FV_EXT_HEADER: return "volume ExtHeaderOffset " + Hex(F.Value) + ": extended headers are not read";
    case FV_CHECKSUM:
      return "volume header Checksum " + Hex(F.Value) + " is wrong (the header sums to " + Hex(F.Low) + ", not 0)";
    case FV_BLOCK_MAP:
      return "volume block map covers " + Hex(F.Value) + " bytes, less than FvLength " + Hex(F.High);
    case FFS_HEADER_CUT:
      return FileAt + "fewer than the " + std::to_string(F.Value) + " bytes of a " +
             (F.Value == firmware_file::LargeHeaderSize ? "large file header" : "file header");
    case FFS_SIZE: return FileAt + "Size " + Hex(F.Value) + " is out of range (" + Hex(F.Low) + " to " + Hex(F.High) + ")";
    case FFS_HEADER_SUM:
      return FileAt + "header checksum " + Hex(F.Value) + " is wrong (the header sums to " + Hex(F.Low) + ", not 0)";
    case FFS_DATA_SUM: return FileAt + "file checksum " + Hex(F.Value) + " is wrong";
    case FFS_DATA_SUM_UNSET:
      return FileAt + "file checksum " + Hex(F.Value) + " without the CHECKSUM attribute (0xAA expected)";
    case SECTION_CUT: return InFile + " is cut off by the end of the file";
    case SECTION_EXT_CUT: return FileAt + "extended section at file offset " + Hex(F.Offset) + " is cut off";
    case SECTION_SIZE:
      return InFile + " has size " + Hex(F.Value) + " (" + Hex(F.Low) + " to " + Hex(F.High) + ")";
    case DEPEX_NO_END: return "no END";
    case TE_CUT: return "file of " + std::to_string(F.Value) + " bytes is shorter than a TE header (40)";
    case TE_SIGNATURE: return "no TE signature (" + Hex(F.Value) + ", VZ is 0x5A56)";
    case TE_STRIPPED_SIZE:
      return "TE StrippedSize " + Hex(F.Value) + " is out of range (" + Hex(F.Low) + " to " + Hex(F.High) +
             ": the PE headers, and no more than puts the first section after the section table)";
    case PE_DOS_CUT: return "file of " + std::to_string(F.Value) + " bytes is shorter than a DOS header (64)";
    case PE_NO_MZ: return "no MZ header";
    case PE_LFANEW:
      return "e_lfanew " + Hex(F.Value) + " leaves no room for the PE and COFF headers in a file of " +
             std::to_string(F.High) + " bytes";
    case PE_NO_SIGNATURE: return "no PE signature at e_lfanew " + Hex(F.Value);
    case PE_OPTIONAL_SIZE:
      return "SizeOfOptionalHeader " + std::to_string(F.Value) +
             (F.Value < F.Low ? " is smaller than a PE32 optional header (96)" : " runs past the end of the file");
    case PE_MAGIC: return "not a PE32 image (optional header magic " + Hex(F.Value) + ", PE32 is 0x10B)";
    case PE_DIRECTORIES:
      return "NumberOfRvaAndSizes " + std::to_string(F.Value) + " does not fit SizeOfOptionalHeader " +
             std::to_string(F.Low) + " (at most 16)";
    case PE_SIZE_OF_IMAGE: return "SizeOfImage " + Hex(F.Value) + " is out of range (1 to 16 MiB)";
    case PE_SIZE_OF_HEADERS: return "SizeOfHeaders " + Hex(F.Value) + " exceeds SizeOfImage or the file";
    case PE_ENTRY:
      return "AddressOfEntryPoint " + Hex(F.Value) + " lies outside the image (SizeOfImage " + Hex(F.High) +
             ")";
    case PE_SECTION_COUNT:
      return "NumberOfSections " + std::to_string(F.Value) +
             (F.Value < F.Low || F.Value > F.High ? " is out of range (1 to 96)"
                                                  : " runs the section table past the end of the file");
    case PE_SECTION_RAW:
      return "section " + SectionName(File, F.At) + " (PointerToRawData " + Hex(F.Value) + ", SizeOfRawData " +
             Hex(F.Low) + ") lies beyond the end of the file";
    case PE_SECTION_VIRTUAL:
      return "section " + SectionName(File, F.At) + " (VirtualAddress " + Hex(F.Value) +
             ") lies outside the image (SizeOfImage " + Hex(F.High) + ")";
    case PE_RELOC_DIRECTORY:
      return "base relocation directory (RVA " + Hex(F.Value) + ", size " + Hex(F.Low) +
             ") runs past SizeOfImage " + Hex(F.High);
    case PE_RELOC_BLOCK_LOST: return "relocation block at RVA " + Hex(F.Value) + " is in no section's file data";
    case PE_RELOC_BLOCK_CUT:
      return "relocation block at RVA " + Hex(F.Value) + " is cut off by the end of the file";
    case PE_RELOC_BLOCK_SIZE:
      return "relocation block at RVA " + Hex(F.Low) + " has SizeOfBlock " + Hex(F.Value) + " (8 to " +
             Hex(F.High) + ", even)";
    case PE_RELOC_TARGET:
      return "HIGHLOW relocation of RVA " + Hex(F.Value) + " lies outside the image (SizeOfImage " +
             Hex(F.High) + ")";
    case PE_NOT_IN_PLACE:
      return "section " + SectionName(File, F.At) + "'s file offset " + Hex(F.Value) + " is not its RVA " + Hex(F.Low);
    case PE_SECTION_BEYOND_RAW:
      return "section " + SectionName(File, F.At) + " is larger in memory (" + Hex(F.Value) + " bytes) than in the file (" +
             Hex(F.Low) + "): its tail would be what follows in flash, not zeros";
    case PE_IMAGE_BEYOND_FILE:
      return "SizeOfImage " + Hex(F.Value) + " runs past the RVAs the file holds (" + Hex(F.High) + ")";
    default:
      if (F.Check >= DEPEX_PUSH_CUT && F.Check <= DEPEX_UNKNOWN) {
        return DepexFaultText(F) + " at byte " + std::to_string(F.At);
      }
      return LayoutCheckText(F.Check);
  }
}
