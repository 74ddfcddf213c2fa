#include "CommandLine.h"

#include <charconv>

std::uint64_t ParseUnsigned(std::string_view Text, std::uint64_t Max, std::string_view What) {
  int Base = 10;
  if (Text.size() > 2 && Text[0] == '0' && (Text[1] == 'x' || Text[1] == 'X')) {
    Text.remove_prefix(2);
    Base = 16;
  }
  std::uint64_t Value = 0;
  const auto [End, Error] = std::from_chars(Text.data(), Text.data() + Text.size(), Value, Base);
  const bool Digits = !Text.empty() && End == Text.data() + Text.size();
  if (Digits && (Error == std::errc::result_out_of_range || (Error == std::errc() && Value > Max))) {
    throw UsageError(std::string(What) + " " + (Base == 16 ? "0x" : "") + std::string(Text) +
                     " is out of range (0 to " + std::to_string(Max) + ")");
  }
  if (!Digits || Error != std::errc()) {
    throw UsageError("bad " + std::string(What) + ": '" + std::string(Base == 16 ? "0x" : "") + std::string(Text) +
                     "' (decimal or 0x-hex)");
  }
  return Value;
}

std::uint64_t ParseTwosComplement(std::string_view Text, int Bits, std::string_view What) {
  const std::uint64_t Mask = Bits == 64 ? ~0ull : (1ull << Bits) - 1;
  if (!Text.empty() && Text[0] == '-') {
    // Magnitudes up to 2^(Bits-1) are allowed, so the most negative value can be written.
    const std::uint64_t Magnitude = ParseUnsigned(Text.substr(1), (Mask >> 1) + 1, What);
    return (0 - Magnitude) & Mask;
  }
  return ParseUnsigned(Text, Mask, What);
}
