// Typed argument texts of `pei-sim format`, read into format values.
#ifndef TOOLS_PEI_SIM_FORMAT_RUN_H_
#define TOOLS_PEI_SIM_FORMAT_RUN_H_

#include <cstdint>
#include <string>
#include <vector>

#include "EngineImageRun.h"

// "u32:V", "u64:V", "str:TEXT", "wunits:U,...", "guid:...", "time:...", "null"; throws UsageError.
FormatValue ParseFormatValue(const std::string &Text);
std::vector<FormatValue> ParseFormatValues(const std::vector<std::string> &Texts);

#endif  // TOOLS_PEI_SIM_FORMAT_RUN_H_
