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

// Value bits split in two halves so the record stays 4-byte aligned (12 bytes)
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
      const UINT32 Bits = static_cast<UINT32>(Value);
      return PRINT_ARG{Bits, 0, Signed ? PRINT_ARG_INT32 : PRINT_ARG_UINT32};
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

inline UINT32 PrintArgTake32(PRINT_ARG_LIST *Args) {
  const PRINT_ARG *Arg = PrintArgTakeNext(Args);
  return Arg == nullptr ? 0 : Arg->Low;
}

inline UINT64 PrintArgTake64(PRINT_ARG_LIST *Args) {
  const PRINT_ARG *Arg = PrintArgTakeNext(Args);
  if (Arg == nullptr) {
    return 0;
  }
  switch (Arg->Kind) {
    case PRINT_ARG_INT32:
      return static_cast<UINT64>(static_cast<INT64>(static_cast<INT32>(Arg->Low)));
    case PRINT_ARG_UINT32:
      return Arg->Low;
    default:
      return (static_cast<UINT64>(Arg->High) << 32) | Arg->Low;
  }
}

inline const void *PrintArgTakePointer(PRINT_ARG_LIST *Args) {
  const PRINT_ARG *Arg = PrintArgTakeNext(Args);
  if (Arg == nullptr || Arg->Kind != PRINT_ARG_POINTER) {
    return nullptr;
  }
  const UINT64 Bits = (static_cast<UINT64>(Arg->High) << 32) | Arg->Low;
  return reinterpret_cast<const void *>(static_cast<__UINTPTR_TYPE__>(Bits));
}

#endif  // MDEPKG_LIBRARY_PRINT_ARGS_H_
