// The PEI services table the foundation hands every PEIM and the PPI database
// behind InstallPpi and LocatePpi. Every other service is a slot that ends
// the run with its number: no PEIM of this ROM may call one.
#include "Console.h"
#include "Foundation.h"
#include "FoundationProtocol.h"
#include "Layout/Guids.h"

#define SERVICE_SLOTS 28u  // InstallPpi ... FreePages
#define INSTALL_PPI_SLOT 0u
#define LOCATE_PPI_SLOT 2u

extern "C" EFI_STATUS LocatePpiService();
extern "C" EFI_STATUS InstallPpiService();

namespace {

struct SERVICES_TABLE {
  EFI_TABLE_HEADER Hdr;
  void *Slots[SERVICE_SLOTS];
};

SERVICES_TABLE mServices;
const SERVICES_TABLE *mServicesPointer = &mServices;

const EFI_PEI_PPI_DESCRIPTOR *mPpis[PPI_DATABASE_SIZE];
UINT32 mPpiCount;

template <UINT32 Slot>
EFI_STATUS EFIAPI UnexpectedService() {
  Print(foundation_protocol::kErrorKey);
  Print(" unexpected service ");
  PrintDecimal(Slot);
  Print("\n");
  Finish(foundation_protocol::kOutcomeFailed, foundation_protocol::kExitFoundationError);
}

template <UINT32... Slots>
void FillServiceSlots(void **Table) {
  ((Table[Slots] = reinterpret_cast<void *>(&UnexpectedService<Slots>)), ...);
}

bool ValidDescriptor(const EFI_PEI_PPI_DESCRIPTOR &Descriptor) {
  return (Descriptor.Flags & EFI_PEI_PPI_DESCRIPTOR_PPI) != 0 && Descriptor.Guid != nullptr;
}

}  // namespace

void BuildServicesTable() {
  mServices.Hdr.Signature = PEI_SERVICES_SIGNATURE;
  mServices.Hdr.Revision = (1u << 16) | 70u;
  mServices.Hdr.HeaderSize = sizeof mServices;
  FillServiceSlots<0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25,
                   26, 27>(mServices.Slots);
  mServices.Slots[INSTALL_PPI_SLOT] = reinterpret_cast<void *>(&InstallPpiService);
  mServices.Slots[LOCATE_PPI_SLOT] = reinterpret_cast<void *>(&LocatePpiService);
}

const void *PeiServicesPointer() { return &mServicesPointer; }

void RecordPpi(const EFI_PEI_PPI_DESCRIPTOR *Descriptor) {
  if (mPpiCount == PPI_DATABASE_SIZE) {
    Fail("PPI database full", mPpiCount);
  }
  mPpis[mPpiCount++] = Descriptor;
}

BOOLEAN PpiInstalled(const UINT8 *Guid, void *) {
  for (UINT32 Index = 0; Index < mPpiCount; Index++) {
    if (SameGuid(Guid, reinterpret_cast<const UINT8 *>(mPpis[Index]->Guid))) {
      return true;
    }
  }
  return false;
}

extern "C" EFI_STATUS LocatePpiOnServiceStack(const void *PeiServices, const UINT8 *Guid, UINTN Instance,
                                              EFI_PEI_PPI_DESCRIPTOR **Descriptor, void **Ppi) {
  if (PeiServices != &mServicesPointer || Guid == nullptr || Ppi == nullptr) {
    Fail("LocatePpi called with a bad pointer", reinterpret_cast<UINT32>(Guid));
  }
  EFI_STATUS Status = EFI_NOT_FOUND;
  const GUID_BYTES BusInfo = GuidBytes(gBusInfoPpiGuid);
  if (gOptions.Ppi == PPI_FAILS && SameGuid(Guid, BusInfo.Bytes)) {
    Status = gOptions.PpiStatus;  // an error status: the options refuse any other
  } else {
    // Instance N is the N+1-th installed descriptor with this GUID, in the order installed.
    UINTN Seen = 0;
    for (UINT32 Index = 0; Index < mPpiCount && Status == EFI_NOT_FOUND; Index++) {
      if (SameGuid(Guid, reinterpret_cast<const UINT8 *>(mPpis[Index]->Guid)) && Seen++ == Instance) {
        Status = EFI_SUCCESS;
        *Ppi = mPpis[Index]->Ppi;
        if (Descriptor != nullptr) {
          *Descriptor = const_cast<EFI_PEI_PPI_DESCRIPTOR *>(mPpis[Index]);
        }
      }
    }
  }
  Print("locateppi ");
  PrintGuid(Guid);
  Print(" ");
  PrintHex(Status, 8);
  Print("\n");
  return Status;
}

// InstallPpi: a list of descriptors, the last with the terminate flag. The
// list goes in whole or not at all: it is checked to its end, and must fit,
// before the first descriptor is recorded.
extern "C" EFI_STATUS InstallPpiOnServiceStack(const void *PeiServices, const EFI_PEI_PPI_DESCRIPTOR *List) {
  if (PeiServices != &mServicesPointer || List == nullptr) {
    Fail("InstallPpi called with a bad pointer", reinterpret_cast<UINT32>(List));
  }
  UINT32 Count = 0;
  for (bool Last = false; !Last; Count++) {
    if (Count == PPI_DATABASE_SIZE || !ValidDescriptor(List[Count])) {
      Print("installppi invalid\n");
      return EFI_INVALID_PARAMETER;
    }
    Last = (List[Count].Flags & EFI_PEI_PPI_DESCRIPTOR_TERMINATE_LIST) != 0;
  }
  if (Count > PPI_DATABASE_SIZE - mPpiCount) {
    Print("installppi full\n");
    return EFI_OUT_OF_RESOURCES;
  }
  for (UINT32 Index = 0; Index < Count; Index++) {
    mPpis[mPpiCount++] = &List[Index];
    Print("installppi ");
    PrintGuid(reinterpret_cast<const UINT8 *>(List[Index].Guid));
    Print("\n");
  }
  return EFI_SUCCESS;
}
