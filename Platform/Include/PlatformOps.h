// The operations the module needs from whatever carries out its accesses.
// On the real machine these are processor port instructions and plain
// physical-memory accesses (Platform/Ia32); on a host they are forwarded to
// the virtual board through the host platform (Platform/Host).
#ifndef PLATFORM_PLATFORM_OPS_H_
#define PLATFORM_PLATFORM_OPS_H_

#include "Base.h"

#if defined(__i386__)
#include "../Ia32/PlatformIa32.h"
#else
void PlatformPortOut32(UINT16 Port, UINT32 Value);
void PlatformPortOut8(UINT16 Port, UINT8 Value);
UINT8 PlatformLoad8(UINTN Address);
UINT32 PlatformLoad32(UINTN Address);
void PlatformStore32(UINTN Address, UINT32 Value);

// Diagnostics observation points. The module's own behaviour is fixed (the
// sink discards, the halt spins); a host harness may watch both, end a halt
// as a debugger would, or widen the debug level mask.
void PlatformSinkObserve(const CHAR8 *Buffer, UINTN Length);
void PlatformHaltEntered(volatile UINT32 *HaltWord);
UINT32 PlatformDebugPrintLevel(UINT32 BuiltLevel);
#endif

#endif  // PLATFORM_PLATFORM_OPS_H_
