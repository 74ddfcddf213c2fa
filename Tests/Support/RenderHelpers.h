// Runs the format engine into a buffer with guard bytes on both sides.
#ifndef TESTS_SUPPORT_RENDER_HELPERS_H_
#define TESTS_SUPPORT_RENDER_HELPERS_H_

#include <string>
#include <vector>

#include "GuardedFormat.h"
#include "Library/PrintLib.h"

using Rendered = FormatOutcome;

inline Rendered RenderArgs(UINTN BufferSize, const char *Format, const std::vector<PRINT_ARG> &Args) {
  return FormatGuarded(BufferSize, Format, Args);
}

template <class... ARGS> Rendered Render(UINTN BufferSize, const char *Format, ARGS... Args) {
  return RenderArgs(BufferSize, Format, {MakePrintArg(Args)...});
}

template <class... ARGS> std::string Text(const char *Format, ARGS... Args) {
  return Render(256, Format, Args...).Output;
}

#endif  // TESTS_SUPPORT_RENDER_HELPERS_H_
