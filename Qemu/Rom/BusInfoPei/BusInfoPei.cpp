// BusInfoPei: the PEIM that installs BUS_INFO_PPI, as another module of the
// platform would before SocPreInit runs. The PPI itself (with the bus number
// the settings chose) comes from the foundation's board settings; with none
// there, it installs nothing.
#include "BoardSettingsPpi.h"
#include "Layout/Guids.h"

extern "C" EFI_STATUS EFIAPI BusInfoPeiEntry(EFI_PEI_FILE_HANDLE, const EFI_PEI_SERVICES **PeiServices) {
  using INSTALL_PPI = EFI_STATUS(EFIAPI *)(const EFI_PEI_SERVICES **, const EFI_PEI_PPI_DESCRIPTOR *);
  void *Found = nullptr;
  EFI_STATUS Status = (*PeiServices)->LocatePpi(PeiServices, &gBoardSettingsPpiGuid, 0, nullptr, &Found);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  const auto *Settings = static_cast<const BOARD_SETTINGS_PPI *>(Found);
  if (Settings->BusInfo == nullptr) {
    return EFI_SUCCESS;
  }
  return reinterpret_cast<INSTALL_PPI>((*PeiServices)->InstallPpi)(PeiServices, Settings->BusInfo);
}
