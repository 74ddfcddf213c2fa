// The processor's I/O ports and the legacy PCI configuration mechanism
// (0xCF8/0xCFC); the registers are named in Q35Registers.h.
#ifndef QEMU_FOUNDATION_PORT_IO_H_
#define QEMU_FOUNDATION_PORT_IO_H_

#include "Base.h"
#include "Q35Registers.h"

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
  return q35::kPciConfigEnable | (Bus << 16) | (Device << 11) | (Function << 8) | (Register & 0xFCu);
}
inline UINT32 PciRead32(UINT32 Bus, UINT32 Device, UINT32 Function, UINT32 Register) {
  OutDword(q35::kPciConfigAddressPort, PciConfigAddress(Bus, Device, Function, Register));
  return InDword(q35::kPciConfigDataPort);
}
inline void PciWrite32(UINT32 Bus, UINT32 Device, UINT32 Function, UINT32 Register, UINT32 Value) {
  OutDword(q35::kPciConfigAddressPort, PciConfigAddress(Bus, Device, Function, Register));
  OutDword(q35::kPciConfigDataPort, Value);
}

// The time stamp counter: under QEMU's -icount shift=0 it counts instructions.
inline UINT64 ReadTsc() {
  UINT32 Low, High;
  __asm__ volatile("rdtsc" : "=a"(Low), "=d"(High));
  return static_cast<UINT64>(High) << 32 | Low;
}

#endif  // QEMU_FOUNDATION_PORT_IO_H_
