// PI firmware packaging of the module: the PEIM file (FFS) with its sections
// and PEI dependency expression, and the firmware volume (FV) that holds it.
// Builders write them; readers take them apart and check every field with
// arithmetic that cannot wrap, naming the field and its value when one is
// off.
#ifndef PACKAGING_FIRMWARE_PACKING_H_
#define PACKAGING_FIRMWARE_PACKING_H_

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "TextFields.h"
#include "Layout/Depex.h"
#include "Layout/FirmwareFile.h"
#include "Layout/FirmwareVolume.h"
#include "Layout/Guids.h"
#include "LayoutFaultText.h"
#include "Library/PiLayoutLib.h"

using Guid16 = std::array<std::uint8_t, 16>;  // EFI_GUID as stored
Guid16 ToGuid16(const EFI_GUID &Guid);

// "4B0165A9-61D6-4E23-A0B5-3EC79C2E30D5" <-> the stored bytes.
std::string GuidText(const Guid16 &Guid);
std::optional<Guid16> GuidFromText(const std::string &Text);

// The stored bytes of the GUIDs in Layout/Guids.h.
extern const Guid16 kBusInfoPpiGuid;
extern const Guid16 kSocPreInitFileGuid;
extern const Guid16 kFfs2Guid;

// --- PEI dependency expressions -----------------------------------------

// The module's expression: PUSH gBusInfoPpiGuid, END. Built here and nowhere else.
std::vector<std::uint8_t> ModuleDependencyExpression();

struct DepexResult {
  bool Valid = false;
  bool Satisfied = false;
  std::string Text;                   // "PUSH 4B01...(BUS_INFO_PPI); END"
  std::string Error;                  // for an invalid expression: what is wrong, at which byte
  std::vector<Guid16> Missing;        // PPIs pushed that are not installed
};

// Evaluates a PEI expression (PUSH, AND, OR, NOT, TRUE, FALSE, END) against
// the installed PPIs. Refuses a stack underflow or overflow, a missing END,
// a truncated GUID and any opcode a PEI expression may not hold.
DepexResult EvaluateDependencyExpression(const std::vector<std::uint8_t> &Expression,
                                         const std::vector<Guid16> &Installed);

// The summary's words for a module its dispatcher did not call:
// "its dependency expression (...) does not hold; not installed: ...".
std::string DispatchRefusal(const DepexResult &Result);

// --- Files and sections -----------------------------------------------------
struct FirmwareSection {
  std::uint8_t Type = 0;
  std::uint32_t Offset = 0;              // from the start of the file
  std::vector<std::uint8_t> Payload;     // without the section header
};

struct FirmwareFile {
  Guid16 Name{};
  std::uint8_t Type = 0, Attributes = 0, State = 0, HeaderChecksum = 0, FileChecksum = 0;
  std::uint32_t Size = 0;
  std::vector<FirmwareSection> Sections;
  const FirmwareSection *Find(std::uint8_t Type) const;
  // The executable section: PE32, else TE.
  const FirmwareSection *FindImage() const;
};

// The header checksum byte of a 24-byte file header (its own byte, the file
// checksum and the state are not counted).
std::uint8_t FileHeaderChecksum(const std::vector<std::uint8_t> &Header);

// The builders write sizes into the 3-byte fields of file and section
// headers: a file or section that does not fit one (16 MiB and more) is
// refused with Error set, never written with its size cut.

// A PEIM file: dependency expression, PE32 or TE (the image byte for byte,
// its section type by its form), user interface and version, in this order.
struct PeimContents {
  Guid16 Name;
  std::vector<std::uint8_t> Depex;
  std::vector<std::uint8_t> Image;
  std::string UiName, Version;
};
std::optional<std::vector<std::uint8_t>> BuildPeim(const PeimContents &Peim, std::string &Error);

// A pad file (type 0xF0) of Size bytes, header included (at least 24), its
// data the erase value.
std::optional<std::vector<std::uint8_t>> BuildPadFile(std::size_t Size, std::string &Error);

// A raw file (type 0x01, no sections) holding Data.
std::optional<std::vector<std::uint8_t>> BuildRawFile(const Guid16 &Name, const std::vector<std::uint8_t> &Data,
                                                      std::string &Error);

// The module's PEIM file: its name, its expression, the image, user interface
// Name and version Version.
std::optional<std::vector<std::uint8_t>> BuildPeimFile(const std::vector<std::uint8_t> &Pe32, const std::string &Name,
                                                       const std::string &Version, std::string &Error);

// A file at Bytes[At..]: its header, its checksums and its sections; Limit is
// where the file must end at the latest. Null with Error on a fault.
std::optional<FirmwareFile> ParseFirmwareFile(const std::vector<std::uint8_t> &Bytes, std::size_t At,
                                              std::size_t Limit, std::string &Error);

// A file a user named as a module that is neither a PE32 image nor a volume,
// read as a PEIM file. A refusal says first what the file was expected to be:
// "NAME: not a PE32 or TE image, PEIM file or firmware volume: <the fault>".
std::optional<FirmwareFile> ParseFileNamedAsModule(const std::vector<std::uint8_t> &Bytes, const std::string &Name,
                                                   std::string &Error);

// --- Volumes ----------------------------------------------------------------
constexpr std::uint32_t kVolumeBlockSize = 0x1000;

// A volume of 4 KiB blocks (FFS2, erase polarity 1), at least Length bytes,
// with each file at its offset; free space holds the erase value. Refused
// (Error set) when a file is not 8-aligned after the header, overlaps the one
// before it or runs past the volume.
struct PlacedFile {
  std::size_t Offset;
  std::vector<std::uint8_t> Bytes;
};
std::optional<std::vector<std::uint8_t>> BuildVolumeOf(const std::vector<PlacedFile> &Files, std::size_t Length,
                                                       std::string &Error);

// A volume of 4 KiB blocks (FFS2, erase polarity 1) holding the file; free
// space holds the erase value.
std::optional<std::vector<std::uint8_t>> BuildVolume(const std::vector<std::uint8_t> &File, std::string &Error);

struct FirmwareVolume {
  Guid16 FileSystem{};
  std::uint64_t Length = 0;
  std::uint32_t Attributes = 0;
  std::uint16_t HeaderLength = 0, Checksum = 0;
  std::uint8_t Revision = 0;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> Blocks;  // NumBlocks, BlockLength
  std::vector<FirmwareFile> Files;
};

std::optional<FirmwareVolume> ParseFirmwareVolume(const std::vector<std::uint8_t> &Bytes, std::string &Error);

// What a file holds by its content: "volume", "file" or "image" (a PE32 or
// TE image; anything else
// is tried as a file).
std::string KindOfFirmware(const std::vector<std::uint8_t> &Bytes);

// The module's PEIM file in Bytes, the contents of the file a user named
// Name: a PEIM file, or a volume's first PEIM, with a PE32 or TE section.
// Null, with Error naming Name and the fault, for anything else (a PE32 or
// TE image the caller takes as it is, before asking this).
std::optional<FirmwareFile> ModulePeimFile(const std::vector<std::uint8_t> &Bytes, const std::string &Name,
                                           std::string &Error);

#endif  // PACKAGING_FIRMWARE_PACKING_H_
