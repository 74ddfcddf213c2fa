// What runs of one IA-32 image executed: each instruction (its RVA, how
// often) and each step from one instruction of the image to the next it
// executed, from which the branches are read. The emulator fills it; the
// coverage file keeps it.
#ifndef COVERAGE_IMAGE_RUNS_H_
#define COVERAGE_IMAGE_RUNS_H_

#include <cstdint>
#include <map>
#include <string>
#include <utility>

struct ImageRuns {
  std::string Name;  // the file it was first recorded from
  std::map<std::uint32_t, std::uint64_t> Executed;
  std::map<std::pair<std::uint32_t, std::uint32_t>, std::uint64_t> Steps;
};

#endif  // COVERAGE_IMAGE_RUNS_H_
