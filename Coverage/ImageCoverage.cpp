#include "ImageCoverage.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>
#include <set>

#include "TextFields.h"

namespace {

std::uint64_t CountOf(const ImageRuns &Runs, std::uint32_t Rva) {
  const auto Found = Runs.Executed.find(Rva);
  return Found == Runs.Executed.end() ? 0 : Found->second;
}

std::uint64_t StepCount(const ImageRuns &Runs, std::uint32_t From, std::uint32_t To) {
  const auto Found = Runs.Steps.find({From, To});
  return Found == Runs.Steps.end() ? 0 : Found->second;
}

// A function's name as lcov can hold it: no parameter list, no commas.
std::string LcovFunctionName(std::string Name) {
  if (Name.ends_with(')')) {
    int Depth = 0;
    for (std::size_t At = Name.size(); At-- > 0;) {
      Depth += Name[At] == ')' ? 1 : Name[At] == '(' ? -1 : 0;
      if (Depth == 0) {
        Name.erase(At);
        break;
      }
    }
  }
  std::replace(Name.begin(), Name.end(), ',', ';');
  return Name.empty() ? "?" : Name;
}

std::string Percent(std::size_t Part, std::size_t Whole) {
  char Text[16];
  std::snprintf(Text, sizeof Text, "%.1f %%", Whole == 0 ? 0.0 : 100.0 * static_cast<double>(Part) / Whole);
  return Text;
}

// The routine of the link map that holds Rva, and how far into it Rva lies.
std::string RoutineAt(const LinkMap &Map, std::uint32_t Rva) {
  const auto Symbol = Map.SymbolAt(Rva);
  return !Symbol ? Hex(Rva) : PlainRoutineName(Symbol->first) + "+" + Hex(Rva - Symbol->second);
}

// The innermost frame with a line, or null.
const SourceFrame *LineFrame(const SourceFrames &Frames) {
  for (const SourceFrame &Frame : Frames) {
    if (Frame.Line != 0) {
      return &Frame;
    }
  }
  return nullptr;
}

// The same routine's name alone.
std::string RoutineNameAt(const LinkMap &Map, std::uint32_t Rva) {
  const auto Symbol = Map.SymbolAt(Rva);
  return !Symbol ? Hex(Rva) : PlainRoutineName(Symbol->first);
}

std::string WhereText(const SourceFrames &Frames) {
  const SourceFrame *Frame = LineFrame(Frames);
  return Frame == nullptr ? "(no source line)" : Frame->File + ":" + std::to_string(Frame->Line);
}

// "PATH:LINE" (no blank, a line number after the last colon) or a routine's
// name as the summary gives it ("(anonymous namespace)::Convert"): what a
// row of the list may name; other tables' rows (folders, commands) are not.
bool IsGapKey(std::string_view Key) {
  const std::size_t Colon = Key.rfind(':');
  if (Key.find(' ') == std::string_view::npos && Colon != std::string_view::npos && Colon + 1 < Key.size() &&
      Key[Colon - 1] != ':' && Key.find_first_not_of("0123456789", Colon + 1) == std::string_view::npos) {
    return true;
  }
  constexpr std::string_view kAnonymous = "(anonymous namespace)::";
  if (Key.starts_with(kAnonymous)) {
    Key.remove_prefix(kAnonymous.size());
  }
  return !Key.empty() && !std::isdigit(static_cast<unsigned char>(Key[0])) &&
         Key.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_:") ==
             std::string_view::npos;
}

struct FileRecord {
  std::map<std::uint32_t, std::uint64_t> Lines;                               // DA
  std::map<std::string, std::pair<std::uint32_t, std::uint64_t>> Functions;  // name -> its line, its count
  std::map<std::uint32_t, std::vector<const Instruction *>> Branches;           // line -> its jumps
};

}  // namespace

BranchCounts BranchCountsOf(const ImageRuns &Runs, const Instruction &Jump) {
  return {StepCount(Runs, Jump.Rva, Jump.Target), StepCount(Runs, Jump.Rva, Jump.Rva + Jump.Length)};
}

CoverageFigures FiguresOf(const ImageCoverage &Coverage) {
  CoverageFigures Figures;
  for (const Instruction &Each : Coverage.Code) {
    Figures.Instructions++;
    Figures.Executed += CountOf(Coverage.Runs, Each.Rva) != 0 ? 1 : 0;
    if (Each.Conditional) {
      const BranchCounts Counts = BranchCountsOf(Coverage.Runs, Each);
      Figures.Branches++;
      Figures.BothWays += Counts.Taken != 0 && Counts.Passed != 0 ? 1 : 0;
    }
  }
  return Figures;
}

std::string LcovTracefile(const ImageCoverage &Coverage, const std::string &SourceRoot) {
  std::map<std::string, FileRecord> Files;
  for (std::size_t Index = 0; Index < Coverage.Code.size(); Index++) {
    const Instruction &Each = Coverage.Code[Index];
    const std::uint64_t Count = CountOf(Coverage.Runs, Each.Rva);
    for (const SourceFrame &Frame : Coverage.Frames[Index]) {
      if (Frame.Line == 0 || Frame.File.empty() || Frame.File == "??") {
        continue;
      }
      FileRecord &File = Files[Frame.File];
      std::uint64_t &Line = File.Lines[Frame.Line];
      Line = std::max(Line, Count);
      auto &Function = File.Functions[LcovFunctionName(Frame.Function)];
      Function.first = Frame.FunctionLine != 0 ? Frame.FunctionLine : Frame.Line;
      Function.second = std::max(Function.second, Count);
    }
    const SourceFrame *Inner = LineFrame(Coverage.Frames[Index]);
    if (Each.Conditional && Inner != nullptr && Inner->File != "??") {
      Files[Inner->File].Branches[Inner->Line].push_back(&Each);
    }
  }
  std::string Text = "TN:" + Coverage.Name + "\n";
  for (const auto &[Name, File] : Files) {
    Text += "SF:" + SourceRoot + "/" + Name + "\n";
    std::size_t FunctionsHit = 0;
    std::string Counts;
    for (const auto &[Function, Where] : File.Functions) {
      const std::uint64_t Calls = Where.second;
      Text += "FN:" + std::to_string(Where.first) + "," + Function + "\n";
      Counts += "FNDA:" + std::to_string(Calls) + "," + Function + "\n";
      FunctionsHit += Calls != 0 ? 1 : 0;
    }
    Text += Counts + "FNF:" + std::to_string(File.Functions.size()) + "\nFNH:" + std::to_string(FunctionsHit) + "\n";
    std::size_t Branches = 0, BranchesHit = 0;
    for (const auto &[Line, Jumps] : File.Branches) {
      for (std::size_t Block = 0; Block < Jumps.size(); Block++) {
        const BranchCounts Counts2 = BranchCountsOf(Coverage.Runs, *Jumps[Block]);
        const bool Ran = CountOf(Coverage.Runs, Jumps[Block]->Rva) != 0;
        const std::string Prefix = "BRDA:" + std::to_string(Line) + "," + std::to_string(Block) + ",";
        Text += Prefix + "0," + (Ran ? std::to_string(Counts2.Taken) : "-") + "\n";
        Text += Prefix + "1," + (Ran ? std::to_string(Counts2.Passed) : "-") + "\n";
        Branches += 2;
        BranchesHit += (Counts2.Taken != 0 ? 1 : 0) + (Counts2.Passed != 0 ? 1 : 0);
      }
    }
    Text += "BRF:" + std::to_string(Branches) + "\nBRH:" + std::to_string(BranchesHit) + "\n";
    std::size_t LinesHit = 0;
    for (const auto &[Line, Count] : File.Lines) {
      Text += "DA:" + std::to_string(Line) + "," + std::to_string(Count) + "\n";
      LinesHit += Count != 0 ? 1 : 0;
    }
    Text += "LF:" + std::to_string(File.Lines.size()) + "\nLH:" + std::to_string(LinesHit) + "\nend_of_record\n";
  }
  return Text;
}

std::string CoverageSummary(const ImageCoverage &Coverage) {
  const CoverageFigures Figures = FiguresOf(Coverage);
  std::string Text = Coverage.Name + ": instructions " + std::to_string(Figures.Executed) + " of " +
                     std::to_string(Figures.Instructions) + " executed (" +
                     Percent(Figures.Executed, Figures.Instructions) + "), branches " +
                     std::to_string(Figures.BothWays) + " of " + std::to_string(Figures.Branches) +
                     " covered both ways (" + Percent(Figures.BothWays, Figures.Branches) + ")\n";
  // Runs of instructions never executed, cut where the routine or the line changes.
  std::string Group;
  std::size_t GroupSize = 0;
  const auto Flush = [&]() {
    if (GroupSize != 0) {
      Text += Group + (GroupSize > 1 ? " (" + std::to_string(GroupSize) + " instructions)\n" : "\n");
    }
    GroupSize = 0;
  };
  std::string LastKey;
  for (std::size_t Index = 0; Index < Coverage.Code.size(); Index++) {
    const Instruction &Each = Coverage.Code[Index];
    if (CountOf(Coverage.Runs, Each.Rva) != 0) {
      Flush();
      LastKey.clear();
      continue;
    }
    const std::string Routine = RoutineAt(Coverage.Map, Each.Rva);
    const std::string Key = RoutineNameAt(Coverage.Map, Each.Rva) + " " + WhereText(Coverage.Frames[Index]);
    if (Key != LastKey || GroupSize == 0) {
      Flush();
      Group = std::string("  never executed") + (Coverage.Listed.count(GapKey(Coverage, Index)) ? " (listed)" : "") +
              ": " + Routine + " " + WhereText(Coverage.Frames[Index]) + ": " + Each.Text;
      LastKey = Key;
    }
    GroupSize++;
  }
  Flush();
  for (const Instruction &Each : Coverage.Code) {
    const BranchCounts Counts = BranchCountsOf(Coverage.Runs, Each);
    if (Each.Conditional && CountOf(Coverage.Runs, Each.Rva) != 0 && (Counts.Taken == 0 || Counts.Passed == 0)) {
      const std::size_t Index = static_cast<std::size_t>(&Each - Coverage.Code.data());
      Text += std::string("  branch one way only") + (Coverage.Listed.count(GapKey(Coverage, Index)) ? " (listed)" : "") +
              ": " + RoutineAt(Coverage.Map, Each.Rva) + " " +
              WhereText(Coverage.Frames[Index]) + ": " + Each.Text + (Counts.Taken == 0 ? ", never taken" : ", never passed") + "\n";
    }
  }
  return Text;
}

std::string GapKey(const ImageCoverage &Coverage, std::size_t Index) {
  const SourceFrame *Frame = LineFrame(Coverage.Frames[Index]);
  return Frame != nullptr ? Frame->File + ":" + std::to_string(Frame->Line)
                          : RoutineNameAt(Coverage.Map, Coverage.Code[Index].Rva);
}

std::set<std::string> ListedGaps(const std::string &Text) {
  std::set<std::string> Keys;
  std::size_t From = 0;
  while (From < Text.size()) {
    std::size_t To = Text.find('\n', From);
    To = To == std::string::npos ? Text.size() : To;
    const std::string_view Line(Text.data() + From, To - From);
    const std::size_t Close = Line.find("` |", 3);
    if (Line.starts_with("| `") && Close != std::string_view::npos && IsGapKey(Line.substr(3, Close - 3))) {
      Keys.emplace(Line.substr(3, Close - 3));
    }
    From = To + 1;
  }
  return Keys;
}

std::vector<std::string> UnaccountedGaps(const ImageCoverage &Coverage) {
  std::set<std::string> Missing, Seen;
  for (std::size_t Index = 0; Index < Coverage.Code.size(); Index++) {
    const Instruction &Each = Coverage.Code[Index];
    const BranchCounts Counts = BranchCountsOf(Coverage.Runs, Each);
    const bool Gap = CountOf(Coverage.Runs, Each.Rva) == 0 ||
                     (Each.Conditional && (Counts.Taken == 0 || Counts.Passed == 0));
    if (Gap) {
      const std::string Key = GapKey(Coverage, Index);
      (Coverage.Listed.count(Key) != 0 ? Seen : Missing).insert(Key);
    }
  }
  std::vector<std::string> Faults(Missing.begin(), Missing.end());
  for (const std::string &Key : Coverage.Listed) {
    if (Seen.count(Key) == 0) {
      Faults.push_back("listed but covered: " + Key);
    }
  }
  return Faults;
}
