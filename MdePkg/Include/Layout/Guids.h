// Every GUID the module, its loaders and its tools name, defined once.
#ifndef MDEPKG_LAYOUT_GUIDS_H_
#define MDEPKG_LAYOUT_GUIDS_H_

#include "Base.h"

// BUS_INFO_PPI: the one PPI the module depends on. 4B0165A9-61D6-4E23-A0B5-3EC79C2E30D5
inline constexpr EFI_GUID gBusInfoPpiGuid = {0x4B0165A9, 0x61D6, 0x4E23, {0xA0, 0xB5, 0x3E, 0xC7, 0x9C, 0x2E, 0x30, 0xD5}};
// The name of the module's PEIM file: fixed, so that every build names it alike.
inline constexpr EFI_GUID gSocPreInitFileGuid = {0x7F3C2A91, 0x5B4E, 0x4D6A,
                                                 {0x8C, 0x1F, 0x2E, 0x9B, 0x0D, 0x4A, 0x6C, 0x35}};
// The FFS2 file system of a firmware volume.
inline constexpr EFI_GUID gFfs2FileSystemGuid = {0x8C8CE578, 0x8A3D, 0x4F1C,
                                                 {0x99, 0x35, 0x89, 0x61, 0x85, 0xC3, 0x2D, 0xD3}};

// The volume top file: the last file of a boot firmware volume, ending at its
// end, which holds the reset vector.
inline constexpr EFI_GUID gVolumeTopFileGuid = {0x1BA0062E, 0xC779, 0x4582,
                                                {0x85, 0x66, 0x33, 0x6A, 0xE8, 0xF7, 0x8F, 0x09}};

// The QEMU ROM's own: the PEIM that installs BUS_INFO_PPI, the PPI through
// which the foundation hands it the board's settings, and the raw file of
// the ROM's default options.
inline constexpr EFI_GUID gBusInfoPeiFileGuid = {0x3D8E5A47, 0x92C1, 0x4B6F,
                                                 {0xA3, 0x0E, 0x71, 0x5C, 0x2B, 0x94, 0xE6, 0x08}};
inline constexpr EFI_GUID gBoardSettingsPpiGuid = {0x6A2F0C93, 0x1E4D, 0x47B8,
                                                   {0x9C, 0x55, 0x0D, 0xE3, 0x86, 0x7A, 0x21, 0xF4}};
inline constexpr EFI_GUID gRomOptionsFileGuid = {0xC45B7E10, 0x6F2A, 0x4D93,
                                                 {0xB8, 0x1C, 0x5E, 0x07, 0xA2, 0x3D, 0x94, 0x6B}};

inline constexpr UINT32 kGuidSize = 16;

// The 16 stored bytes of a GUID (Data1 to Data3 little-endian).
struct GUID_BYTES {
  UINT8 Bytes[kGuidSize];
};
constexpr GUID_BYTES GuidBytes(const EFI_GUID &Guid) {
  GUID_BYTES Out{};
  for (UINT32 Index = 0; Index < 4; Index++) {
    Out.Bytes[Index] = static_cast<UINT8>(Guid.Data1 >> (8 * Index));
  }
  Out.Bytes[4] = static_cast<UINT8>(Guid.Data2);
  Out.Bytes[5] = static_cast<UINT8>(Guid.Data2 >> 8);
  Out.Bytes[6] = static_cast<UINT8>(Guid.Data3);
  Out.Bytes[7] = static_cast<UINT8>(Guid.Data3 >> 8);
  for (UINT32 Index = 0; Index < 8; Index++) {
    Out.Bytes[8 + Index] = Guid.Data4[Index];
  }
  return Out;
}

// True when the 16 stored bytes at A and B are the same GUID.
constexpr bool SameGuid(const UINT8 *A, const UINT8 *B) {
  for (UINT32 Index = 0; Index < kGuidSize; Index++) {
    if (A[Index] != B[Index]) {
      return false;
    }
  }
  return true;
}

#endif  // MDEPKG_LAYOUT_GUIDS_H_
