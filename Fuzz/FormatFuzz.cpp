// Fuzzes the format engine in one form (format-fuzz: the quick host form;
// format-fuzz-compact: the form the image carries): the output buffer has
// guard bytes on both sides, and a precision-bounded unterminated text must
// come out whole and read nothing past its end.
#include <cstdio>
#include <cstdlib>

#include "FormatFuzzCase.h"
#include "GuardedFormat.h"
#include "Library/PrintLib.h"

namespace {

[[noreturn]] void Fail(const char *What) {
  std::fprintf(stderr, "format fuzz: %s\n", What);
  std::abort();
}

// A precision no larger than an unterminated text stops the engine before its
// end: rendering it alone must read nothing more and give exactly its units.
void CheckBoundedText(const std::uint8_t *Text, std::size_t Units, bool Wide) {
  char Format[16];
  std::snprintf(Format, sizeof Format, Wide ? "%%.%zuS" : "%%.%zua", Units);
  char Out[80];
  const PRINT_ARG Arg = MakePrintArg(static_cast<const void *>(Text));
  PRINT_ARG_LIST Cursor{&Arg, &Arg + 1};
  const UINTN Count = FormatToBuffer(Out, sizeof Out, Format, &Cursor);
  if (Count != Units) {
    Fail("a precision-bounded text lost units");
  }
  for (std::size_t Unit = 0; Unit < Units; Unit++) {
    if (Out[Unit] != static_cast<char>(Text[Wide ? 2 * Unit : Unit])) {
      Fail("a precision-bounded text changed");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *Data, std::size_t Size) {
  format_fuzz::Pointees Memory;
  const format_fuzz::FormatCase Case = format_fuzz::DecodeCase(Data, Size, Memory, CheckBoundedText);
  const FormatOutcome Run = FormatGuarded(Case.BufferSize, Case.Format, Case.Args);
  if (!Run.BufferIntact) {
    Fail(Run.Halted ? "a guard byte changed" : "a guard byte changed, or the count or terminator is out of place");
  }
  return 0;
}
