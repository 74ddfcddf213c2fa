// Bounded readers over the packed argument records.
#include "Library/PrintArgs.h"

namespace {

const PRINT_ARG *TakeNext(PRINT_ARG_LIST *Args) {
  if (Args == nullptr || Args->Next >= Args->End) {
    return nullptr;
  }
  return Args->Next++;
}

}  // namespace

UINT32 PrintArgTake32(PRINT_ARG_LIST *Args) {
  const PRINT_ARG *Arg = TakeNext(Args);
  return Arg == nullptr ? 0 : Arg->Low;
}

UINT64 PrintArgTake64(PRINT_ARG_LIST *Args) {
  const PRINT_ARG *Arg = TakeNext(Args);
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

const void *PrintArgTakePointer(PRINT_ARG_LIST *Args) {
  const PRINT_ARG *Arg = TakeNext(Args);
  if (Arg == nullptr || Arg->Kind != PRINT_ARG_POINTER) {
    return nullptr;
  }
  const UINT64 Bits = (static_cast<UINT64>(Arg->High) << 32) | Arg->Low;
  return reinterpret_cast<const void *>(static_cast<__UINTPTR_TYPE__>(Bits));
}
