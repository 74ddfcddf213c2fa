// The firmware volume header with its block map. Files follow the header,
// each at an 8-byte boundary from the start of the volume.
#ifndef MDEPKG_LAYOUT_FIRMWARE_VOLUME_H_
#define MDEPKG_LAYOUT_FIRMWARE_VOLUME_H_

#include "Base.h"

namespace volume {
inline constexpr UINT32 ZeroVector = 0x00;  // 16 bytes
inline constexpr UINT32 FileSystemGuid = 0x10;
inline constexpr UINT32 FvLength = 0x20;  // 64 bits
inline constexpr UINT32 Signature = 0x28;
inline constexpr UINT32 Attributes = 0x2C;
inline constexpr UINT32 HeaderLength = 0x30;
inline constexpr UINT32 Checksum = 0x32;  // the 16-bit words of the header sum to 0
inline constexpr UINT32 ExtHeaderOffset = 0x34;
inline constexpr UINT32 Revision = 0x37;
inline constexpr UINT32 BlockMap = 0x38;  // {NumBlocks, Length} pairs, ended by {0, 0}
inline constexpr UINT32 BlockEntrySize = 8;
inline constexpr UINT32 BlockCount = 0;   // in an entry
inline constexpr UINT32 BlockLength = 4;  // in an entry
// The header with a one-entry block map and its terminator: the smallest there is.
inline constexpr UINT32 MinHeaderLength = BlockMap + 2 * BlockEntrySize;

inline constexpr UINT32 kSignature = 0x4856465F;  // "_FVH"
inline constexpr UINT8 kRevision = 2;
inline constexpr UINT32 kFileAlignment = 8;
inline constexpr UINT32 kErasePolarity = 0x00000800;  // an attribute: erased bytes read 1
// Erase polarity 1, the read/write status bits and 16-byte alignment.
inline constexpr UINT32 kAttributes = 0x0004FEFF;
}  // namespace volume

#endif  // MDEPKG_LAYOUT_FIRMWARE_VOLUME_H_
