// The instructions of an image's code, as llvm-objdump decodes them from the
// image itself: where each begins and ends, and which are conditional jumps
// and where they go. The runs only say which of them executed.
#ifndef COVERAGE_IMAGE_CODE_H_
#define COVERAGE_IMAGE_CODE_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct Instruction {
  std::uint32_t Rva = 0;
  std::uint32_t Length = 0;
  bool Conditional = false;  // a conditional jump: jcc, loop*, jcxz/jecxz
  std::uint32_t Target = 0;  // where it jumps to when taken (an RVA)
  std::string Text;          // "je 0x162", as the disassembler writes it
};

// The instructions of one line of llvm-objdump's disassembly ("     145: 74 1b
// <blanks> je 0x162 <.text+0x22>"), at addresses ImageBase + RVA; nothing for
// any other line.
std::optional<Instruction> InstructionOfLine(std::string_view Line, std::uint32_t ImageBase);

// The instructions of the code at RVAs [Begin, End) of the image at Path
// (its preferred base ImageBase), one after another without gap. Nothing,
// with Error, when llvm-objdump is missing or fails, or its disassembly does
// not cover the range exactly.
std::optional<std::vector<Instruction>> DisassembleCode(const std::string &Path, std::uint32_t ImageBase,
                                                        std::uint32_t Begin, std::uint32_t End, std::string &Error);

#endif  // COVERAGE_IMAGE_CODE_H_
