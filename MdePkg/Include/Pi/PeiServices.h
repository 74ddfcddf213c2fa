// The part of the PEI services table this module uses, in its published PI
// layout: a 24-byte header followed by the service pointers.
#ifndef MDEPKG_PI_PEI_SERVICES_H_
#define MDEPKG_PI_PEI_SERVICES_H_

#include "Base.h"

#define PEI_SERVICES_SIGNATURE 0x5652455320494550ull  // "PEI SERV"

struct EFI_TABLE_HEADER {
  UINT64 Signature;
  UINT32 Revision;
  UINT32 HeaderSize;
  UINT32 CRC32;
  UINT32 Reserved;
};
static_assert(sizeof(EFI_TABLE_HEADER) == 24);

struct EFI_PEI_PPI_DESCRIPTOR {
  UINTN Flags;
  const EFI_GUID *Guid;
  void *Ppi;
};

struct EFI_PEI_SERVICES;
using EFI_PEI_FILE_HANDLE = void *;

using EFI_PEI_LOCATE_PPI = EFI_STATUS(EFIAPI *)(const EFI_PEI_SERVICES **PeiServices, const EFI_GUID *Guid,
                                                UINTN Instance, EFI_PEI_PPI_DESCRIPTOR **PpiDescriptor,
                                                void **Ppi);

// Services after LocatePpi are never called; they are kept as opaque slots so
// that the table keeps its published shape.
struct EFI_PEI_SERVICES {
  EFI_TABLE_HEADER Hdr;
  void *InstallPpi;
  void *ReInstallPpi;
  EFI_PEI_LOCATE_PPI LocatePpi;
  void *NotifyPpi;
  void *GetBootMode;
  void *SetBootMode;
  void *GetHobList;
  void *CreateHob;
};

#if defined(__i386__)
static_assert(__builtin_offsetof(EFI_PEI_SERVICES, LocatePpi) == 0x20);
#endif

#endif  // MDEPKG_PI_PEI_SERVICES_H_
