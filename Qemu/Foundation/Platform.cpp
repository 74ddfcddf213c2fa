// The machine the PEIMs find: the foundation's paging and tasks, the records
// earlier firmware leaves for the module, the decode state the board starts
// in, and the PEI services table.
#include "Console.h"
#include "Foundation.h"
#include "FoundationProtocol.h"
#include "Layout/Guids.h"
#include "Machine.h"
#include "MemoryMap.h"
#include "PortIo.h"

#define PCIE_BASE 0xE0000000u          // the module's PcdPcieBase: ECAM is moved there
#define PLATFORM_DATA_ANCHOR 0x148u    // in the anchor page: the address of PLATFORM_DATA
#define PLATFORM_DATA_CONFIG 0x20u     // in PLATFORM_DATA: the address of PLATFORM_CONFIG
#define PLATFORM_CONFIG_DIVISOR 0x43u  // in PLATFORM_CONFIG: the serial divisor code
#define BUS_INFO_REVISION 0u
#define BUS_INFO_BUS 1u
#define LPC_DECODE_AT_RESET 0u         // SeaBIOS leaves 0x00030000 here; the board starts at 0

FOUNDATION_OPTIONS gOptions;

namespace {

alignas(16) UINT8 mPlatformData[0x100];
alignas(16) UINT8 mPlatformConfig[0x100];
alignas(16) UINT8 mBusInfoPpi[16];
EFI_PEI_PPI_DESCRIPTOR mBusInfoDescriptor;

// The records earlier firmware leaves, and the decode state the board starts in.
void PreparePlatform() {
  const UINT32 Data = reinterpret_cast<UINT32>(mPlatformData);
  const UINT32 Config = reinterpret_cast<UINT32>(mPlatformConfig);
  memcpy(gAnchorPage + PLATFORM_DATA_ANCHOR, &Data, 4);
  memset(gWindowPage + LPC_WINDOW_CONTROL, 0, 4);  // the window's control word at reset
  memcpy(mPlatformData + PLATFORM_DATA_CONFIG, &Config, 4);
  mPlatformConfig[PLATFORM_CONFIG_DIVISOR] = gOptions.DivisorCode;
  mBusInfoPpi[BUS_INFO_REVISION] = 1;
  mBusInfoPpi[BUS_INFO_BUS] = gOptions.Bus;
  mBusInfoDescriptor = {EFI_PEI_PPI_DESCRIPTOR_PPI | EFI_PEI_PPI_DESCRIPTOR_TERMINATE_LIST, &gBusInfoPpiGuid, mBusInfoPpi};

  PciWrite32(0, 0, 0, q35::kPciExBarHigh, 0);
  PciWrite32(0, 0, 0, q35::kPciExBarLow, PCIE_BASE | q35::kPciExBarEnable);
  PciWrite32(0, q35::kLpcDevice, 0, q35::kLpcIoBase, gOptions.Reg40);
  PciWrite32(0, q35::kLpcDevice, 0, q35::kLpcDecode, LPC_DECODE_AT_RESET);
  // The devices' bases start at 0; the last of these writes is the set-up
  // mark in QEMU's trace.
  for (const foundation_protocol::PROGRAMMED_DEVICE &Device : foundation_protocol::kDevices) {
    PciWrite32(0, Device.Device, 0, Device.BaseRegister, 0);
  }
  static_assert(foundation_protocol::kDevices[2].Device == foundation_protocol::kSetUpMarkDevice &&
                foundation_protocol::kDevices[2].BaseRegister == foundation_protocol::kSetUpMarkRegister);
}

}  // namespace

const EFI_PEI_PPI_DESCRIPTOR *BusInfoDescriptor() { return &mBusInfoDescriptor; }

void PrepareMachine() {
  EnablePaging();
  InstallDescriptorTables();  // the tasks take the page directory from CR3
  PreparePlatform();
  BuildServicesTable();
}
