// Platform operations of the real 32-bit machine: port instructions and
// volatile physical-memory accesses. Included through PlatformOps.h only.
#ifndef PLATFORM_IA32_PLATFORM_IA32_H_
#define PLATFORM_IA32_PLATFORM_IA32_H_

inline void PlatformPortOut32(UINT16 Port, UINT32 Value) {
  __asm__ volatile("outl %0, %1" : : "a"(Value), "Nd"(Port));
}

inline void PlatformPortOut8(UINT16 Port, UINT8 Value) {
  __asm__ volatile("outb %0, %1" : : "a"(Value), "Nd"(Port));
}

inline UINT8 PlatformLoad8(UINTN Address) { return *reinterpret_cast<volatile UINT8 *>(Address); }

inline UINT32 PlatformLoad32(UINTN Address) { return *reinterpret_cast<volatile UINT32 *>(Address); }

inline void PlatformStore32(UINTN Address, UINT32 Value) { *reinterpret_cast<volatile UINT32 *>(Address) = Value; }

// Nothing watches the sink or the halt on the real machine; a debugger ends a
// halt by writing the halt word itself.
inline void PlatformSinkObserve(const CHAR8 *, UINTN) {}
inline void PlatformHaltEntered(volatile UINT32 *) {}
inline UINT32 PlatformDebugPrintLevel(UINT32 BuiltLevel) { return BuiltLevel; }

#endif  // PLATFORM_IA32_PLATFORM_IA32_H_
