// The argument list of the format engine: every argument is packed into a
// small tagged record, and the engine reads them through a bounded cursor, so
// no format, however malformed, can read beyond the arguments it was given.
#ifndef MDEPKG_LIBRARY_PRINT_ARGS_H_
#define MDEPKG_LIBRARY_PRINT_ARGS_H_

#include "Base.h"

enum PRINT_ARG_KIND : UINT8 {
  PRINT_ARG_UINT32,
  PRINT_ARG_INT32,
  PRINT_ARG_UINT64,
  PRINT_ARG_INT64,
  PRINT_ARG_POINTER,
};

// Value bits split in two halves (a 32-bit value carries its 64-bit
// extension) so the record stays 4-byte aligned (12 bytes)
// on the 32-bit target; a host pointer keeps all of its bits.
struct PRINT_ARG {
  UINT32 Low;
  UINT32 High;
  PRINT_ARG_KIND Kind;
};

struct PRINT_ARG_LIST {
  const PRINT_ARG *Next;
  const PRINT_ARG *End;
};

namespace print_args_detail {
template <class T> struct IsPointer {
  static constexpr bool Value = false;
};
template <class T> struct IsPointer<T *> {
  static constexpr bool Value = true;
};
}  // namespace print_args_detail

inline PRINT_ARG MakePrintArg(decltype(nullptr)) { return PRINT_ARG{0, 0, PRINT_ARG_POINTER}; }

template <class T> inline PRINT_ARG MakePrintArg(T Value) {
  if constexpr (print_args_detail::IsPointer<T>::Value) {
    const UINT64 Bits = reinterpret_cast<__UINTPTR_TYPE__>(Value);
    return PRINT_ARG{static_cast<UINT32>(Bits), static_cast<UINT32>(Bits >> 32), PRINT_ARG_POINTER};
  } else {
    static_assert(static_cast<T>(1) / 2 == 0 && sizeof(T) <= 8, "print arguments are integers or pointers");
    constexpr bool Signed = static_cast<T>(-1) < static_cast<T>(0);
    if constexpr (sizeof(T) <= 4) {
      // The upper half holds the 64-bit extension by the value's own
      // signedness, so that a reader need not look at the kind.
      const UINT32 Bits = static_cast<UINT32>(Value);
      const UINT32 Extension = Signed && static_cast<INT32>(Bits) < 0 ? 0xFFFFFFFFu : 0u;
      return PRINT_ARG{Bits, Extension, Signed ? PRINT_ARG_INT32 : PRINT_ARG_UINT32};
    } else {
      const UINT64 Bits = static_cast<UINT64>(Value);
      return PRINT_ARG{static_cast<UINT32>(Bits), static_cast<UINT32>(Bits >> 32),
                       Signed ? PRINT_ARG_INT64 : PRINT_ARG_UINT64};
    }
  }
}

// Readers used by the engine. A missing argument reads as 0 or null; a pointer
// read as a number gives its address; an integer read as a pointer gives null;
// a 64-bit integer read as 32 bits gives its low half; a 32-bit integer read
// as 64 bits is extended by its own signedness.
inline const PRINT_ARG *PrintArgTakeNext(PRINT_ARG_LIST *Args) {
  if (Args == nullptr || Args->Next >= Args->End) {
    return nullptr;
  }
  return Args->Next++;
}

// The next argument as a number of up to 64 bits, or with AsPointer as an
// address (0 when the record holds no pointer). One reader, so the image
// carries one copy of it.
inline UINT64 PrintArgTakeAs(PRINT_ARG_LIST *Args, bool AsPointer) {
  if (Args == nullptr || Args->Next >= Args->End) {
    return 0;
  }
  const PRINT_ARG *Arg = Args->Next++;
  if (AsPointer && Arg->Kind != PRINT_ARG_POINTER) {
    return 0;
  }
  return (static_cast<UINT64>(Arg->High) << 32) | Arg->Low;
}

inline UINT32 PrintArgTake32(PRINT_ARG_LIST *Args) { return static_cast<UINT32>(PrintArgTakeAs(Args, false)); }

inline UINT64 PrintArgTake64(PRINT_ARG_LIST *Args) { return PrintArgTakeAs(Args, false); }

inline const void *PrintArgTakePointer(PRINT_ARG_LIST *Args) {
  return reinterpret_cast<const void *>(static_cast<__UINTPTR_TYPE__>(PrintArgTakeAs(Args, true)));
}

#endif  // MDEPKG_LIBRARY_PRINT_ARGS_H_
