// The end of every run: the outcome, the hardware state read back from QEMU's
// own devices (the UARTs, the LPC bridge, the window, the three base
// registers, and each device's answer at its base once memory decode is on),
// the completion marker, and the exit code for QEMU.
#include "Console.h"
#include "Foundation.h"
#include "FoundationProtocol.h"
#include "MemoryMap.h"
#include "PortIo.h"

namespace {

using namespace foundation_protocol;

void ReportState(const char *Name, UINT32 Value) {
  Print(kStateKey);
  Print(" ");
  ReportWord(Name, Value);
}

void ReportUart(const char *Name, UINT16 Base) {
  const UINT8 LineControl = InByte(Base + q35::kUartLineControl);
  OutByte(Base + q35::kUartLineControl, LineControl | q35::kUartLcrDivisorLatch);
  const UINT8 Low = InByte(Base + q35::kUartDivisorLow);
  const UINT8 High = InByte(Base + q35::kUartDivisorHigh);
  OutByte(Base + q35::kUartLineControl, LineControl);
  Print(kStateKey);
  Print(" ");
  Print(Name);
  const UINT8 Values[3] = {LineControl, Low, High};
  for (const UINT8 Value : Values) {
    Print(" ");
    PrintHex(Value, 2);
  }
  Print("\n");
}

}  // namespace

[[noreturn]] void Finish(const char *Outcome, UINT8 ExitCode) {
  Print(kOutcomeKey);
  Print(" ");
  Print(Outcome);
  Print("\n");
  UINT32 StackBytes = 0;
  Print(kStackKey);
  Print(DeepestStackUse(StackBytes) ? " " : " over ");
  PrintDecimal(StackBytes);
  Print("\n");
  ReportUart(kCom1, q35::kCom1Port);
  ReportUart(kCom2, q35::kCom2Port);
  ReportState(kLpc40, PciRead32(0, q35::kLpcDevice, 0, q35::kLpcIoBase));
  ReportState(kLpc50, PciRead32(0, q35::kLpcDevice, 0, q35::kLpcWindowBase));
  ReportState(kLpc80, PciRead32(0, q35::kLpcDevice, 0, q35::kLpcDecode));
  ReportState(kWindow88, *reinterpret_cast<volatile UINT32 *>(LPC_WINDOW_PAGE + LPC_WINDOW_CONTROL));
  for (const PROGRAMMED_DEVICE &Device : kDevices) {
    ReportState(Device.BaseName, PciRead32(gOptions.Bus, Device.Device, 0, Device.BaseRegister));
  }
  // As later firmware would: memory decode on for each device on bus 0 whose
  // base register now holds an address (a device left at 0 would answer
  // there). First the mark in QEMU's trace after which no write is the module's.
  PciWrite32(0, kAfterModuleMarkDevice, 0, kAfterModuleMarkRegister, 0);
  for (const PROGRAMMED_DEVICE &Device : kDevices) {
    if (PciRead32(0, Device.Device, 0, Device.BaseRegister) != 0) {
      const UINT32 Command = PciRead32(0, Device.Device, 0, q35::kPciCommand);
      PciWrite32(0, Device.Device, 0, q35::kPciCommand, Command | q35::kPciCommandMemorySpace);
    }
  }
  for (const PROGRAMMED_DEVICE &Device : kDevices) {
    Print(kDeviceKey);
    Print(" ");
    ReportWord(Device.AnswerName, *reinterpret_cast<volatile UINT32 *>(Device.Base + Device.ProbeOffset));
  }
  Print(kDoneLine);
  Print("\n");
  ExitQemu(ExitCode);
}

[[noreturn]] void Fail(const char *Text, UINT32 Value) {
  Print(kErrorKey);
  Print(" ");
  Print(Text);
  Print(" ");
  PrintHex(Value, 8);
  Print("\n");
  Finish(kOutcomeFailed, kExitFoundationError);
}
