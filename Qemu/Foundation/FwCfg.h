// QEMU's fw_cfg device: its signature and features through the I/O ports,
// its directory and files by DMA, a transfer each; files looked up by name in
// the directory (selectors depend on what else is there).
#ifndef QEMU_FOUNDATION_FW_CFG_H_
#define QEMU_FOUNDATION_FW_CFG_H_

#include "Base.h"

enum FW_CFG_READ { FW_CFG_ABSENT, FW_CFG_READ_WHOLE, FW_CFG_TOO_LONG, FW_CFG_NO_DMA, FW_CFG_DEVICE_ERROR };

// The file Name's bytes into Buffer, NUL-terminated: FW_CFG_READ_WHOLE when
// all of them fit in Capacity - 1 bytes, FW_CFG_TOO_LONG (and Buffer
// untouched) when they do not, FW_CFG_ABSENT when there is no device or no
// such file, FW_CFG_NO_DMA when the device cannot transfer by DMA (every
// QEMU since 2.9 can), FW_CFG_DEVICE_ERROR when a transfer failed. Buffer
// must lie in RAM, where the device writes.
FW_CFG_READ ReadFwCfgFile(const char *Name, char *Buffer, UINT32 Capacity);

#endif  // QEMU_FOUNDATION_FW_CFG_H_
