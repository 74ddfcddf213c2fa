// Small parsing helpers shared by the pei-sim commands.
#ifndef TOOLS_PEI_SIM_COMMAND_LINE_H_
#define TOOLS_PEI_SIM_COMMAND_LINE_H_

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// A command-line mistake; the tool prints the usage and exits 2.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Decimal or 0x-hex, no sign, at most Max.
std::uint64_t ParseUnsigned(std::string_view Text, std::uint64_t Max, std::string_view What);

// As ParseUnsigned, and a leading '-' means the two's complement in Bits bits.
std::uint64_t ParseTwosComplement(std::string_view Text, int Bits, std::string_view What);

// The value of the option at Args[Index]: the next argument, which Index
// then names; a usage error when there is none.
inline const std::string &OptionValue(const std::vector<std::string> &Args, std::size_t &Index) {
  if (Index + 1 >= Args.size()) {
    throw UsageError("option " + Args[Index] + " needs a value");
  }
  return Args[++Index];
}

// The board options run and qemu share, into a settings record with the
// fields DivisorCode, Bus, Reg40, PpiInstalled, PpiStatus and ReleaseHalts;
// Value gives the option's value. False when Option is none of them.
template <class SETTINGS, class VALUE> bool TakeBoardOption(const std::string &Option, VALUE &&Value, SETTINGS &Settings) {
  if (Option == "--divisor-code") {
    Settings.DivisorCode = static_cast<std::uint8_t>(ParseUnsigned(Value(), 0xFF, "divisor code"));
  } else if (Option == "--bus") {
    Settings.Bus = static_cast<std::uint8_t>(ParseUnsigned(Value(), 0xFF, "bus"));
  } else if (Option == "--reg40") {
    Settings.Reg40 = static_cast<std::uint8_t>(ParseUnsigned(Value(), 0xFF, "register 0x40 byte"));
  } else if (Option == "--no-ppi") {
    Settings.PpiInstalled = false;
  } else if (Option == "--ppi-status") {
    const std::string Text = Value();
    const auto Status = static_cast<std::uint32_t>(ParseUnsigned(Text, 0xFFFFFFFFu, "status"));
    if ((Status & 0x80000000u) == 0) {
      // LocatePpi would succeed without a PPI: the module would read a
      // pointer nobody wrote.
      throw UsageError("--ppi-status " + Text + " is not an error status (bit 31 clear)");
    }
    Settings.PpiStatus = Status;
  } else if (Option == "--release-halts") {
    Settings.ReleaseHalts = true;
  } else {
    return false;
  }
  return true;
}

#endif  // TOOLS_PEI_SIM_COMMAND_LINE_H_
