// The processor's I/O ports and the legacy PCI configuration mechanism
// (0xCF8/0xCFC), and the Q35 registers the foundation programs by name.
#ifndef QEMU_FOUNDATION_PORT_IO_H_
#define QEMU_FOUNDATION_PORT_IO_H_

#include "Base.h"

#define PCI_CONFIG_ADDRESS_PORT 0xCF8u
#define PCI_CONFIG_DATA_PORT 0xCFCu
#define PCI_CONFIG_ENABLE 0x80000000u

// Every function's configuration header.
#define PCI_COMMAND_REGISTER 0x04u
#define PCI_COMMAND_MEMORY_SPACE 0x02u  // the function answers at its memory bases

// The Q35 host bridge (00:00.0): PCIEXBAR, where the ECAM window lies.
#define Q35_PCIEXBAR_LOW 0x60u
#define Q35_PCIEXBAR_HIGH 0x64u
#define Q35_PCIEXBAR_ENABLE 0x1u  // with length bits 0: 256 MiB

// The LPC bridge (00:1F.0): the registers the module programs.
#define LPC_DEVICE 31u
#define LPC_IO_BASE_REGISTER 0x40u
#define LPC_WINDOW_BASE_REGISTER 0x50u
#define LPC_DECODE_REGISTER 0x80u

// A 16550's registers from its base port.
#define UART_DIVISOR_LOW 0u   // with the divisor latch open
#define UART_DIVISOR_HIGH 1u  // with the divisor latch open
#define UART_LINE_CONTROL 3u
#define UART_LCR_DIVISOR_LATCH 0x80u
#define COM1_PORT 0x3F8u
#define COM2_PORT 0x2F8u

inline void OutByte(UINT16 Port, UINT8 Value) { __asm__ volatile("outb %0, %1" : : "a"(Value), "Nd"(Port)); }
inline void OutWord(UINT16 Port, UINT16 Value) { __asm__ volatile("outw %0, %1" : : "a"(Value), "Nd"(Port)); }
inline void OutDword(UINT16 Port, UINT32 Value) { __asm__ volatile("outl %0, %1" : : "a"(Value), "Nd"(Port)); }
inline UINT8 InByte(UINT16 Port) {
  UINT8 Value;
  __asm__ volatile("inb %1, %0" : "=a"(Value) : "Nd"(Port));
  return Value;
}
inline UINT32 InDword(UINT16 Port) {
  UINT32 Value;
  __asm__ volatile("inl %1, %0" : "=a"(Value) : "Nd"(Port));
  return Value;
}

inline UINT32 PciConfigAddress(UINT32 Bus, UINT32 Device, UINT32 Function, UINT32 Register) {
  return PCI_CONFIG_ENABLE | (Bus << 16) | (Device << 11) | (Function << 8) | (Register & 0xFCu);
}
inline UINT32 PciRead32(UINT32 Bus, UINT32 Device, UINT32 Function, UINT32 Register) {
  OutDword(PCI_CONFIG_ADDRESS_PORT, PciConfigAddress(Bus, Device, Function, Register));
  return InDword(PCI_CONFIG_DATA_PORT);
}
inline void PciWrite32(UINT32 Bus, UINT32 Device, UINT32 Function, UINT32 Register, UINT32 Value) {
  OutDword(PCI_CONFIG_ADDRESS_PORT, PciConfigAddress(Bus, Device, Function, Register));
  OutDword(PCI_CONFIG_DATA_PORT, Value);
}

// The time stamp counter: under QEMU's -icount shift=0 it counts instructions.
inline UINT64 ReadTsc() {
  UINT32 Low, High;
  __asm__ volatile("rdtsc" : "=a"(Low), "=d"(High));
  return static_cast<UINT64>(High) << 32 | Low;
}

#endif  // QEMU_FOUNDATION_PORT_IO_H_
