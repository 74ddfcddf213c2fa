// Run under callgrind by `make bench-icount`: formats every case on every
// engine a fixed number of times and dumps the instruction count of each
// batch separately (client requests), so the counts per call can be read off.
#include <valgrind/callgrind.h>

#include <cstdio>
#include <string>

#include "BenchCases.h"

int main() {
  constexpr int kCalls = 1000;
  char Buffer[256];
  for (const BenchCase &Case : BenchCases()) {
    const std::pair<const char *, FormatOnce> Engines[] = {{"engine", Case.Engine}, {"glibc", Case.Glibc},
                                                           {"stb", Case.Stb}};
    for (const auto &[Engine, Format] : Engines) {
      if (Format == nullptr) {
        continue;
      }
      Format(Buffer);  // warm up lazy binding and caches outside the batch
      const std::string Name = std::string(Engine) + "|" + Case.Name;
      CALLGRIND_ZERO_STATS;
      for (int Call = 0; Call < kCalls; Call++) {
        Format(Buffer);
      }
      CALLGRIND_DUMP_STATS_AT(Name.c_str());
    }
  }
  std::printf("%d\n", kCalls);
  return 0;
}
