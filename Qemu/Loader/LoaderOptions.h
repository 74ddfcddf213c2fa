// The loader's settings, from the multiboot command line
// ("LOADER key=value ..."), as pei-sim qemu writes it.
#ifndef QEMU_LOADER_LOADER_OPTIONS_H_
#define QEMU_LOADER_LOADER_OPTIONS_H_

#include "Base.h"

enum PPI_MODE : UINT8 { PPI_INSTALLED, PPI_ABSENT, PPI_FAILS };

struct LOADER_OPTIONS {
  UINT8 DivisorCode = 3;
  UINT8 Bus = 0;
  UINT8 Reg40 = 0;
  PPI_MODE Ppi = PPI_INSTALLED;
  UINT32 PpiStatus = 0;
  bool ReleaseHalts = false;
  bool HonourModuleDepex = true;  // ROM: false dispatches the module last even when its expression fails
  UINT32 LoadBase = 0x00200000;
  UINT32 SinkRva = 0;  // 0: not watched
  UINT32 HaltRva = 0;
};

// Null on success, else what is wrong.
const char *ParseLoaderOptions(const char *CommandLine, LOADER_OPTIONS &Options);

#endif  // QEMU_LOADER_LOADER_OPTIONS_H_
