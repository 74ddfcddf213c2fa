// The format engine: renders a format text and its arguments into a bounded
// buffer of 1-byte characters.
#ifndef MDEPKG_LIBRARY_PRINT_LIB_H_
#define MDEPKG_LIBRARY_PRINT_LIB_H_

#include "Base.h"
#include "Library/PrintArgs.h"
#include "Library/PrintFormatCheck.h"
#include "Library/PrintGrammar.h"

// Size of the engine's scratch area: digits of a number, or a nested GUID,
// time or status text.
#define PRINT_SCRATCH_SIZE 38u

// The forwarders below carry no debug information. A variable-location
// record of their parameters after the engine's call would make clang 14, at
// -Oz, release the call's arguments with an add where it otherwise pops them,
// so that an image built with -g would differ from one built without.
#if defined(__clang__)
#define FORWARDER_WITHOUT_DEBUG_INFO __attribute__((nodebug))
#else
#define FORWARDER_WITHOUT_DEBUG_INFO
#endif

FIRMWARE_ROUTINES_BEGIN

// Renders Format into Buffer (BufferSize characters including the terminator)
// taking arguments from Args; returns the characters written before the
// terminator. Args may be null, which reads as an empty list.
UINTN FormatToBuffer(CHAR8 *Buffer, UINTN BufferSize, const CHAR8 *Format, PRINT_ARG_LIST *Args);

// Writes Character (low 8 bits) Count times, stopping at End; returns the
// position after the last byte written.
CHAR8 *FillChars(CHAR8 *Position, CHAR8 *End, INT32 Count, UINT16 Character);

// Writes a 0 byte at Scratch and then the digits of Value, least significant
// first; returns the position of the most significant digit.
CHAR8 *ValueToText(CHAR8 *Scratch, UINT64 Value, UINT32 Base);

// FormatToBuffer with the arguments given directly. A literal format is
// checked against the arguments at compile time.
template <class... ARGS> FORWARDER_WITHOUT_DEBUG_INFO inline UINTN PrintArgsTo(CHAR8 *Buffer, UINTN BufferSize, const CHAR8 *Format, ARGS... Args) {
  // One record per argument (one unused record when there are none).
  const PRINT_ARG List[sizeof...(ARGS) + (sizeof...(ARGS) == 0)] = {MakePrintArg(Args)...};
  PRINT_ARG_LIST Cursor = {List, List + sizeof...(ARGS)};
  return FormatToBuffer(Buffer, BufferSize, Format, &Cursor);
}

template <class... ARGS>
FORWARDER_WITHOUT_DEBUG_INFO inline UINTN PrintAscii(CHAR8 *Buffer, UINTN BufferSize, CHECKED_FORMAT<ARGS...> Format, ARGS... Args) {
  return PrintArgsTo(Buffer, BufferSize, Format.Text, Args...);
}

template <class... ARGS> FORWARDER_WITHOUT_DEBUG_INFO inline UINTN PrintAscii(CHAR8 *Buffer, UINTN BufferSize, RUNTIME_FORMAT Format, ARGS... Args) {
  return PrintArgsTo(Buffer, BufferSize, Format.Text, Args...);
}

FIRMWARE_ROUTINES_END

#endif  // MDEPKG_LIBRARY_PRINT_LIB_H_
