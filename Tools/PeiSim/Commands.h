// The pei-sim subcommands. Each returns the process exit status and throws
// UsageError for a command-line mistake.
#ifndef TOOLS_PEI_SIM_COMMANDS_H_
#define TOOLS_PEI_SIM_COMMANDS_H_

#include <string>
#include <vector>

int FormatCommand(const std::vector<std::string> &Args);
int RunCommand(const std::vector<std::string> &Args);
int InspectCommand(const std::vector<std::string> &Args);
int ReportCommand(const std::vector<std::string> &Args);
int QemuCommand(const std::vector<std::string> &Args);

#endif  // TOOLS_PEI_SIM_COMMANDS_H_
