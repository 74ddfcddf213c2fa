// The loader's walk of a firmware volume, as a PEI foundation walks the boot
// firmware volume: the first PEIM file, its PEI dependency expression and its
// PE32 section. The checks are the layout library's.
#ifndef QEMU_LOADER_VOLUME_WALK_H_
#define QEMU_LOADER_VOLUME_WALK_H_

#include "Base.h"

struct VOLUME_PEIM {
  const UINT8 *Depex;  // null when the file has no PEI dependency expression
  UINT32 DepexSize;
  const UINT8 *Pe32;  // the PE32 or TE section's image
  UINT32 Pe32Size;
};

// Null on success, else what is wrong with the volume.
const char *FindPeimInVolume(const UINT8 *Bytes, UINT32 Size, VOLUME_PEIM &Peim);

#endif  // QEMU_LOADER_VOLUME_WALK_H_
