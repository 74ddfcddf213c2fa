#include "ImageCode.h"

#include <algorithm>
#include <cctype>

#include "Subprocess.h"
#include "TextFields.h"

namespace {

bool IsHexDigits(std::string_view Text) {
  if (Text.empty()) {
    return false;
  }
  for (const char Each : Text) {
    if (std::isxdigit(static_cast<unsigned char>(Each)) == 0 || std::isupper(static_cast<unsigned char>(Each)) != 0) {
      return false;
    }
  }
  return true;
}

// jcc in every spelling the disassembler uses, loop, loope, loopne, jcxz and
// jecxz; not jmp.
bool IsConditionalJump(std::string_view Mnemonic) {
  if (Mnemonic.starts_with("loop")) {
    return true;
  }
  return Mnemonic.size() >= 2 && Mnemonic[0] == 'j' && !Mnemonic.starts_with("jmp");
}

}  // namespace

std::optional<Instruction> InstructionOfLine(std::string_view Line, std::uint32_t ImageBase) {
  // "<address>:" "<byte> <byte> ..." then a tab, the mnemonic, a tab and the operands.
  const std::size_t Colon = Line.find(':');
  const std::size_t Tab = Line.find('\t');
  if (Colon == std::string_view::npos || Tab == std::string_view::npos || Tab < Colon) {
    return std::nullopt;
  }
  std::string_view Address = Line.substr(0, Colon);
  while (!Address.empty() && Address.front() == ' ') {
    Address.remove_prefix(1);
  }
  const auto Va = IsHexDigits(Address) && Address.size() <= 8 ? NumberFromText("0x" + std::string(Address))
                                                              : std::nullopt;
  if (!Va || *Va < ImageBase) {
    return std::nullopt;
  }
  Instruction Made;
  Made.Rva = static_cast<std::uint32_t>(*Va - ImageBase);
  for (const std::string_view Byte : WordsOf(Line.substr(Colon + 1, Tab - Colon - 1))) {
    if (Byte.size() != 2 || !IsHexDigits(Byte)) {
      return std::nullopt;
    }
    Made.Length++;
  }
  std::string Words(Line.substr(Tab + 1));
  std::replace(Words.begin(), Words.end(), '\t', ' ');
  const std::vector<std::string_view> Rest = WordsOf(Words);
  if (Made.Length == 0 || Made.Length > 15 || Rest.empty()) {
    return std::nullopt;
  }
  // The mnemonic and its operands, without the disassembler's notes
  // ("<.text+0x22>", "# imm = 0xF4240").
  for (const std::string_view Word : Rest) {
    if (Word.starts_with("<") || Word.starts_with("#")) {
      break;
    }
    Made.Text += (Made.Text.empty() ? "" : " ") + std::string(Word);
  }
  if (IsConditionalJump(Rest[0])) {
    const auto Target = Rest.size() > 1 ? NumberFromText(Rest[1]) : std::nullopt;
    if (!Target || *Target < ImageBase || *Target - ImageBase > UINT32_MAX) {
      return std::nullopt;
    }
    Made.Conditional = true;
    Made.Target = static_cast<std::uint32_t>(*Target - ImageBase);
  }
  return Made;
}

std::optional<std::vector<Instruction>> DisassembleCode(const std::string &Path, std::uint32_t ImageBase,
                                                        std::uint32_t Begin, std::uint32_t End, std::string &Error) {
  const std::string Objdump = FindProgram({"llvm-objdump-14", "llvm-objdump"});
  if (Objdump.empty()) {
    Error = "llvm-objdump is not on PATH (Debian's llvm package has it)";
    return std::nullopt;
  }
  ProgramRun Run;
  if (!RunProgram({Objdump, "-d", "--start-address=" + Hex(std::uint64_t{ImageBase} + Begin),
                   "--stop-address=" + Hex(std::uint64_t{ImageBase} + End), Path},
                  "", Run, Error)) {
    return std::nullopt;
  }
  if (Run.Exit != 0) {
    Error = "llvm-objdump failed on " + Path + ": " + Run.Err.substr(0, Run.Err.find('\n'));
    return std::nullopt;
  }
  std::vector<Instruction> Code;
  std::uint32_t Next = Begin;
  std::size_t From = 0;
  while (From < Run.Out.size()) {
    std::size_t To = Run.Out.find('\n', From);
    To = To == std::string::npos ? Run.Out.size() : To;
    if (auto Made = InstructionOfLine(std::string_view(Run.Out).substr(From, To - From), ImageBase)) {
      if (Made->Rva != Next) {
        Error = "the disassembly of " + Path + " has a gap or an overlap at RVA " + Hex(Next);
        return std::nullopt;
      }
      Next += Made->Length;
      Code.push_back(std::move(*Made));
    }
    From = To + 1;
  }
  if (Next != End || Code.empty()) {
    Error = "the disassembly of " + Path + " ends at RVA " + Hex(Next) + ", not at the code's end " + Hex(End);
    return std::nullopt;
  }
  return Code;
}
