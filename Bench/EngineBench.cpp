// Times every case on the engine, glibc snprintf and stb_sprintf in one run
// and prints the engine's time against each peer.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

#include "BenchCases.h"

namespace {

void Run(benchmark::State &State, FormatOnce Format) {
  char Buffer[256];
  for (auto _ : State) {
    benchmark::DoNotOptimize(Format(Buffer));
    benchmark::ClobberMemory();
  }
}

// Keeps the time of every run and prints the comparison table at the end.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  // Plain text: --benchmark_color applies only to the library's own
  // reporter, not to one handed in.
  RatioReporter() : ConsoleReporter(OO_Tabular) {}

  void ReportRuns(const std::vector<Run> &Runs) override {
    ConsoleReporter::ReportRuns(Runs);
    for (const Run &Each : Runs) {
      if (Each.run_type == Run::RT_Iteration && Each.iterations > 0) {
        Times_[Each.benchmark_name()] = Each.GetAdjustedRealTime();
      }
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\n%-16s %11s %11s %11s %13s %13s\n", "case", "engine ns", "glibc ns", "stb ns", "engine/glibc",
                "engine/stb");
    for (const BenchCase &Case : BenchCases()) {
      const double Engine = Times_["engine/" + Case.Name];
      if (Case.Glibc == nullptr) {
        std::printf("%-16s %11.1f %11s %11s %13s %13s\n", Case.Name.c_str(), Engine, "-", "-", "-", "-");
        continue;
      }
      const double Glibc = Times_["glibc/" + Case.Name];
      const double Stb = Times_["stb/" + Case.Name];
      std::printf("%-16s %11.1f %11.1f %11.1f %13.2f %13.2f\n", Case.Name.c_str(), Engine, Glibc, Stb, Engine / Glibc,
                  Engine / Stb);
    }
  }

 private:
  std::map<std::string, double> Times_;
};

}  // namespace

int main(int Argc, char **Argv) {
  for (const BenchCase &Case : BenchCases()) {
    benchmark::RegisterBenchmark(("engine/" + Case.Name).c_str(), Run, Case.Engine);
    if (Case.Glibc != nullptr) {
      benchmark::RegisterBenchmark(("glibc/" + Case.Name).c_str(), Run, Case.Glibc);
      benchmark::RegisterBenchmark(("stb/" + Case.Name).c_str(), Run, Case.Stb);
    }
  }
  benchmark::Initialize(&Argc, Argv);
  RatioReporter Reporter;
  benchmark::RunSpecifiedBenchmarks(&Reporter);
  benchmark::Shutdown();
  return 0;
}
