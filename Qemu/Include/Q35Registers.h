// The registers of QEMU's q35 machine that the foundation programs and reads
// back and that the runner's checks name: the legacy PCI configuration
// ports, the common configuration header, the host bridge's PCIEXBAR, the
// LPC bridge's decode registers and a 16550's line registers.
#ifndef QEMU_INCLUDE_Q35_REGISTERS_H_
#define QEMU_INCLUDE_Q35_REGISTERS_H_

#include "Base.h"

namespace q35 {
inline constexpr UINT16 kPciConfigAddressPort = 0xCF8;
inline constexpr UINT16 kPciConfigDataPort = 0xCFC;
inline constexpr UINT32 kPciConfigEnable = 0x80000000u;

// Every function's configuration header.
inline constexpr UINT32 kPciCommand = 0x04;
inline constexpr UINT32 kPciCommandMemorySpace = 0x02;  // the function answers at its memory bases

// The host bridge (00:00.0): PCIEXBAR, where the ECAM window lies.
inline constexpr UINT32 kPciExBarLow = 0x60;
inline constexpr UINT32 kPciExBarHigh = 0x64;
inline constexpr UINT32 kPciExBarEnable = 0x1;  // with length bits 0: 256 MiB

// The LPC bridge (00:1F.0).
inline constexpr UINT32 kLpcDevice = 31;
inline constexpr UINT32 kLpcIoBase = 0x40;
inline constexpr UINT32 kLpcIoBaseEnabled = 0x02;  // the bit the module tests before it writes
inline constexpr UINT32 kLpcWindowBase = 0x50;
inline constexpr UINT32 kLpcDecode = 0x80;

// A 16550's registers from its base port.
inline constexpr UINT16 kUartDivisorLow = 0;   // with the divisor latch open
inline constexpr UINT16 kUartDivisorHigh = 1;  // with the divisor latch open
inline constexpr UINT16 kUartLineControl = 3;
inline constexpr UINT8 kUartLcrDivisorLatch = 0x80;
inline constexpr UINT16 kCom1Port = 0x3F8;
inline constexpr UINT16 kCom2Port = 0x2F8;
}  // namespace q35

#endif  // QEMU_INCLUDE_Q35_REGISTERS_H_
