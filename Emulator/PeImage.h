// A reader for PE32 images and their TE form: headers, sections, base
// relocations and imports, as far as loading and checking the module image
// need them.
#ifndef EMULATOR_PE_IMAGE_H_
#define EMULATOR_PE_IMAGE_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct PeSection {
  std::string Name;
  std::uint32_t VirtualAddress = 0;
  std::uint32_t VirtualSize = 0;
  std::uint32_t RawOffset = 0;
  std::uint32_t RawSize = 0;
  std::uint32_t LoadedSize = 0;  // what is copied into the image
  std::uint32_t PointerToRawData = 0;  // as the header says (RawOffset: where the data lies in this file)
  std::uint32_t Characteristics = 0;
};

struct PeImage {
  std::vector<std::uint8_t> File;
  bool Te = false;                // a TE image: no alignments or optional header
  std::uint32_t StrippedSize = 0;  // TE: the PE headers its header replaced
  std::uint16_t Machine = 0;
  std::uint16_t FileCharacteristics = 0;
  std::uint16_t Magic = 0;  // 0x10B for PE32
  std::uint32_t EntryPoint = 0;  // RVA
  std::uint32_t ImageBase = 0;
  std::uint32_t SectionAlignment = 0;
  std::uint32_t FileAlignment = 0;
  std::uint32_t SizeOfImage = 0;
  std::uint32_t SizeOfHeaders = 0;
  std::uint16_t Subsystem = 0;
  std::uint16_t DllCharacteristics = 0;
  std::uint32_t ImportDirectoryRva = 0, ImportDirectorySize = 0;
  std::uint32_t RelocDirectoryRva = 0, RelocDirectorySize = 0;
  std::vector<PeSection> Sections;
  std::vector<std::uint32_t> HighLowRelocations;  // RVAs of 32-bit absolute addresses
  std::vector<std::string> Imports;               // "dll!symbol"
  std::vector<std::string> OtherRelocations;      // relocation types the loader cannot apply
  std::string NotInPlace;  // why the file cannot execute in place as it lies; empty when it can
};

// Parses Bytes; on failure returns nullopt and says why in Error.
std::optional<PeImage> ParsePeImage(std::vector<std::uint8_t> Bytes, std::string &Error);
std::optional<PeImage> ReadPeImage(const std::string &Path, std::string &Error);

// The image laid out in memory at LoadBase with its relocations applied.
std::vector<std::uint8_t> LayOutImage(const PeImage &Image, std::uint32_t LoadBase);

// Section flags as text: "code, initialized data, execute, read, write".
std::string SectionFlagsText(std::uint32_t Characteristics);

// True when the file runs as it lies in flash, once rebased to where it lies:
// every section's raw data at its RVA, none larger in memory than in the
// file, the whole image inside the file (NotInPlace says which does not hold).
bool ExecutesInPlace(const PeImage &Image);

// The module image's contract. Returns one line for each property that
// breaks it; empty when the image is a conforming module image.
std::vector<std::string> CheckModuleImageContract(const PeImage &Image);

#endif  // EMULATOR_PE_IMAGE_H_
