// The format engine run from typed argument texts, on the host build or on
// the IA-32 test image: what `pei-sim format` does.
#ifndef TOOLS_PEI_SIM_FORMAT_RUN_H_
#define TOOLS_PEI_SIM_FORMAT_RUN_H_

#include <cstdint>
#include <string>
#include <vector>

#include "EngineImageRun.h"

// "u32:V", "u64:V", "str:TEXT", "wunits:U,...", "guid:...", "time:...", "null"; throws UsageError.
FormatValue ParseFormatValue(const std::string &Text);
std::vector<FormatValue> ParseFormatValues(const std::vector<std::string> &Texts);

// Runs the host build's engine; guards around the buffer are checked as on the image.
FormatOutcome FormatOnHost(std::uint32_t BufferSize, const std::string &Format, const std::vector<FormatValue> &Args);

#endif  // TOOLS_PEI_SIM_FORMAT_RUN_H_
