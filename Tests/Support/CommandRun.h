// Runs a command line and collects its exit status, stdout and stderr.
#ifndef TESTS_SUPPORT_COMMAND_RUN_H_
#define TESTS_SUPPORT_COMMAND_RUN_H_

#include <string>
#include <vector>

struct CommandResult {
  int Exit;
  std::string Out;
  std::string Err;
};

CommandResult RunCommandLine(const std::string &Program, const std::vector<std::string> &Args);

inline CommandResult PeiSim(const std::vector<std::string> &Args) { return RunCommandLine(PEI_SIM_PATH, Args); }

#endif  // TESTS_SUPPORT_COMMAND_RUN_H_
