// Assertions, level-gated debug messages and the debug sink.
#ifndef MDEPKG_LIBRARY_DEBUG_LIB_H_
#define MDEPKG_LIBRARY_DEBUG_LIB_H_

#include "Base.h"
#include "Library/PrintLib.h"
#include "PlatformOps.h"

// Mask of message levels that are formatted. A test image may be built with
// another mask; the module's own value is 0x00000001.
#ifndef PCD_DEBUG_PRINT_LEVEL
#define PCD_DEBUG_PRINT_LEVEL 0x00000001u
#endif
inline constexpr UINT32 PcdDebugPrintLevel = PCD_DEBUG_PRINT_LEVEL;

#define LEVEL_ERROR 0x80000000u

FIRMWARE_ROUTINES_BEGIN

// Formats "ASSERT <file>(<line>): <description>\r\n", hands it to the sink and
// halts. Returns only when an outside agent (a debugger) ends the halt.
void ReportAssertion(const CHAR8 *FileName, UINTN LineNumber, const CHAR8 *Description);

// The debug sink. The module discards what it is given.
FIRMWARE_C_NAME UINTN SerialWrite(const UINT8 *Buffer, UINTN Length);

// Spins on a volatile word in its frame until something outside makes it non-zero.
FIRMWARE_C_NAME void HaltProcessor();

inline BOOLEAN DebugPrintLevelEnabled(UINT32 ErrorLevel) {
  return (ErrorLevel & PlatformDebugPrintLevel(PcdDebugPrintLevel)) != 0;
}

// PrintDebugMessage with its arguments already packed.
void DebugPrintArgs(UINT32 ErrorLevel, const CHAR8 *Format, PRINT_ARG_LIST *Args);

template <class... ARGS> inline void DebugPrintArgsTo(UINT32 ErrorLevel, const CHAR8 *Format, ARGS... Args) {
  // One record per argument (one unused record when there are none).
  const PRINT_ARG List[sizeof...(ARGS) + (sizeof...(ARGS) == 0)] = {MakePrintArg(Args)...};
  PRINT_ARG_LIST Cursor = {List, List + sizeof...(ARGS)};
  DebugPrintArgs(ErrorLevel, Format, &Cursor);
}

// A literal format is checked against the arguments at compile time.
template <class... ARGS> inline void PrintDebugMessage(UINT32 ErrorLevel, CHECKED_FORMAT<ARGS...> Format, ARGS... Args) {
  DebugPrintArgsTo(ErrorLevel, Format.Text, Args...);
}

template <class... ARGS> inline void PrintDebugMessage(UINT32 ErrorLevel, RUNTIME_FORMAT Format, ARGS... Args) {
  DebugPrintArgsTo(ErrorLevel, Format.Text, Args...);
}

FIRMWARE_ROUTINES_END

// The path of a source file as the build records it: relative to the
// repository root (the build maps the root prefix away), backslash-separated
// and without its extension. Computed at compile time from __FILE__.
template <UINTN N> struct SOURCE_PATH_TEXT {
  CHAR8 Text[N];
  consteval SOURCE_PATH_TEXT(const CHAR8 (&File)[N]) : Text{} {
    UINTN Stem = N - 1;
    for (UINTN Index = 0; Index + 1 < N; Index++) {
      if (File[Index] == '.') {
        Stem = Index;
      } else if (File[Index] == '/' || File[Index] == '\\') {
        Stem = N - 1;
      }
    }
    for (UINTN Index = 0; Index < Stem; Index++) {
      Text[Index] = File[Index] == '/' ? '\\' : File[Index];
    }
  }
};

// The path as the image stores it: exactly its characters and a terminator
// (the extension the transform drops leaves no zeros behind), byte aligned
// (no padding to 16 bytes in front of it).
template <SOURCE_PATH_TEXT Path> struct SOURCE_PATH_STORE {
  static constexpr UINTN Length = [] {
    UINTN Count = 0;
    while (Path.Text[Count] != 0) {
      Count++;
    }
    return Count;
  }();
  struct TEXT {
    CHAR8 Text[Length + 1];
  };
  alignas(1) static constexpr TEXT Value = [] {
    TEXT Stored{};
    for (UINTN Index = 0; Index < Length; Index++) {
      Stored.Text[Index] = Path.Text[Index];
    }
    return Stored;
  }();
};

template <SOURCE_PATH_TEXT Path> constexpr const CHAR8 *SourcePathOf() { return SOURCE_PATH_STORE<Path>::Value.Text; }

#define ASSERT(Expression)                                               \
  do {                                                                   \
    if (!(Expression)) {                                                 \
      ReportAssertion(SourcePathOf<__FILE__>(), __LINE__, #Expression);  \
    }                                                                    \
  } while (false)

#endif  // MDEPKG_LIBRARY_DEBUG_LIB_H_
