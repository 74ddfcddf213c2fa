// pei-sim coverage: what the recorded runs of IA-32 images executed, by
// instruction, branch and source line, as a summary and an lcov tracefile.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "Commands.h"
#include "CoverageData.h"
#include "FileBytes.h"
#include "ImageCoverage.h"
#include "Layout/Pe32.h"
#include "Library/PiLayoutLib.h"
#include "LinkMap.h"
#include "SymbolFile.h"
#include "TextFields.h"

namespace {

struct ImageRequest {
  std::string Path, Symbols, Map, Listed;
};

// The image's code (the link map's .text part of its first section) and
// preferred base.
bool CodeRange(const std::vector<std::uint8_t> &Image, const LinkMap &Map, std::uint32_t &Base, std::uint32_t &Begin,
               std::uint32_t &End, std::string &Error) {
  PE32_INFO Info;
  LAYOUT_FAULT Fault;
  const auto Text = TextRva(Image, Error);
  if (!Text || IsTeImage(Image.data(), static_cast<UINT32>(Image.size())) ||
      !CheckImageHeaders(Image.data(), static_cast<UINT32>(Image.size()), kMaxImageSize, Info, Fault)) {
    Error = Text ? "a PE32 image is needed (not a TE image)" : Error;
    return false;
  }
  for (const LinkMapPart &Part : Map.Parts) {
    if (Part.Name == ".text") {
      Base = Info.ImageBase;
      Begin = *Text + Part.Offset;
      End = Begin + Part.Length;
      return Part.Length != 0 && End <= Info.SizeOfImage;
    }
  }
  Error = "the link map lists no .text part";
  return false;
}

// The coverage of one image, read against its code and its symbol file; the
// exit status when it cannot be.
bool ReadImageCoverage(const ImageRequest &Request, const CoverageData &Data, ImageCoverage &Coverage,
                       ExitStatus &Status, std::string &Error) {
  Status = ExitStatus::CannotRun;
  std::vector<std::uint8_t> Image;
  if (!ReadFileBytes(Request.Path, Image, Error)) {
    return false;
  }
  const auto Key = CodeKey(Image, Error);
  auto Map = Key ? ReadLinkMap(Request.Map.empty() ? MapPathFor(Request.Path) : Request.Map, Error) : std::nullopt;
  std::uint32_t Base = 0, Begin = 0, End = 0;
  if (!Key || !Map || !CodeRange(Image, *Map, Base, Begin, End, Error)) {
    Error = Request.Path + ": " + (Error.empty() ? "its code does not lie inside it" : Error);
    return false;
  }
  const auto Runs = Data.Images.find(*Key);
  if (Runs == Data.Images.end()) {
    // No data is no coverage: the check fails rather than report 0 % or nothing.
    Status = ExitStatus::Failed;
    Error = "no runs of " + Request.Path + " were recorded";
    return false;
  }
  auto Code = DisassembleCode(Request.Path, Base, Begin, End, Error);
  std::vector<std::uint32_t> Rvas;
  for (const Instruction &Each : Code ? *Code : std::vector<Instruction>{}) {
    Rvas.push_back(Each.Rva);
  }
  const std::string Symbols = Request.Symbols.empty() ? SiblingPathFor(Request.Path, ".debug") : Request.Symbols;
  auto Frames = Code ? SourceLinesOf(Image, Symbols, Rvas, Error) : std::nullopt;
  if (!Frames) {
    return false;
  }
  for (const auto &[Rva, Count] : Runs->second.Executed) {
    if (Rva < Begin || Rva >= End ||
        !std::binary_search(Rvas.begin(), Rvas.end(), Rva)) {
      Error = "the runs of " + Request.Path + " executed RVA " + Hex(Rva) +
              ", where its code has no instruction: the recorded data does not fit the image";
      return false;
    }
  }
  Coverage.Name = std::filesystem::path(Request.Path).stem().string();
  Coverage.Code = std::move(*Code);
  Coverage.Frames = std::move(*Frames);
  Coverage.Runs = Runs->second;
  Coverage.Map = std::move(*Map);
  return true;
}

}  // namespace

ExitStatus CoverageCommand(const std::vector<std::string> &Args) {
  std::string DataPath, LcovPath, SourceRoot = SOURCE_TREE;
  std::vector<ImageRequest> Images;
  for (std::size_t Index = 0; Index < Args.size(); Index++) {
    const std::string &Option = Args[Index];
    auto Value = [&]() -> const std::string & { return OptionValue(Args, Index); };
    if (Option == "--data") {
      DataPath = Value();
    } else if (Option == "--image") {
      Images.push_back({Value(), "", "", ""});
    } else if (Option == "--symbols" || Option == "--map" || Option == "--listed") {
      if (Images.empty()) {
        throw UsageError(Option + " follows the --image it belongs to");
      }
      (Option == "--map" ? Images.back().Map : Option == "--listed" ? Images.back().Listed : Images.back().Symbols) =
          Value();
    } else if (Option == "--lcov") {
      LcovPath = Value();
    } else if (Option == "--source-root") {
      SourceRoot = Value();
    } else {
      throw UsageError("unknown option '" + Option + "'");
    }
  }
  if (DataPath.empty() || Images.empty()) {
    throw UsageError("coverage needs --data FILE and at least one --image IMAGE");
  }
  std::string Error;
  const auto Data = ReadCoverageFile(DataPath, Error);
  if (!Data) {
    std::fprintf(stderr, "pei-sim: %s\n", Error.c_str());
    return ExitStatus::CannotRun;
  }
  std::string Tracefile, Summary;
  std::vector<std::string> Faults;
  for (const ImageRequest &Request : Images) {
    ImageCoverage Coverage;
    ExitStatus Status;
    std::string ListText;
    if (!ReadImageCoverage(Request, *Data, Coverage, Status, Error) ||
        (!Request.Listed.empty() && !ReadFileText(Request.Listed, ListText, Error))) {
      std::fprintf(stderr, "pei-sim: %s\n", Error.c_str());
      return Status == ExitStatus::Failed ? Status : ExitStatus::CannotRun;
    }
    Coverage.Listed = ListedGaps(ListText);
    if (!Request.Listed.empty() && Coverage.Listed.empty()) {
      // A list that lists nothing would account for nothing: a wrong path or a table gone.
      std::fprintf(stderr, "pei-sim: %s names no code no run can reach (rows \"| `KEY` | reason |\")\n",
                   Request.Listed.c_str());
      return ExitStatus::CannotRun;
    }
    Tracefile += LcovTracefile(Coverage, SourceRoot);
    Summary += CoverageSummary(Coverage);
    for (const std::string &Gap : Request.Listed.empty() ? std::vector<std::string>{} : UnaccountedGaps(Coverage)) {
      Faults.push_back(Coverage.Name + ": " + Gap);
    }
  }
  if (!LcovPath.empty() && !WriteFileText(LcovPath, Tracefile, Error)) {
    std::fprintf(stderr, "pei-sim: %s\n", Error.c_str());
    return ExitStatus::CannotRun;
  }
  std::fwrite(Summary.data(), 1, Summary.size(), stdout);
  for (const std::string &Fault : Faults) {
    std::printf("not accounted for: %s\n", Fault.c_str());
  }
  if (!Faults.empty()) {
    std::fprintf(stderr, "pei-sim: %zu gaps in the coverage that the list does not account for (first: %s)\n",
                 Faults.size(), Faults[0].c_str());
    return ExitStatus::Failed;
  }
  return ExitStatus::Success;
}
