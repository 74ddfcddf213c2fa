// Hexadecimal as every host tool writes it: "0x", then upper-case digits, at
// least Digits of them ("0x1F" for Hex(31), "0x0000001F" for Hex(31, 8)).
#ifndef COMMON_HEX_TEXT_H_
#define COMMON_HEX_TEXT_H_

#include <cstdint>
#include <string>

std::string Hex(std::uint64_t Value, int Digits = 1);

#endif  // COMMON_HEX_TEXT_H_
