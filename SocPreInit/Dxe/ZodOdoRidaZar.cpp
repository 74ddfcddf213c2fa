#include "ZodOdoRidaZar.h"

#include "Library/DebugLib.h"
#include "Library/IoLib.h"
#include "PlatformOps.h"

UINT8 UartParity = 0;
UINT8 UartBreak = 0;

#define LEGACY_UART_CLOCK_RATE 115200u
#define COM1_BASE 0x3F8u
#define COM2_BASE 0x2F8u
#define UART_DIVISOR_LOW 0u   // with the divisor latch open
#define UART_DIVISOR_HIGH 1u  // with the divisor latch open
#define UART_LINE_CONTROL 3u
#define UART_LCR_8_DATA_2_STOP 0x07u
#define UART_LCR_DIVISOR_LATCH 0x80u

#define PCI_CONFIG_ADDRESS_PORT 0xCF8u
#define PCI_CONFIG_DATA_PORT 0xCFCu
#define LPC_DEVICE 31u
#define LPC_IO_BASE_REGISTER 0x40u
#define LPC_IO_BASE_ENABLED 0x02u
#define LPC_IO_BASE_ENABLE_VALUE 0x00000402u
#define LPC_WINDOW_BASE_REGISTER 0x50u
#define LPC_WINDOW_BASE_VALUE 0xFED08002u  // window at 0xFED08000, enabled
#define LPC_WINDOW_CONTROL_ADDRESS 0xFED08088u
#define LPC_WINDOW_CONTROL_VALUE 0x00000018u
#define LPC_DECODE_REGISTER 0x80u
#define LPC_DECODE_VALUE 0x00000003u

namespace {

// Line-rate table: the listed SerialDivisorCode values. Each selects the line
// rate 115200 / code (1: 115200, 2: 57600, 3: 38400, 6: 19200, 12: 9600,
// 24: 4800, 48: 2400, 96: 1200); any other code selects 115200.
const UINT8 mListedDivisorCodes[] = {1, 2, 3, 6, 12, 24, 48, 96};

// The offset of a function's register within its bus's 1 MiB of
// configuration space.
constexpr UINT32 PcieFunctionOffset(UINT32 Device, UINT32 Function, UINT32 Register) {
  return (Device << 15) + (Function << 12) + Register;
}

UINTN PcieConfigAddress(UINTN Bus, UINT32 FunctionOffset) {
  return static_cast<UINTN>(PcdPcieBase) + (Bus << 20) + FunctionOffset;
}

// Device base-address table: device, function and register (as their offset
// within the bus), and the value written, in the order they are written.
struct DEVICE_BASE {
  UINT32 FunctionOffset;
  UINT32 Value;
};

alignas(4) const DEVICE_BASE mDeviceBases[] = {
    {PcieFunctionOffset(22, 0, 0x10), 0xF0100000},
    {PcieFunctionOffset(23, 0, 0x24), 0xF0200000},
    {PcieFunctionOffset(24, 0, 0x24), 0xF0300000},
};

UINT32 LegacyConfigAddress(UINT32 Bus, UINT32 Device, UINT32 Function, UINT32 Register) {
  return 0x80000000u | (Bus << 16) | (Device << 11) | (Function << 8) | Register;
}

UINT32 LineRateOf(UINT8 Code) {
  for (const UINT8 Listed : mListedDivisorCodes) {
    if (Listed == Code) {
      return LEGACY_UART_CLOCK_RATE / Listed;
    }
  }
  return LEGACY_UART_CLOCK_RATE;
}

// The line fields are read from the image each time a line-control value is
// formed. Nothing in the module writes them, so an optimiser would fold them
// to their initial 0; the volatile reads keep the two bytes in the image and
// make them take effect when an integrator or a debugger changes them.
UINT8 ReadLineField(const UINT8 &Field) { return *const_cast<const volatile UINT8 *>(&Field); }

__attribute__((noinline)) void WriteLineControl(UINT8 LatchBit) {
  const UINT8 Value = static_cast<UINT8>(UART_LCR_8_DATA_2_STOP | LatchBit | (ReadLineField(UartParity) << 3) |
                                         (ReadLineField(UartBreak) << 6));
  PortWrite8(COM2_BASE + UART_LINE_CONTROL, Value);
  PortWrite8(COM1_BASE + UART_LINE_CONTROL, Value);
}

void WriteLpcConfig(UINT32 Register, UINT32 Value) {
  PortWrite32(PCI_CONFIG_ADDRESS_PORT, LegacyConfigAddress(0, LPC_DEVICE, 0, Register));
  PortWrite32(PCI_CONFIG_DATA_PORT, Value);
}

}  // namespace

EFI_STATUS LegacyUartInit() {
  const UINTN PlatformData = PlatformLoad32(PLATFORM_DATA_ANCHOR);
  const UINTN Config = PlatformLoad32(PlatformData + __builtin_offsetof(PLATFORM_DATA, Config));
  const UINT8 Code = PlatformLoad8(Config + __builtin_offsetof(PLATFORM_CONFIG, SerialDivisorCode));
  const UINT32 Rate = LineRateOf(Code);

  WriteLpcConfig(LPC_WINDOW_BASE_REGISTER, LPC_WINDOW_BASE_VALUE);
  MmioStore32(LPC_WINDOW_CONTROL_ADDRESS, LPC_WINDOW_CONTROL_VALUE);
  WriteLpcConfig(LPC_DECODE_REGISTER, LPC_DECODE_VALUE);

  const UINT32 Divisor = LEGACY_UART_CLOCK_RATE / Rate;
  WriteLineControl(UART_LCR_DIVISOR_LATCH);
  PortWrite8(COM2_BASE + UART_DIVISOR_HIGH, static_cast<UINT8>((Divisor >> 8) & 0xFF));
  PortWrite8(COM2_BASE + UART_DIVISOR_LOW, static_cast<UINT8>(Divisor & 0xFF));
  PortWrite8(COM1_BASE + UART_DIVISOR_HIGH, static_cast<UINT8>((Divisor >> 8) & 0xFF));
  PortWrite8(COM1_BASE + UART_DIVISOR_LOW, static_cast<UINT8>(Divisor & 0xFF));
  WriteLineControl(0);
  return EFI_SUCCESS;
}

void EnableD31IoBase() {
  const UINTN Address = PcieConfigAddress(0, PcieFunctionOffset(LPC_DEVICE, 0, LPC_IO_BASE_REGISTER));
  if ((PlatformLoad8(Address) & LPC_IO_BASE_ENABLED) != 0) {
    return;
  }
  PlatformStore32(Address, LPC_IO_BASE_ENABLE_VALUE);  // a plain store: no alignment check
}

EFI_STATUS SocPreInitEntry(const EFI_PEI_SERVICES **PeiServices) {
  void *Ppi = nullptr;
  const EFI_STATUS Status = (*PeiServices)->LocatePpi(PeiServices, &gBusInfoPpiGuid, 0, nullptr, &Ppi);
  if (EFI_ERROR(Status)) {
    if (DebugPrintLevelEnabled(LEVEL_ERROR)) {
      PrintDebugMessage(LEVEL_ERROR, "\nASSERT_EFI_ERROR (Status = %r)\n", Status);
    }
    ASSERT(!EFI_ERROR (Status));
    // Only reached when a debugger ends the halt. There is no PPI to read a
    // bus number from, so no base register is written and the lookup's
    // error is handed back instead of success.
    return Status;
  }
  for (const DEVICE_BASE &Row : mDeviceBases) {
    const UINT8 Bus = PlatformLoad8(PhysicalAddressOf(Ppi) + __builtin_offsetof(BUS_INFO_PPI, BusNumber));
    MmioStore32(PcieConfigAddress(Bus, Row.FunctionOffset), Row.Value);
  }
  return EFI_SUCCESS;
}

extern "C" EFI_STATUS EFIAPI ModuleEntry(EFI_PEI_FILE_HANDLE FileHandle, const EFI_PEI_SERVICES **PeiServices) {
  (void)FileHandle;
  LegacyUartInit();
  EnableD31IoBase();
  return SocPreInitEntry(PeiServices);
}
