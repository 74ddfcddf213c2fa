// Fields of text as every host tool writes and reads them: hexadecimal as
// "0x" and upper-case digits, numbers read back without a throw, and the
// words of a line.
#ifndef COMMON_TEXT_FIELDS_H_
#define COMMON_TEXT_FIELDS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// "0x" and upper-case digits, at least Digits of them ("0x1F" for Hex(31),
// "0x0000001F" for Hex(31, 8)).
std::string Hex(std::uint64_t Value, int Digits = 1);

// A number as the tools and the foundation write one: "0x" and hexadecimal
// digits of either case, or decimal digits. Nothing for an empty text, any
// other character or a value past 64 bits.
std::optional<std::uint64_t> NumberFromText(std::string_view Text);

// The same, no more than Max.
std::optional<std::uint32_t> Number32FromText(std::string_view Text, std::uint32_t Max = UINT32_MAX);

// The words of Text, split at blanks (runs of blanks give no empty word).
std::vector<std::string_view> WordsOf(std::string_view Text);

#endif  // COMMON_TEXT_FIELDS_H_
