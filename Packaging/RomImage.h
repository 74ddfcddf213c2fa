// SocPreInit.rom (its geometry in RomLayout.h): one boot firmware volume of
// 64 KiB that ends at 4 GiB, as QEMU maps a -bios file. In it, in this
// order: the SocPreInit PEIM (its image in the TE form, rebased to where it
// lies), BusInfoPei (likewise), the ROM's default options in a raw file, and
// at the very end the volume top file with the PEI foundation and the SEC,
// whose last bytes are the reset vector.
#ifndef PACKAGING_ROM_IMAGE_H_
#define PACKAGING_ROM_IMAGE_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "FirmwarePacking.h"
#include "LinkMap.h"
#include "Layout/RomLayout.h"

using rom_layout::kRomBase;
using rom_layout::kRomSize;

struct RomParts {
  std::vector<std::uint8_t> Module;      // SocPreInit: a PE32 or TE image
  std::vector<std::uint8_t> ModuleDepex = ModuleDependencyExpression();
  std::vector<std::uint8_t> BusInfoPei;  // a PE32 or TE image
  std::vector<std::uint8_t> Foundation;  // flat binary linked to execute in place at kFoundationBase
  std::vector<std::uint8_t> Sec;         // at most 256 bytes, ending with the reset vector
  std::string Options;                   // "divisor=3 bus=0 ... sink=0x... halt=0x..."
  std::string Version;
  bool BusInfoPeiFirst = false;          // BusInfoPei before the module in the volume (it is after it by default)
  bool WithoutBusInfoPei = false;        // leave it out: nothing installs BUS_INFO_PPI
};

// One row of the ROM's layout: a file, where it lies and, for a PEIM, where
// its image lies (its address in flash) and where its RVA 0 lies.
struct RomFile {
  std::string Name;
  std::uint32_t Offset = 0, Size = 0;
  std::uint32_t ImageAddress = 0, ImageBase = 0;
};

// The options that tell the foundation where the module's SerialWrite and
// HaltProcessor lie ("sink=0x000008AD halt=0x0000089D", RVAs), from its link
// map; nothing, with Error set, when the map lacks either (the foundation
// would watch nothing).
std::optional<std::string> WatchOptions(const LinkMap &Map, std::string &Error);

// The ROM, or nothing with Error set (an image that cannot be converted or
// rebased, or parts that do not fit).
std::optional<std::vector<std::uint8_t>> BuildRom(const RomParts &Parts, std::vector<RomFile> &Layout,
                                                  std::string &Error);

#endif  // PACKAGING_ROM_IMAGE_H_
