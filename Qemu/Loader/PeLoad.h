// Checks a PE32 module image and lays it out at a load base with its HIGHLOW
// base relocations applied, the way a PEI foundation does. Every field is
// checked against the file and the image before it is used.
#ifndef QEMU_LOADER_PE_LOAD_H_
#define QEMU_LOADER_PE_LOAD_H_

#include "Base.h"

struct LOADED_IMAGE {
  UINT32 Base;
  UINT32 Size;
  UINT32 Entry;  // absolute address of the entry point
};

// Null on success, else a text that names the broken field.
const char *LoadPeImage(const UINT8 *File, UINT32 FileSize, UINT32 LoadBase, UINT32 MaxImageSize,
                        LOADED_IMAGE &Loaded);

#endif  // QEMU_LOADER_PE_LOAD_H_
