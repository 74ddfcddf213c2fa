// The formatting cases measured against glibc snprintf and stb_sprintf: each
// engine formats into a 256-byte buffer; Peer is null for engine-only rows.
#ifndef BENCH_BENCH_CASES_H_
#define BENCH_BENCH_CASES_H_

#include <string>
#include <vector>

using FormatOnce = int (*)(char *Buffer);

struct BenchCase {
  std::string Name;
  FormatOnce Engine;
  FormatOnce Glibc;  // null: engine-only row
  FormatOnce Stb;
};

const std::vector<BenchCase> &BenchCases();

#endif  // BENCH_BENCH_CASES_H_
