#include "SizeBreakdown.h"

#include <algorithm>
#include <cstdio>

SizeBreakdown BreakDownImage(const PeImage &Image, const LinkMap &Map) {
  SizeBreakdown Out;
  Out.FileSize = static_cast<std::uint32_t>(Image.File.size());
  Out.Headers = Image.SizeOfHeaders;
  std::uint32_t TextRva = 0, TextSize = 0;
  for (const PeSection &Section : Image.Sections) {
    if (Section.Name == ".reloc") {
      Out.Relocations = Section.VirtualSize;
    } else if (Section.Name == ".text") {
      TextRva = Section.VirtualAddress;
      TextSize = Section.VirtualSize;
    }
  }
  // The map names the code and the variables exactly; the constants are the
  // rest of the section from the first constant on (the map undercounts the
  // merged string literals).
  std::uint32_t ConstantsStart = TextSize;
  for (const LinkMapPart &Part : Map.Parts) {
    if (Part.Name == ".text") {
      Out.Code += Part.Length;
    } else if (Part.Name == ".rdata") {
      ConstantsStart = std::min(ConstantsStart, Part.Offset);
    } else {
      Out.Variables += Part.Length;
    }
  }
  Out.Constants = TextSize > ConstantsStart ? TextSize - ConstantsStart : 0;
  // Routines: symbols inside the code contribution, each up to the next symbol.
  std::vector<std::pair<std::uint32_t, std::string>> Symbols;
  for (const auto &[Name, Rva] : Map.Rvas) {
    Symbols.emplace_back(Rva, Name);
  }
  std::sort(Symbols.begin(), Symbols.end());
  for (std::size_t Index = 0; Index < Symbols.size(); Index++) {
    const std::uint32_t Offset = Symbols[Index].first - TextRva;
    if (Symbols[Index].first < TextRva || Offset >= Out.Code) {
      continue;
    }
    const std::uint32_t End = Index + 1 < Symbols.size() ? std::min(Symbols[Index + 1].first - TextRva, Out.Code)
                                                         : Out.Code;
    if (End > Offset) {
      Out.Routines.emplace_back(RoutineName(Symbols[Index].second), End - Offset);
    }
  }
  std::stable_sort(Out.Routines.begin(), Out.Routines.end(),
                   [](const auto &A, const auto &B) { return A.second > B.second; });
  const std::uint32_t Counted = Out.Headers + Out.Code + Out.Variables + Out.Constants + Out.Relocations;
  Out.Padding = Out.FileSize > Counted ? Out.FileSize - Counted : 0;
  return Out;
}

std::string SizeBreakdownText(const SizeBreakdown &Breakdown) {
  std::string Text;
  auto Line = [&Text](const std::string &Name, std::uint32_t Bytes) {
    char Row[128];
    std::snprintf(Row, sizeof Row, "  %-54s %8u\n", Name.c_str(), Bytes);
    Text += Row;
  };
  Text += "image size by part (bytes)\n";
  Line("headers", Breakdown.Headers);
  Line("code", Breakdown.Code);
  for (const auto &[Name, Bytes] : Breakdown.Routines) {
    Line("  " + Name, Bytes);
  }
  Line("module variables", Breakdown.Variables);
  Line("constant data", Breakdown.Constants);
  Line("base relocations", Breakdown.Relocations);
  Line("alignment padding", Breakdown.Padding);
  Line("total", Breakdown.FileSize);
  return Text;
}
