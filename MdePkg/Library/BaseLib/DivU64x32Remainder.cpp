// 64-by-32 division built from two 32-bit divisions.
#include "Library/BaseLib.h"
#include "Library/DebugLib.h"

FIRMWARE_ROUTINES_BEGIN

namespace {

// Divides High:Low by Divisor where High < Divisor, so that the quotient fits
// in 32 bits: one divl on IA-32, where a 64-bit '/' would call a runtime
// helper the module does not have.
inline UINT32 DivideNarrow(UINT32 High, UINT32 Low, UINT32 Divisor, UINT32 *Remainder) {
#if defined(__i386__)
  UINT32 Quotient;
  __asm__("divl %4" : "=a"(Quotient), "=d"(*Remainder) : "a"(Low), "d"(High), "rm"(Divisor));
  return Quotient;
#else
  const UINT64 Dividend = (static_cast<UINT64>(High) << 32) | Low;
  *Remainder = static_cast<UINT32>(Dividend % Divisor);
  return static_cast<UINT32>(Dividend / Divisor);
#endif
}

}  // namespace

UINT64 DivU64x32Remainder(UINT64 Dividend, UINT32 Divisor, UINT32 *Remainder) {
  ASSERT(Divisor != 0);
  if (Divisor == 0) {
    // Only reached when a debugger ends the halt; dividing would fault.
    if (Remainder != nullptr) {
      *Remainder = 0;
    }
    return 0;
  }
  const UINT32 High = static_cast<UINT32>(Dividend >> 32);
  const UINT32 QuotientHigh = High / Divisor;
  UINT32 Rest;
  const UINT32 QuotientLow = DivideNarrow(High % Divisor, static_cast<UINT32>(Dividend), Divisor, &Rest);
  if (Remainder != nullptr) {
    *Remainder = Rest;
  }
  return (static_cast<UINT64>(QuotientHigh) << 32) | QuotientLow;
}

FIRMWARE_ROUTINES_END
