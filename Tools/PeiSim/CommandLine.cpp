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
  if (Text.empty() || Error != std::errc() || End != Text.data() + Text.size() || Value > Max) {
    throw UsageError("bad " + std::string(What) + ": '" + std::string(Text) + "'");
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
