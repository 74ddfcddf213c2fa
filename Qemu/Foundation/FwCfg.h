// QEMU's fw_cfg device, read through its I/O ports: files looked up by name
// in its directory (selectors depend on what else is there).
#ifndef QEMU_FOUNDATION_FW_CFG_H_
#define QEMU_FOUNDATION_FW_CFG_H_

#include "Base.h"

// The file Name's bytes into Buffer, NUL-terminated (at most Capacity - 1 of
// them); false when there is no such file.
bool ReadFwCfgFile(const char *Name, char *Buffer, UINT32 Capacity);

#endif  // QEMU_FOUNDATION_FW_CFG_H_
