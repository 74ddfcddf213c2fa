// The ROM a QEMU run boots: SocPreInit.rom built around the module the user
// names (a PE32 or TE image, a PEIM file or a volume) from the ROM's parts,
// or a ROM the user built, and what the run needs to know of it.
#ifndef QEMU_RUNNER_RUN_ROM_H_
#define QEMU_RUNNER_RUN_ROM_H_

#include <cstdint>
#include <string>
#include <vector>

#include "LinkMap.h"
#include "RomImage.h"

// The module's image from any kind of file run takes: a PE32 or TE image as
// it is; from a PEIM file, or a volume's first PEIM, its image section, and
// its dependency expression into Depex. Bare: the file was an image. Empty,
// with Error set, for anything else.
std::vector<std::uint8_t> ModuleImageOf(const std::string &Path, std::vector<std::uint8_t> &Depex, bool &Bare,
                                        std::string &Error);

struct RomRequest {
  std::string ImagePath;
  std::string PartsFolder;      // Foundation.bin, Sec.bin and BusInfoPei.efi
  bool BusInfoPeiFirst = false;  // BusInfoPei before the module in the volume
  bool WithoutBusInfoPei = false;
};

// SocPreInit.rom around the module at RomPath: the module rebased into the
// volume with BusInfoPei, the foundation and the SEC from the parts folder,
// told where the module's watched routines lie (from Map). False, with
// Error set, when a part is missing or does not fit.
bool BuildRomFor(const RomRequest &Request, const LinkMap &Map, const std::string &RomPath,
                 std::vector<RomFile> &Layout, bool &Bare, std::string &Error);

// Where RVA 0 of the module lies in a ROM: its image base; 0 when the ROM
// holds no such module.
std::uint32_t ModuleBaseInRom(const std::string &RomPath);

// Why a foundation would not dispatch the module of ImagePath: its
// expression against what the ROM's PEIMs install.
std::string DispatchRefusalFor(const std::string &ImagePath, bool BusInfoInstalled);

#endif  // QEMU_RUNNER_RUN_ROM_H_
