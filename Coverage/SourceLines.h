// The source lines of an image's instructions, read from its symbol file's
// DWARF by llvm-symbolizer, inlined frames included: an instruction of
// PlatformLoad8 inlined into LegacyUartInit, itself inlined into ModuleEntry,
// belongs to a line of each of the three.
#ifndef COVERAGE_SOURCE_LINES_H_
#define COVERAGE_SOURCE_LINES_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct SourceFrame {
  std::string Function;             // as the source names it: "LegacyUartInit"
  std::string File;                 // relative to the source tree: "SocPreInit/Dxe/ZodOdoRidaZar.cpp"
  std::uint32_t Line = 0;           // 0: code the compiler made for no line
  std::uint32_t FunctionLine = 0;   // where the function begins
};

// Innermost frame first; empty when the symbol file knows nothing of it.
using SourceFrames = std::vector<SourceFrame>;

// A file name as the DWARF gives it ("./Platform/Include/../Ia32/PlatformIa32.h"),
// made plain ("Platform/Ia32/PlatformIa32.h").
std::string PlainSourcePath(std::string_view Name);

// llvm-symbolizer's --inlining --verbose answer for Count addresses, one
// block per address. Nothing, with Error, when the text is not Count such
// blocks.
std::optional<std::vector<SourceFrames>> ParseSymbolizerBlocks(std::string_view Text, std::size_t Count,
                                                               std::string &Error);

// The frames of each of Rvas in the image, from SymbolPath: a symbol file
// made for this image (anything else, or a file that is none, is refused
// with Error naming it).
std::optional<std::vector<SourceFrames>> SourceLinesOf(const std::vector<std::uint8_t> &Image,
                                                       const std::string &SymbolPath,
                                                       const std::vector<std::uint32_t> &Rvas, std::string &Error);

#endif  // COVERAGE_SOURCE_LINES_H_
