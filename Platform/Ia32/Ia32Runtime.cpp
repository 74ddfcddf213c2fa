// The runtime routines the IA-32 images need, since there is no C library
// here: the engine and the string measurement use __builtin_memcpy and
// __builtin_memchr, which become calls to these when a length is not known at
// compile time. On the host the C library's own (vectorised) routines serve.
// Both are written for size.
#include "Base.h"

extern "C" void *memcpy(void *Destination, const void *Source, __SIZE_TYPE__ Size) {
  void *Result = Destination;
  __asm__ volatile("rep movsb" : "+D"(Destination), "+S"(Source), "+c"(Size) : : "memory");
  return Result;
}

// Stops at the first match: nothing after it is read.
extern "C" void *memchr(const void *Source, int Value, __SIZE_TYPE__ Size) {
  for (const UINT8 *Byte = static_cast<const UINT8 *>(Source); Size != 0; Size--, Byte++) {
    if (*Byte == static_cast<UINT8>(Value)) {
      return const_cast<UINT8 *>(Byte);
    }
  }
  return nullptr;
}
