#include "CoverageData.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "Layout/LittleEndian.h"
#include "Layout/Pe32.h"
#include "Library/PiLayoutLib.h"
#include "FileBytes.h"
#include "TextFields.h"

namespace {

constexpr char kHeader[] = "soc-image-coverage 1";

// FNV-1a, 64 bits.
struct Hash {
  std::uint64_t Value = 0xCBF29CE484222325ull;
  void Add(std::uint8_t Byte) { Value = (Value ^ Byte) * 0x100000001B3ull; }
};

}  // namespace

void CoverageData::Add(const std::string &Key, const ImageRuns &Runs) {
  ImageRuns &Into = Images[Key];
  if (Into.Name.empty()) {
    Into.Name = Runs.Name;
  }
  for (const auto &[Rva, Count] : Runs.Executed) {
    Into.Executed[Rva] += Count;
  }
  for (const auto &[Step, Count] : Runs.Steps) {
    Into.Steps[Step] += Count;
  }
}

std::optional<std::string> CodeKey(const std::vector<std::uint8_t> &Image, std::string &Error) {
  PE32_INFO Info;
  LAYOUT_FAULT Fault;
  const auto Size = static_cast<UINT32>(std::min<std::size_t>(Image.size(), kMaxImageSize));
  if (Image.size() > kMaxImageSize || !CheckImageHeaders(Image.data(), Size, kMaxImageSize, Info, Fault)) {
    Error = std::string("not an image: ") + LayoutCheckText(Fault.Check);
    return std::nullopt;
  }
  std::vector<std::uint8_t> Code(Info.SizeOfImage, 0);
  for (UINT32 Index = 0; Index < Info.NumberOfSections; Index++) {
    PE32_SECTION Section;
    if (!ReadPe32Section(Image.data(), Size, Info, Index, Section, Fault)) {
      Error = std::string("not an image: ") + LayoutCheckText(Fault.Check);
      return std::nullopt;
    }
    if ((Section.Characteristics & pe32::section_flags::kCode) != 0) {
      std::copy_n(Image.begin() + Section.RawOffset, Section.LoadedSize, Code.begin() + Section.VirtualAddress);
    }
  }
  PE32_RELOCATION_CURSOR Cursor{};
  UINT32 Type, Target;
  while (NextPe32Relocation(Image.data(), Size, Info, Cursor, Type, Target, Fault)) {
    if (Type == pe32::relocation_block::kHighLow) {
      WriteLe(&Code[Target], 4, 0);
    }
  }
  Hash Key;
  for (const std::uint8_t Byte : Code) {
    Key.Add(Byte);
  }
  return Hex(Key.Value, 16).substr(2);
}

std::string CoverageText(const CoverageData &Data) {
  std::string Text = std::string(kHeader) + "\n";
  for (const auto &[Key, Runs] : Data.Images) {
    Text += "image " + Key + " " + Runs.Name + "\n";
    for (const auto &[Rva, Count] : Runs.Executed) {
      Text += "x " + Hex(Rva) + " " + std::to_string(Count) + "\n";
    }
    for (const auto &[Step, Count] : Runs.Steps) {
      Text += "s " + Hex(Step.first) + " " + Hex(Step.second) + " " + std::to_string(Count) + "\n";
    }
  }
  return Text;
}

std::optional<CoverageData> ParseCoverage(const std::string &Text, std::string &Error) {
  CoverageData Data;
  std::istringstream Lines(Text);
  std::string Line;
  ImageRuns *Current = nullptr;
  for (std::size_t Number = 1; std::getline(Lines, Line); Number++) {
    const std::vector<std::string_view> W = WordsOf(Line);
    const auto Refuse = [&]() {
      Error = "line " + std::to_string(Number) + " is not coverage data: " + Line.substr(0, 80);
      return std::nullopt;
    };
    if (Number == 1) {
      if (Line != kHeader) {
        return Refuse();
      }
      continue;
    }
    if (W.size() == 3 && W[0] == "image" && W[1].size() == 16) {
      Current = &Data.Images[std::string(W[1])];
      Current->Name = W[2];
    } else if (W.size() == 3 && W[0] == "x" && Current != nullptr && Number32FromText(W[1]) && NumberFromText(W[2])) {
      Current->Executed[*Number32FromText(W[1])] += *NumberFromText(W[2]);
    } else if (W.size() == 4 && W[0] == "s" && Current != nullptr && Number32FromText(W[1]) &&
               Number32FromText(W[2]) && NumberFromText(W[3])) {
      Current->Steps[{*Number32FromText(W[1]), *Number32FromText(W[2])}] += *NumberFromText(W[3]);
    } else {
      return Refuse();
    }
  }
  if (Text.empty()) {
    Error = "empty";
    return std::nullopt;
  }
  return Data;
}

std::optional<CoverageData> ReadCoverageFile(const std::string &Path, std::string &Error) {
  std::string Text;
  if (!ReadFileText(Path, Text, Error, 256u << 20)) {
    return std::nullopt;
  }
  auto Data = ParseCoverage(Text, Error);
  if (!Data) {
    Error = Path + ": " + Error;
  }
  return Data;
}

bool AddToCoverageFile(const std::string &Path, const CoverageData &Data, std::string &Error) {
  const int Fd = open(Path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (Fd < 0) {
    Error = Path + ": cannot be opened: " + std::strerror(errno);
    return false;
  }
  // The lock holds while the file is read, merged and written back in place:
  // another process's runs wait, and are added after.
  bool Done = false;
  if (flock(Fd, LOCK_EX) == 0) {
    std::string Text;
    char Buffer[65536];
    ssize_t Got;
    while ((Got = read(Fd, Buffer, sizeof Buffer)) > 0) {
      Text.append(Buffer, static_cast<std::size_t>(Got));
    }
    std::optional<CoverageData> All = Text.empty() ? CoverageData{} : ParseCoverage(Text, Error);
    if (!All) {
      Error = Path + ": " + Error;
    } else {
      for (const auto &[Key, Runs] : Data.Images) {
        All->Add(Key, Runs);
      }
      const std::string Out = CoverageText(*All);
      Done = ftruncate(Fd, 0) == 0 && pwrite(Fd, Out.data(), Out.size(), 0) == static_cast<ssize_t>(Out.size());
      if (!Done) {
        Error = Path + ": cannot be written: " + std::strerror(errno);
      }
    }
  } else {
    Error = Path + ": cannot be locked: " + std::strerror(errno);
  }
  close(Fd);
  return Done;
}

std::string CoverageFileFromEnvironment() {
  const char *Path = std::getenv("SOC_IMAGE_COVERAGE");
  return Path != nullptr ? Path : "";
}

bool AddImageRuns(const std::string &Path, const std::vector<std::uint8_t> &Image, const std::string &ImagePath,
                  ImageRuns Runs, std::string &Error) {
  const auto Key = CodeKey(Image, Error);
  if (!Key) {
    Error = ImagePath + ": " + Error;
    return false;
  }
  // The name is one word of the file's lines: the file's own name, any
  // blank in it replaced.
  Runs.Name = std::filesystem::path(ImagePath).filename().string();
  for (char &Each : Runs.Name) {
    Each = Each == ' ' || Each == '\t' ? '_' : Each;
  }
  if (Runs.Name.empty()) {
    Runs.Name = "image";
  }
  CoverageData Data;
  Data.Add(*Key, Runs);
  return AddToCoverageFile(Path, Data, Error);
}
