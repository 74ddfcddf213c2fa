// The one runtime routine the IA-32 images need: the engine copies runs of
// text with __builtin_memcpy, which the compiler turns into a call to memcpy
// when the length is not known at compile time. There is no C library here.
#include "Base.h"

extern "C" void *memcpy(void *Destination, const void *Source, __SIZE_TYPE__ Size) {
  void *Result = Destination;
  __asm__ volatile("rep movsb" : "+D"(Destination), "+S"(Source), "+c"(Size) : : "memory");
  return Result;
}
