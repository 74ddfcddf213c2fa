// QEMU's fw_cfg device, read through its I/O ports: files looked up by name
// in its directory (selectors depend on what else is there).
#ifndef QEMU_FOUNDATION_FW_CFG_H_
#define QEMU_FOUNDATION_FW_CFG_H_

#include "Base.h"

enum FW_CFG_READ { FW_CFG_ABSENT, FW_CFG_READ_WHOLE, FW_CFG_TOO_LONG };

// The file Name's bytes into Buffer, NUL-terminated: FW_CFG_READ_WHOLE when
// all of them fit in Capacity - 1 bytes, FW_CFG_TOO_LONG (and Buffer
// untouched) when they do not, FW_CFG_ABSENT when there is no such file.
FW_CFG_READ ReadFwCfgFile(const char *Name, char *Buffer, UINT32 Capacity);

#endif  // QEMU_FOUNDATION_FW_CFG_H_
