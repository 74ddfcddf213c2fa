#include "HexText.h"

#include <cstdio>

std::string Hex(std::uint64_t Value, int Digits) {
  char Text[24];
  std::snprintf(Text, sizeof Text, "0x%0*llX", Digits < 1 ? 1 : Digits > 16 ? 16 : Digits,
                static_cast<unsigned long long>(Value));
  return Text;
}
