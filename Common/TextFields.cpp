#include "TextFields.h"

#include <algorithm>
#include <cstdio>

namespace {

int DigitValue(char C) {
  return C >= '0' && C <= '9' ? C - '0' : C >= 'A' && C <= 'F' ? C - 'A' + 10 : C >= 'a' && C <= 'f' ? C - 'a' + 10 : 99;
}

}  // namespace

std::string Hex(std::uint64_t Value, int Digits) {
  char Text[24];
  std::snprintf(Text, sizeof Text, "0x%0*llX", Digits < 1 ? 1 : Digits > 16 ? 16 : Digits,
                static_cast<unsigned long long>(Value));
  return Text;
}

std::optional<std::uint64_t> NumberFromText(std::string_view Text) {
  unsigned Base = 10;
  if (Text.size() > 2 && Text[0] == '0' && (Text[1] == 'x' || Text[1] == 'X')) {
    Base = 16;
    Text.remove_prefix(2);
  }
  if (Text.empty()) {
    return std::nullopt;
  }
  std::uint64_t Value = 0;
  for (const char C : Text) {
    const int Digit = DigitValue(C);
    if (Digit >= static_cast<int>(Base) || Value > (UINT64_MAX - static_cast<unsigned>(Digit)) / Base) {
      return std::nullopt;
    }
    Value = Value * Base + static_cast<unsigned>(Digit);
  }
  return Value;
}

std::optional<std::uint32_t> Number32FromText(std::string_view Text, std::uint32_t Max) {
  const std::optional<std::uint64_t> Value = NumberFromText(Text);
  if (!Value || *Value > Max) {
    return std::nullopt;
  }
  return static_cast<std::uint32_t>(*Value);
}

std::vector<std::string_view> WordsOf(std::string_view Text) {
  std::vector<std::string_view> Words;
  for (std::size_t At = 0; At < Text.size();) {
    const std::size_t End = std::min(Text.find(' ', At), Text.size());
    if (End > At) {
      Words.push_back(Text.substr(At, End - At));
    }
    At = End + 1;
  }
  return Words;
}
