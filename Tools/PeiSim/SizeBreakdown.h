// Where the bytes of a module image go: headers, relocations, each routine the
// link map names, the constant data and the alignment padding.
#ifndef TOOLS_PEI_SIM_SIZE_BREAKDOWN_H_
#define TOOLS_PEI_SIM_SIZE_BREAKDOWN_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "LinkMap.h"
#include "PeImage.h"

struct SizeBreakdown {
  std::uint32_t FileSize = 0;
  std::uint32_t Headers = 0;                                    // SizeOfHeaders
  std::uint32_t Code = 0;                                       // .text contributions
  std::vector<std::pair<std::string, std::uint32_t>> Routines;  // largest first
  std::uint32_t Variables = 0;                                  // .data and .bss contributions
  std::uint32_t Constants = 0;                                  // .rdata contributions
  std::uint32_t Relocations = 0;                                // the .reloc section's blocks
  std::uint32_t Padding = 0;                                    // everything else: alignment
};

SizeBreakdown BreakDownImage(const PeImage &Image, const LinkMap &Map);

// The breakdown as report lines.
std::string SizeBreakdownText(const SizeBreakdown &Breakdown);

#endif  // TOOLS_PEI_SIM_SIZE_BREAKDOWN_H_
