// Compiled by the format-check tests: with no CASE_ macro every call is
// right and the file must build; each CASE_ macro adds one wrong call, which
// must not build, and the error must name the directive.
#include "Library/DebugLib.h"
#include "Library/PrintLib.h"

void FormatCheckProbe(CHAR8 *Buffer, const EFI_GUID *Guid, const EFI_TIME *Time, const CHAR16 *Wide,
                      const CHAR8 *RuntimeText) {
  // Right calls: every kind of directive with the argument it takes.
  PrintAscii(Buffer, 64, "%d %x %X %ld %lx %LX %p %p %c %r", 1, 2u, 3u, 4LL, 5ULL, 6ULL, 7u, Buffer, 65, 0u);
  PrintAscii(Buffer, 64, "%a %s %S %g %t %a", "text", Wide, Wide, Guid, Time, nullptr);
  PrintAscii(Buffer, 64, "%*d %-*.*a %5.2d %% %q\n", 4, 1, 6, 2, "ab", 3);
  PrintAscii(Buffer, 64, "no directives");
  PrintDebugMessage(LEVEL_ERROR, "\nASSERT_EFI_ERROR (Status = %r)\n", EFI_NOT_FOUND);
  // A format known only at run time is not checked.
  PrintAscii(Buffer, 64, RUNTIME_FORMAT(RuntimeText), 1, 2);
#if defined(CASE_LD_GIVEN_32_BITS)
  PrintAscii(Buffer, 64, "%ld", 5);
#elif defined(CASE_D_GIVEN_64_BITS)
  PrintAscii(Buffer, 64, "%d", 5LL);
#elif defined(CASE_A_GIVEN_INTEGER)
  PrintAscii(Buffer, 64, "%a", 5);
#elif defined(CASE_G_GIVEN_INTEGER)
  PrintAscii(Buffer, 64, "x %g", 0u);
#elif defined(CASE_R_GIVEN_POINTER)
  PrintDebugMessage(LEVEL_ERROR, "%r", Guid);
#elif defined(CASE_STAR_GIVEN_POINTER)
  PrintAscii(Buffer, 64, "%*d", "x", 5);
#elif defined(CASE_L_BEFORE_ANOTHER_FLAG)
  PrintAscii(Buffer, 64, "%l-5d", 5);
#elif defined(CASE_MISSING_INTEGER)
  PrintAscii(Buffer, 64, "%a %x", "text");
#elif defined(CASE_MISSING_ARGUMENT)
  PrintAscii(Buffer, 64, "%a(%d): %a", "file", 12);
#elif defined(CASE_EXTRA_ARGUMENT)
  PrintAscii(Buffer, 64, "%d", 1, 2);
#endif
  (void)Time;
}
