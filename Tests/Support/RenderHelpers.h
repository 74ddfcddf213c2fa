// Runs the format engine into a buffer with guard bytes on both sides.
#ifndef TESTS_SUPPORT_RENDER_HELPERS_H_
#define TESTS_SUPPORT_RENDER_HELPERS_H_

#include <string>
#include <vector>

#include "GuardedFormat.h"
#include "Library/PrintLib.h"

struct Rendered {
  std::string Text;     // the Count characters before the terminator
  UINTN Count = 0;      // FormatToBuffer's result
  bool Clean = false;   // guards intact and, for a size > 0, the terminator right after Text
  bool Halted = false;  // a check failed (the run was stopped at its halt)
  std::vector<std::string> Sink;
};

inline Rendered RenderArgs(UINTN BufferSize, const char *Format, const std::vector<PRINT_ARG> &Args) {
  FormatOutcome Run = FormatGuarded(BufferSize, Format, Args);
  return {std::move(Run.Output), Run.Count, Run.BufferIntact, Run.Halted, std::move(Run.Sink)};
}

template <class... ARGS> Rendered Render(UINTN BufferSize, const char *Format, ARGS... Args) {
  return RenderArgs(BufferSize, Format, {MakePrintArg(Args)...});
}

template <class... ARGS> std::string Text(const char *Format, ARGS... Args) {
  return Render(256, Format, Args...).Text;
}

#endif  // TESTS_SUPPORT_RENDER_HELPERS_H_
