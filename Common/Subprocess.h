// A program run to its end with its output taken: the LLVM tools the
// coverage reader asks (llvm-objdump, llvm-symbolizer). Bounded in time and
// in output; the child is gone when the call returns, whatever happened.
#ifndef COMMON_SUBPROCESS_H_
#define COMMON_SUBPROCESS_H_

#include <string>
#include <vector>

struct ProgramRun {
  int Exit = -1;  // its exit status; -1 when it did not exit by itself
  std::string Out, Err;
};

// Runs Args[0] (looked up on PATH) with Input on its standard input. False,
// with Error set, when it cannot be started, runs past Seconds or writes more
// than MaxOutput bytes (it is killed then).
bool RunProgram(const std::vector<std::string> &Args, const std::string &Input, ProgramRun &Run, std::string &Error,
                unsigned Seconds = 60, std::size_t MaxOutput = 64u << 20);

// The first of Names found on PATH ("llvm-objdump-14", "llvm-objdump"), or
// empty.
std::string FindProgram(const std::vector<std::string> &Names);

#endif  // COMMON_SUBPROCESS_H_
