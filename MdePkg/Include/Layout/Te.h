// The TE (terse executable) header: a PE32 image whose headers up to its
// section table are replaced by these 40 bytes. Every RVA stays as it was;
// a field at PE file offset F lies at TE offset F - StrippedSize + Size, and
// laid out with the TE header at T, RVA 0 is at T + Size - StrippedSize.
#ifndef MDEPKG_LAYOUT_TE_H_
#define MDEPKG_LAYOUT_TE_H_

#include "Base.h"

namespace te {
inline constexpr UINT32 Signature = 0;
inline constexpr UINT32 Machine = 2;
inline constexpr UINT32 NumberOfSections = 4;  // one byte
inline constexpr UINT32 Subsystem = 5;         // one byte
inline constexpr UINT32 StrippedSize = 6;
inline constexpr UINT32 AddressOfEntryPoint = 8;
inline constexpr UINT32 BaseOfCode = 12;
inline constexpr UINT32 ImageBase = 16;  // 64 bits
inline constexpr UINT32 RelocationDirectory = 24;  // RVA and size
inline constexpr UINT32 DebugDirectory = 32;       // RVA and size
inline constexpr UINT32 Size = 40;
inline constexpr UINT16 kSignature = 0x5A56;  // "VZ"
}  // namespace te

#endif  // MDEPKG_LAYOUT_TE_H_
