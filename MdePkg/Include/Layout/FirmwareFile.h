// The firmware file (FFS) header and the section headers inside a file.
#ifndef MDEPKG_LAYOUT_FIRMWARE_FILE_H_
#define MDEPKG_LAYOUT_FIRMWARE_FILE_H_

#include "Base.h"

namespace firmware_file {
inline constexpr UINT32 Name = 0x00;  // the file's GUID
inline constexpr UINT32 HeaderChecksum = 0x10;
inline constexpr UINT32 FileChecksum = 0x11;
inline constexpr UINT32 Type = 0x12;
inline constexpr UINT32 Attributes = 0x13;
inline constexpr UINT32 Size = 0x14;  // 24 bits
inline constexpr UINT32 State = 0x17;
inline constexpr UINT32 HeaderSize = 24;
inline constexpr UINT32 ExtendedSize = 0x18;  // 64 bits, in a large file's header
inline constexpr UINT32 LargeHeaderSize = 32;

inline constexpr UINT8 kTypeRaw = 0x01;
inline constexpr UINT8 kTypePeim = 0x06;
inline constexpr UINT8 kTypePad = 0xF0;
inline constexpr UINT8 kAttributeLargeFile = 0x01;
inline constexpr UINT8 kAttributeChecksum = 0x40;
inline constexpr UINT8 kNoFileChecksum = 0xAA;  // the file checksum without the CHECKSUM attribute
// Header and data valid, written against erase polarity 1.
inline constexpr UINT8 kStateValid = 0xF8;
// Free space is the erase value where a file header could start.
inline constexpr UINT8 kErased = 0xFF;
}  // namespace firmware_file

namespace section {
inline constexpr UINT32 Size = 0;  // 24 bits; all ones: the 32-bit size follows
inline constexpr UINT32 Type = 3;
inline constexpr UINT32 HeaderSize = 4;
inline constexpr UINT32 ExtendedSize = 4;
inline constexpr UINT32 ExtendedHeaderSize = 8;
inline constexpr UINT32 kUseExtendedSize = 0xFFFFFF;
inline constexpr UINT32 kAlignment = 4;  // from the start of the file

inline constexpr UINT8 kPe32 = 0x10;
inline constexpr UINT8 kTe = 0x12;
inline constexpr UINT8 kVersion = 0x14;
inline constexpr UINT8 kUserInterface = 0x15;
inline constexpr UINT8 kPeiDepex = 0x1B;
inline constexpr UINT32 VersionBuildNumber = 0;  // in a version section, before the text
}  // namespace section

#endif  // MDEPKG_LAYOUT_FIRMWARE_FILE_H_
