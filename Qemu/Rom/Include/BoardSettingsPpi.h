// The PPI through which the ROM's foundation hands the board's settings to
// the PEIMs of the ROM: BusInfoPei installs BusInfo, when there is one.
#ifndef QEMU_ROM_BOARD_SETTINGS_PPI_H_
#define QEMU_ROM_BOARD_SETTINGS_PPI_H_

#include "Pi/PeiServices.h"

struct BOARD_SETTINGS_PPI {
  UINT32 Revision;  // 1
  // BUS_INFO_PPI's descriptor (the PPI in the foundation's RAM), or null when
  // the settings say it is not installed.
  const EFI_PEI_PPI_DESCRIPTOR *BusInfo;
};

#endif  // QEMU_ROM_BOARD_SETTINGS_PPI_H_
