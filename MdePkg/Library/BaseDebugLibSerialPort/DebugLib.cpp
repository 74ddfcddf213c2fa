// Assertion reports, level-gated debug messages and the (discarding) sink.
#include "Library/DebugLib.h"

#include "Library/BaseLib.h"
#include "Library/PrintLib.h"

#define MESSAGE_BUFFER_SIZE 256u

FIRMWARE_ROUTINES_BEGIN

// Kept out of line and opaque so that the call, its buffer and its length
// stay observable (a debugger or an emulator breaks here) even though the
// module's sink throws the bytes away.
FIRMWARE_C_NAME __attribute__((noinline, used)) UINTN SerialWrite(const UINT8 *Buffer, UINTN Length) {
  __asm__ volatile("" : : "r"(Buffer), "r"(Length) : "memory");
  PlatformSinkObserve(reinterpret_cast<const CHAR8 *>(Buffer), Length);
  return Length;
}

FIRMWARE_C_NAME __attribute__((noinline, used)) void HaltProcessor() {
  volatile UINT32 HaltWord = 0;
  PlatformHaltEntered(&HaltWord);
  while (HaltWord == 0) {
  }
}

void ReportAssertion(const CHAR8 *FileName, UINTN LineNumber, const CHAR8 *Description) {
  CHAR8 Buffer[MESSAGE_BUFFER_SIZE];
  PrintAscii(Buffer, MESSAGE_BUFFER_SIZE, "ASSERT %a(%d): %a\n", FileName, LineNumber, Description);
  SerialWrite(reinterpret_cast<const UINT8 *>(Buffer), AsciiStrLength(Buffer));
  HaltProcessor();
}

void DebugPrintArgs(UINT32 ErrorLevel, const CHAR8 *Format, PRINT_ARG_LIST *Args) {
  ASSERT(Format != ((void *) 0));
  if (Format == nullptr) {
    return;  // only reached when a debugger ends the halt: there is nothing to format
  }
  if (!DebugPrintLevelEnabled(ErrorLevel)) {
    return;
  }
  CHAR8 Buffer[MESSAGE_BUFFER_SIZE];
  FormatToBuffer(Buffer, MESSAGE_BUFFER_SIZE, Format, Args);
  SerialWrite(reinterpret_cast<const UINT8 *>(Buffer), AsciiStrLength(Buffer));
}

FIRMWARE_ROUTINES_END
