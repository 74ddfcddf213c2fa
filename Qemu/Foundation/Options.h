// The foundation's settings: "WORD key=value ...", from the ROM's options file and
// then QEMU's fw_cfg file opt/socpreinit/options, as pei-sim qemu writes it.
#ifndef QEMU_FOUNDATION_OPTIONS_H_
#define QEMU_FOUNDATION_OPTIONS_H_

#include "Base.h"

enum PPI_MODE : UINT8 { PPI_INSTALLED, PPI_ABSENT, PPI_FAILS };

struct FOUNDATION_OPTIONS {
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
const char *ParseFoundationOptions(const char *CommandLine, FOUNDATION_OPTIONS &Options);

#endif  // QEMU_FOUNDATION_OPTIONS_H_
