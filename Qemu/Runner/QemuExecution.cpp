#include "QemuExecution.h"

#include <cctype>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "TextFields.h"

namespace {

// "0xfffffff0:  e9 11 ff                 jmp      0xff04": an instruction
// at Address, with Continued false. QEMU writes at most 8 bytes a line: the
// rest of a longer instruction follows on lines of bytes alone
// ("0x00100354:  00 00 00"), which give Continued true. False for any other line.
bool DecodedLine(std::string_view Line, std::uint32_t &Address, bool &Continued) {
  const std::size_t Colon = Line.find(':');
  if (!Line.starts_with("0x") || Colon == std::string_view::npos) {
    return false;
  }
  const auto Value = Number32FromText(Line.substr(0, Colon));
  if (!Value) {
    return false;
  }
  // Pairs of hex digits, each followed by one blank; then, on an
  // instruction's first line, a run of blanks and the mnemonic.
  std::size_t At = Colon + 1;
  while (At < Line.size() && Line[At] == ' ') {
    At++;
  }
  unsigned Bytes = 0;
  while (At + 2 <= Line.size() && std::isxdigit(static_cast<unsigned char>(Line[At])) != 0 &&
         std::isxdigit(static_cast<unsigned char>(Line[At + 1])) != 0 &&
         (At + 2 == Line.size() || Line[At + 2] == ' ')) {
    Bytes++;
    At += 3;
  }
  while (At < Line.size() && Line[At] == ' ') {
    At++;
  }
  Address = *Value;
  Continued = At >= Line.size();
  return Bytes != 0;
}

// "Trace 0: 0x7fa51c000100 [ffff0000/fffffff0/00000040/ff020200] ": the
// block's address (the second field).
bool BlockRun(std::string_view Line, std::uint32_t &Address) {
  const std::size_t Open = Line.find('[');
  if (!Line.starts_with("Trace ") || Open == std::string_view::npos) {
    return false;
  }
  const std::size_t First = Line.find('/', Open);
  const std::size_t Second = First == std::string_view::npos ? First : Line.find('/', First + 1);
  if (Second == std::string_view::npos) {
    return false;
  }
  const auto Value = Number32FromText("0x" + std::string(Line.substr(First + 1, Second - First - 1)));
  Address = Value.value_or(0);
  return Value.has_value();
}

}  // namespace

ImageRuns ModuleRunsFromQemuLog(std::string_view Log, std::uint32_t Base, std::uint32_t Size) {
  std::map<std::uint32_t, std::vector<std::uint32_t>> Blocks;  // first address -> its instructions
  std::vector<std::uint32_t> Decoding;                          // the block being read after "IN:"
  bool InBlock = false;
  ImageRuns Runs;
  std::optional<std::uint32_t> Last;  // the module's last instruction run, across the foundation's code
  for (std::size_t At = 0; At < Log.size();) {
    const std::size_t End = std::min(Log.find('\n', At), Log.size());
    const std::string_view Line = Log.substr(At, End - At);
    At = End + 1;
    std::uint32_t Address = 0;
    bool Continued = false;
    if (InBlock && DecodedLine(Line, Address, Continued)) {
      if (!Continued) {
        Decoding.push_back(Address);
      }
      continue;
    }
    if (InBlock && !Decoding.empty()) {
      Blocks[Decoding.front()] = Decoding;  // a later translation of the same address replaces it
    }
    InBlock = Line.starts_with("IN:");
    Decoding.clear();
    if (!BlockRun(Line, Address)) {
      continue;
    }
    const auto Found = Blocks.find(Address);
    const std::vector<std::uint32_t> Alone = {Address};
    for (const std::uint32_t Each : Found == Blocks.end() ? Alone : Found->second) {
      if (Each - Base >= Size) {
        continue;
      }
      const std::uint32_t Rva = Each - Base;
      Runs.Executed[Rva]++;
      if (Last) {
        Runs.Steps[{*Last, Rva}]++;
      }
      Last = Rva;
    }
  }
  return Runs;
}
