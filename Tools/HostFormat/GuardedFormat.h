// Runs the host build's format engine into a buffer with guard bytes on both
// sides, with halts stopped and the sink captured: the one harness that the
// tests, pei-sim and the fuzzer share.
#ifndef TOOLS_HOST_FORMAT_GUARDED_FORMAT_H_
#define TOOLS_HOST_FORMAT_GUARDED_FORMAT_H_

#include <string>
#include <vector>

#include "Library/PrintLib.h"

struct GuardedRun {
  std::string Output;    // the Count characters before the terminator
  UINTN Count = 0;       // FormatToBuffer's result
  bool Halted = false;   // a check failed; Sink holds its report
  bool Clean = false;    // guards intact and, unless halted with a size > 0, the terminator right after Output
  std::vector<std::string> Sink;
};

GuardedRun FormatGuarded(UINTN BufferSize, const CHAR8 *Format, const std::vector<PRINT_ARG> &Args);

#endif  // TOOLS_HOST_FORMAT_GUARDED_FORMAT_H_
