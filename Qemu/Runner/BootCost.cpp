#include "BootCost.h"

#include <cstdio>

std::string BootCostTable(const ConsoleReport &Console) {
  std::string Text = "boot cost by phase (instructions, QEMU's -icount shift=0 counter):\n";
  char Line[128];
  std::snprintf(Line, sizeof Line, "  %-40s %11s %9s\n", "to", "from reset", "phase");
  Text += Line;
  std::uint64_t Before = 0;
  for (const auto &[Point, Count] : Console.BootPoints) {
    std::snprintf(Line, sizeof Line, "  %-40s %11llu %9lld\n", Point.c_str(), static_cast<unsigned long long>(Count),
                  static_cast<long long>(Count - Before));
    Text += Line;
    Before = Count;
  }
  if (Console.BootPoints.empty()) {
    Text += "  (no point was reported)\n";
  }
  if (Console.ToModuleEntry && Console.ToModuleReturn) {
    std::snprintf(Line, sizeof Line, "  the module's own window (ModuleEntry to its return, services included): %llu\n",
                  static_cast<unsigned long long>(*Console.ToModuleReturn - *Console.ToModuleEntry));
    Text += Line;
  }
  return Text;
}

bool BootCostWithin(const ConsoleReport &Console, std::uint64_t Budget, std::string &Verdict) {
  if (!Console.ToModuleReturn) {
    Verdict = "the module's return was not reported";
    return false;
  }
  const std::uint64_t Count = *Console.ToModuleReturn;
  Verdict = Count <= Budget ? "ok, " + std::to_string(Budget - Count) + " to spare"
                            : "OVER by " + std::to_string(Count - Budget);
  return Count <= Budget;
}
