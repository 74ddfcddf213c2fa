// Little-endian fields of the binary layouts, read and written a byte at a
// time: the bytes come from files and memory of any alignment.
#ifndef MDEPKG_LAYOUT_LITTLE_ENDIAN_H_
#define MDEPKG_LAYOUT_LITTLE_ENDIAN_H_

#include "Base.h"

// Size bytes (1 to 8) at At as an unsigned number.
constexpr UINT64 ReadLe(const UINT8 *At, UINT32 Size) {
  UINT64 Value = 0;
  for (UINT32 Index = Size; Index > 0; Index--) {
    Value = Value << 8 | At[Index - 1];
  }
  return Value;
}
constexpr UINT16 ReadLe16(const UINT8 *At) { return static_cast<UINT16>(ReadLe(At, 2)); }
constexpr UINT32 ReadLe24(const UINT8 *At) { return static_cast<UINT32>(ReadLe(At, 3)); }
constexpr UINT32 ReadLe32(const UINT8 *At) { return static_cast<UINT32>(ReadLe(At, 4)); }
constexpr UINT64 ReadLe64(const UINT8 *At) { return ReadLe(At, 8); }

constexpr void WriteLe(UINT8 *At, UINT32 Size, UINT64 Value) {
  for (UINT32 Index = 0; Index < Size; Index++) {
    At[Index] = static_cast<UINT8>(Value >> (8 * Index));
  }
}

#endif  // MDEPKG_LAYOUT_LITTLE_ENDIAN_H_
