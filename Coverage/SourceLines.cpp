#include "SourceLines.h"

#include <algorithm>
#include <filesystem>

#include "FileBytes.h"
#include "Layout/Pe32.h"
#include "LayoutFaultText.h"
#include "Library/PiLayoutLib.h"
#include "Subprocess.h"
#include "SymbolFile.h"
#include "TextFields.h"

namespace {

// "  Key: value" of a verbose frame; false for any other line.
bool FieldOf(std::string_view Line, std::string_view Key, std::string_view &Value) {
  if (!Line.starts_with("  ") || Line.substr(2, Key.size()) != Key || Line.substr(2 + Key.size(), 2) != ": ") {
    return false;
  }
  Value = Line.substr(4 + Key.size());
  return true;
}

}  // namespace

std::string PlainSourcePath(std::string_view Name) {
  std::string Plain = std::filesystem::path(Name).lexically_normal().generic_string();
  while (Plain.starts_with("./")) {
    Plain.erase(0, 2);
  }
  return Plain;
}

std::optional<std::vector<SourceFrames>> ParseSymbolizerBlocks(std::string_view Text, std::size_t Count,
                                                               std::string &Error) {
  std::vector<SourceFrames> All(1);
  std::size_t Number = 0;
  while (!Text.empty()) {
    const std::size_t End = Text.find('\n');
    const std::string_view Line = Text.substr(0, End);
    Text.remove_prefix(End == std::string_view::npos ? Text.size() : End + 1);
    Number++;
    std::string_view Value;
    SourceFrames &Frames = All.back();
    const auto Refuse = [&]() {
      Error = "llvm-symbolizer's line " + std::to_string(Number) + " was not understood: " +
              std::string(Line.substr(0, 80));
      return std::nullopt;
    };
    if (Line.empty()) {
      All.emplace_back();
    } else if (!Line.starts_with(" ")) {
      Frames.push_back(SourceFrame{std::string(Line), "", 0, 0});
    } else if (Frames.empty()) {
      return Refuse();
    } else if (FieldOf(Line, "Filename", Value)) {
      Frames.back().File = PlainSourcePath(Value);
    } else if (FieldOf(Line, "Line", Value) || FieldOf(Line, "Function start line", Value)) {
      const auto Number32 = Number32FromText(Value);
      if (!Number32) {
        return Refuse();
      }
      (Line.find("start") != std::string_view::npos ? Frames.back().FunctionLine : Frames.back().Line) = *Number32;
    }
  }
  // Each block ends in a blank line: what follows the last is no block.
  if (All.back().empty()) {
    All.pop_back();
  }
  if (All.size() != Count) {
    Error = "llvm-symbolizer answered for " + std::to_string(All.size()) + " addresses, not " + std::to_string(Count);
    return std::nullopt;
  }
  // "??" is the symbolizer's word for an address no routine holds.
  for (SourceFrames &Frames : All) {
    if (Frames.size() == 1 && Frames[0].Function == "??" && Frames[0].File == "??") {
      Frames.clear();
    }
  }
  return All;
}

std::optional<std::vector<SourceFrames>> SourceLinesOf(const std::vector<std::uint8_t> &Image,
                                                       const std::string &SymbolPath,
                                                       const std::vector<std::uint32_t> &Rvas, std::string &Error) {
  std::vector<std::uint8_t> Symbols;
  if (!ReadFileBytes(SymbolPath, Symbols, Error)) {
    return std::nullopt;
  }
  std::optional<std::uint32_t> Offset;
  if (!SymbolFileDescribes(Symbols, Image, Error) || !(Offset = SymbolOffset(Symbols, Image, 0, Error))) {
    Error = SymbolPath + " is not the symbol file of this image: " + Error;
    return std::nullopt;
  }
  // Its debug sections too must lie whole in the file: a file cut short
  // still holds the code, and the symbolizer would quietly know nothing.
  PE32_INFO Info;
  LAYOUT_FAULT Fault;
  const auto Size = static_cast<UINT32>(std::min<std::size_t>(Symbols.size(), UINT32_MAX));
  bool Whole = CheckImageHeaders(Symbols.data(), Size, UINT32_MAX, Info, Fault);
  for (UINT32 Index = 0; Whole && Index < Info.NumberOfSections; Index++) {
    PE32_SECTION Section;
    Whole = ReadPe32Section(Symbols.data(), Size, Info, Index, Section, Fault);
  }
  if (!Whole) {
    Error = SymbolPath + " is not the symbol file of this image: " + LayoutCheckText(Fault.Check);
    return std::nullopt;
  }
  const std::string Symbolizer = FindProgram({"llvm-symbolizer-14", "llvm-symbolizer"});
  if (Symbolizer.empty()) {
    Error = "llvm-symbolizer is not on PATH (Debian's llvm package has it)";
    return std::nullopt;
  }
  std::string Input;
  for (const std::uint32_t Rva : Rvas) {
    Input += Hex(static_cast<std::uint32_t>(Rva - *Offset)) + "\n";
  }
  ProgramRun Run;
  if (!RunProgram({Symbolizer, "--inlining", "--verbose", "--obj=" + SymbolPath}, Input, Run, Error)) {
    return std::nullopt;
  }
  if (Run.Exit != 0) {
    Error = "llvm-symbolizer failed on " + SymbolPath + ": " + Run.Err.substr(0, Run.Err.find('\n'));
    return std::nullopt;
  }
  auto Lines = ParseSymbolizerBlocks(Run.Out, Rvas.size(), Error);
  if (!Lines) {
    Error = SymbolPath + ": " + Error;
    return std::nullopt;
  }
  for (const SourceFrames &Frames : *Lines) {
    for (const SourceFrame &Frame : Frames) {
      if (Frame.Line != 0) {
        return Lines;
      }
    }
  }
  Error = SymbolPath + " is not the symbol file of this image: it gives no source line for any of its instructions";
  return std::nullopt;
}
