// Where SocPreInit.rom lies and what it is made of, for the ROM builder, the
// foundation that walks it and the runner that reads it: one boot firmware
// volume of 64 KiB that ends at 4 GiB, as QEMU maps a -bios file, whose last
// file is the volume top file with the foundation (at a fixed address) and
// the SEC, the SEC's last 16 bytes the reset vector.
#ifndef MDEPKG_LAYOUT_ROM_LAYOUT_H_
#define MDEPKG_LAYOUT_ROM_LAYOUT_H_

#include "Base.h"

namespace rom_layout {
inline constexpr UINT32 kRomSize = 0x00010000;
inline constexpr UINT32 kRomBase = 0xFFFF0000;     // 4 GiB - kRomSize
inline constexpr UINT32 kSecSize = 256;            // the SEC ends the ROM
inline constexpr UINT32 kResetVector = kSecSize - 16;  // in the SEC: the processor's first instruction, at 4 GiB - 16
// The foundation executes in place: it is linked to lie here in flash, its
// entry its first byte, and must end below the SEC. The build reads this line
// for the foundation's link and the SEC's jump.
inline constexpr UINT32 kFoundationBase = 0xFFFF6000;
inline constexpr UINT32 kFoundationLimit = kRomBase + kRomSize - kSecSize;
}  // namespace rom_layout

#endif  // MDEPKG_LAYOUT_ROM_LAYOUT_H_
