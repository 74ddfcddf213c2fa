// The loader's own walk of a firmware volume, as a PEI foundation walks the
// boot firmware volume: the first PEIM file, its PEI dependency expression and
// its PE32 section. Every field is checked against the volume before use.
#ifndef QEMU_LOADER_VOLUME_WALK_H_
#define QEMU_LOADER_VOLUME_WALK_H_

#include "Base.h"

struct VOLUME_PEIM {
  const UINT8 *Depex;  // null when the file has no PEI dependency expression
  UINT32 DepexSize;
  const UINT8 *Pe32;
  UINT32 Pe32Size;
};

// True when Bytes starts with a firmware volume header ("_FVH" at 0x28).
bool IsFirmwareVolume(const UINT8 *Bytes, UINT32 Size);

// Null on success, else what is wrong with the volume.
const char *FindPeimInVolume(const UINT8 *Bytes, UINT32 Size, VOLUME_PEIM &Peim);

// 1 holds, 0 does not, -1 malformed. Installed: whether BUS_INFO_PPI is.
int EvaluatePeiDepex(const UINT8 *Expression, UINT32 Size, const UINT8 *BusInfoGuid, bool Installed);

#endif  // QEMU_LOADER_VOLUME_WALK_H_
