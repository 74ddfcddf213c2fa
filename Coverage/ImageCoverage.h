// What the runs of one image covered, read against its code and its source
// lines: instructions executed, conditional jumps taken each way, by routine
// and by source line; written as an lcov tracefile and as a summary.
#ifndef COVERAGE_IMAGE_COVERAGE_H_
#define COVERAGE_IMAGE_COVERAGE_H_

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "ImageCode.h"
#include "ImageRuns.h"
#include "LinkMap.h"
#include "SourceLines.h"

struct ImageCoverage {
  std::string Name;                  // the test name in the tracefile: "SocPreInit"
  std::vector<Instruction> Code;     // in order
  std::vector<SourceFrames> Frames;  // of each instruction
  ImageRuns Runs;
  LinkMap Map;  // routine names for the summary
  // Where no run can go, with the reason given elsewhere: "PATH:LINE" for a
  // source line, a routine's name for its code of no line.
  std::set<std::string> Listed;
};

// Where an instruction lies for the list of what no run can reach: its
// innermost source line ("MdePkg/Library/BaseLib/String.cpp:22"), or, for
// code of no line, its routine ("(anonymous namespace)::Convert").
std::string GapKey(const ImageCoverage &Coverage, std::size_t Index);

// The list's entries from a text holding a Markdown table whose rows begin
// "| `KEY` |" (the README's list of what no run can reach); rows of other
// tables, whose first cell is no source line or routine name, are passed over.
std::set<std::string> ListedGaps(const std::string &Text);

// What the list does not account for: the keys of instructions never
// executed and of branches taken one way only that it does not name, then
// the entries it names where nothing is missing ("listed but covered: KEY").
std::vector<std::string> UnaccountedGaps(const ImageCoverage &Coverage);

struct CoverageFigures {
  std::size_t Instructions = 0, Executed = 0;
  std::size_t Branches = 0, BothWays = 0;  // conditional jumps, and those taken and passed
};
CoverageFigures FiguresOf(const ImageCoverage &Coverage);

// Taken and passed (fallen through) counts of a conditional jump.
struct BranchCounts {
  std::uint64_t Taken = 0, Passed = 0;
};
BranchCounts BranchCountsOf(const ImageRuns &Runs, const Instruction &Jump);

// The lcov tracefile (TN, SF, FN/FNDA, BRDA, DA records): a line counts as
// executed as often as the most executed instruction attributed to it in any
// frame; a conditional jump is a branch pair of its innermost line; a
// function's count is that of its most executed instruction, over all its
// inlined copies (their first instructions are not always the ones run first).
// Files are named SourceRoot/File.
std::string LcovTracefile(const ImageCoverage &Coverage, const std::string &SourceRoot);

// "NAME: instructions E of N executed (P %), branches B of M covered both
// ways (Q %)" and, below it, every instruction never executed, a line per
// routine and source line, and every branch not covered both ways; those the
// list names are marked "(listed)".
std::string CoverageSummary(const ImageCoverage &Coverage);

#endif  // COVERAGE_IMAGE_COVERAGE_H_
