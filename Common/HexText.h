// Hexadecimal as every host tool writes it: "0x", then upper-case digits, at
// least Digits of them ("0x1F" for Hex(31), "0x0000001F" for Hex(31, 8));
// and numbers read back from text without a throw.
#ifndef COMMON_HEX_TEXT_H_
#define COMMON_HEX_TEXT_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

std::string Hex(std::uint64_t Value, int Digits = 1);

// A number as the tools and the foundation write one: "0x" and hexadecimal
// digits of either case, or decimal digits. Nothing for an empty text, any
// other character or a value past 64 bits.
std::optional<std::uint64_t> NumberFromText(std::string_view Text);

// The same, no more than Max.
std::optional<std::uint32_t> Number32FromText(std::string_view Text, std::uint32_t Max = UINT32_MAX);

#endif  // COMMON_HEX_TEXT_H_
