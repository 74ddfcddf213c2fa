// Entry of the engine test image: the format engine on IA-32, driven by the
// emulator with argument records it lays out in memory.
#include "Library/PrintLib.h"

extern "C" UINTN EFIAPI EngineTestEntry(CHAR8 *Buffer, UINTN BufferSize, const CHAR8 *Format, const PRINT_ARG *Args,
                                        UINTN Count) {
  PRINT_ARG_LIST Cursor = {Args, Args + Count};
  return FormatToBuffer(Buffer, BufferSize, Format, &Cursor);
}
