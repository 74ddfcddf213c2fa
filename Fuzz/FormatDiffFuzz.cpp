// Differential fuzzing of the engine's two forms: every input is rendered by
// the quick host form and by the compact form the image carries, and both
// must give the same bytes, the same count, the same sink and the same halts.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "FormatFuzzCase.h"
#include "GuardedFormat.h"
#include "Library/PrintLib.h"

namespace {

[[noreturn]] void Differ(const char *What, const std::string &Quick, const std::string &Compact) {
  std::fprintf(stderr, "format diff fuzz: the forms differ in %s\n  quick:   '%s'\n  compact: '%s'\n", What,
               Quick.c_str(), Compact.c_str());
  std::abort();
}

void Compare(const FormatOutcome &Quick, const FormatOutcome &Compact) {
  if (Quick.Halted != Compact.Halted) {
    Differ("halting", Quick.Halted ? "halted" : "returned", Compact.Halted ? "halted" : "returned");
  }
  if (Quick.Output != Compact.Output) {
    Differ("output", Quick.Output, Compact.Output);
  }
  if (Quick.Count != Compact.Count) {
    Differ("count", std::to_string(Quick.Count), std::to_string(Compact.Count));
  }
  if (Quick.Sink != Compact.Sink) {
    Differ("sink", Quick.Sink.empty() ? "" : Quick.Sink.front(), Compact.Sink.empty() ? "" : Compact.Sink.front());
  }
  if (!Quick.BufferIntact || !Compact.BufferIntact) {
    Differ("guards", Quick.BufferIntact ? "intact" : "broken", Compact.BufferIntact ? "intact" : "broken");
  }
}

// An unterminated text under a precision that bounds it, in both forms.
void CompareBoundedText(const std::uint8_t *Text, std::size_t Units, bool Wide) {
  char Format[16];
  std::snprintf(Format, sizeof Format, Wide ? "%%.%zuS" : "%%.%zua", Units);
  const std::vector<PRINT_ARG> Args = {MakePrintArg(static_cast<const void *>(Text))};
  Compare(FormatGuarded(80, Format, Args), compact_form::FormatGuarded(80, Format, Args));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *Data, std::size_t Size) {
  format_fuzz::Pointees Memory;
  const format_fuzz::FormatCase Case = format_fuzz::DecodeCase(Data, Size, Memory, CompareBoundedText);
  Compare(FormatGuarded(Case.BufferSize, Case.Format, Case.Args),
          compact_form::FormatGuarded(Case.BufferSize, Case.Format, Case.Args));
  return 0;
}
