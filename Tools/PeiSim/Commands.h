// The pei-sim subcommands. Each returns its exit status and throws
// UsageError for a command-line mistake.
#ifndef TOOLS_PEI_SIM_COMMANDS_H_
#define TOOLS_PEI_SIM_COMMANDS_H_

#include <string>
#include <vector>

#include "ExitStatus.h"

ExitStatus FormatCommand(const std::vector<std::string> &Args);
ExitStatus RunCommand(const std::vector<std::string> &Args);
ExitStatus InspectCommand(const std::vector<std::string> &Args);
ExitStatus ReportCommand(const std::vector<std::string> &Args);
ExitStatus QemuCommand(const std::vector<std::string> &Args);
ExitStatus CoverageCommand(const std::vector<std::string> &Args);

#endif  // TOOLS_PEI_SIM_COMMANDS_H_
