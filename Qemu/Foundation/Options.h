// The foundation's settings: "WORD key=value ...", from the ROM's options
// file and then QEMU's fw_cfg file, as pei-sim qemu writes it (the keys are
// in FoundationProtocol.h).
#ifndef QEMU_FOUNDATION_OPTIONS_H_
#define QEMU_FOUNDATION_OPTIONS_H_

#include "Base.h"
#include "FoundationProtocol.h"

enum PPI_MODE : UINT8 { PPI_INSTALLED, PPI_ABSENT, PPI_FAILS };

struct FOUNDATION_OPTIONS {
  UINT8 DivisorCode = foundation_protocol::kDefaultDivisorCode;
  UINT8 Bus = foundation_protocol::kDefaultBus;
  UINT8 Reg40 = foundation_protocol::kDefaultReg40;
  PPI_MODE Ppi = PPI_INSTALLED;
  UINT32 PpiStatus = 0;  // with PPI_FAILS: an error status (bit 31 set)
  bool ReleaseHalts = false;
  bool HonourModuleDepex = true;  // false: the module is dispatched last even when its expression fails
  UINT32 SinkRva = 0;  // 0: not watched
  UINT32 HaltRva = 0;
};

// Null on success, else what is wrong. Options takes each setting in turn: a
// refusal may leave the ones before it taken.
const char *ParseFoundationOptions(const char *CommandLine, FOUNDATION_OPTIONS &Options);

#endif  // QEMU_FOUNDATION_OPTIONS_H_
