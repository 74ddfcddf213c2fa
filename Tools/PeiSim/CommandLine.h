// Small parsing helpers shared by the pei-sim commands.
#ifndef TOOLS_PEI_SIM_COMMAND_LINE_H_
#define TOOLS_PEI_SIM_COMMAND_LINE_H_

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

// A command-line mistake; the tool prints the usage and exits 2.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Decimal or 0x-hex, no sign, at most Max.
std::uint64_t ParseUnsigned(std::string_view Text, std::uint64_t Max, std::string_view What);

// As ParseUnsigned, and a leading '-' means the two's complement in Bits bits.
std::uint64_t ParseTwosComplement(std::string_view Text, int Bits, std::string_view What);

#endif  // TOOLS_PEI_SIM_COMMAND_LINE_H_
