#include "HostRun.h"

#include <cstring>

#include "Pi/PeiServices.h"
#include "ZodOdoRidaZar.h"

namespace {

// The table with the board behind it: LocatePpi finds its board from the
// table pointer it is called with, so no global is needed.
struct HostPeiServices {
  EFI_PEI_SERVICES Table;
  VirtualBoard *Board;
};

EFI_STATUS EFIAPI BoardLocatePpi(const EFI_PEI_SERVICES **PeiServices, const EFI_GUID *Guid, UINTN Instance,
                                 EFI_PEI_PPI_DESCRIPTOR **PpiDescriptor, void **Ppi) {
  const auto *Services = reinterpret_cast<const HostPeiServices *>(*PeiServices);
  std::uint8_t GuidBytes[16];
  std::memcpy(GuidBytes, Guid, sizeof GuidBytes);
  std::uint32_t Address = 0;
  const std::uint32_t Status = Services->Board->LocatePpi(GuidBytes, Instance, &Address);
  if (!EFI_ERROR(Status)) {
    // The PPI lives in board memory; its "pointer" is its physical address.
    *Ppi = reinterpret_cast<void *>(static_cast<std::uintptr_t>(Address));
    if (PpiDescriptor != nullptr) {
      *PpiDescriptor = nullptr;
    }
  }
  return Status;
}

}  // namespace

void RunModuleOnHost(VirtualBoard &Board) {
  HostPeiServices Services{};
  Services.Table.Hdr.Signature = PEI_SERVICES_SIGNATURE;
  Services.Table.Hdr.HeaderSize = sizeof(EFI_TABLE_HEADER);
  Services.Table.LocatePpi = BoardLocatePpi;
  Services.Board = &Board;
  const EFI_PEI_SERVICES *TablePointer = &Services.Table;

  ScopedHostPlatform Installed(Board);
  EFI_STATUS Status = 0;
  const bool Finished = RunStoppableAtHalt([&] { Status = ModuleEntry(nullptr, &TablePointer); });
  if (Finished) {
    Board.Returned(Status);
  }
}
