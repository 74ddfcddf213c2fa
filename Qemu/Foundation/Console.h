// The foundation's debug console (QEMU's -debugcon port) and its way out:
// lines of the protocol the runner reads (FoundationProtocol.h).
#ifndef QEMU_FOUNDATION_CONSOLE_H_
#define QEMU_FOUNDATION_CONSOLE_H_

#include "Base.h"

void PrintChar(char Character);
void Print(const char *Text);
void PrintHex(UINT32 Value, int Digits);  // "0x" and Digits upper-case digits
void PrintDecimal(UINT32 Value);
void PrintHexBytes(const UINT8 *Bytes, UINT32 Count);  // two upper-case digits each, nothing between
void PrintGuid(const UINT8 *Guid);                      // registry format, upper case
// "Name 0x0000001F" and a line end.
void ReportWord(const char *Name, UINT32 Value);

// Ends QEMU through isa-debug-exit with one of the protocol's exit codes.
[[noreturn]] void ExitQemu(UINT8 Code);

extern "C" void *memset(void *Destination, int Value, __SIZE_TYPE__ Size);
extern "C" void *memcpy(void *Destination, const void *Source, __SIZE_TYPE__ Size);

#endif  // QEMU_FOUNDATION_CONSOLE_H_
