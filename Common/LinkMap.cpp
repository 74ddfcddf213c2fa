#include "LinkMap.h"

#include <sstream>

#include "FileBytes.h"

namespace {

// A field of hexadecimal digits only, at most 16 of them.
bool HexField(const std::string &Text, std::size_t From, std::size_t Length, std::uint64_t &Value) {
  if (Length == 0 || Length > 16 || From + Length > Text.size()) {
    return false;
  }
  Value = 0;
  for (std::size_t At = From; At < From + Length; At++) {
    const char C = Text[At];
    const int Digit = C >= '0' && C <= '9' ? C - '0' : C >= 'a' && C <= 'f' ? C - 'a' + 10 : C >= 'A' && C <= 'F' ? C - 'A' + 10 : -1;
    if (Digit < 0) {
      return false;
    }
    Value = Value << 4 | static_cast<unsigned>(Digit);
  }
  return true;
}

}  // namespace

std::optional<std::uint32_t> LinkMap::Rva(const std::string &Name) const {
  auto Found = Rvas.find(Name);
  return Found == Rvas.end() ? std::nullopt : std::optional<std::uint32_t>(Found->second);
}

std::optional<std::uint32_t> LinkMap::NextAfter(std::uint32_t Rva) const {
  std::optional<std::uint32_t> Next;
  for (const auto &[Name, Address] : Rvas) {
    if (Address > Rva && (!Next || Address < *Next)) {
      Next = Address;
    }
  }
  return Next;
}

std::string RoutineName(const std::string &Linked) {
  if (Linked.size() > 1 && Linked[0] == '?') {
    return Linked.substr(1, Linked.find('@') - 1);
  }
  return Linked.size() > 1 && Linked[0] == '_' ? Linked.substr(1) : Linked;
}

std::optional<LinkMap> ParseLinkMap(const std::string &Text, const std::string &Path, std::string &Error) {
  // Symbol lines: " 0001:00000000       _SerialWrite   00000000000001c0     DebugLib.obj"
  // Part lines:   " 0001:00000000 00000975H .text                   CODE"
  LinkMap Map;
  std::istringstream Lines(Text);
  std::string Line;
  while (std::getline(Lines, Line)) {
    std::istringstream Fields(Line);
    std::string Where, Name, Address;
    std::uint64_t Offset = 0, Value = 0;
    if (!(Fields >> Where >> Name >> Address) || Where.size() != 13 || Where[4] != ':' ||
        !HexField(Where, 5, 8, Offset)) {
      continue;
    }
    if (Where.compare(0, 5, "0001:") == 0 && Name.size() == 9 && Name.back() == 'H' && Address[0] == '.') {
      if (HexField(Name, 0, 8, Value)) {
        Map.Parts.push_back({Address, static_cast<std::uint32_t>(Offset), static_cast<std::uint32_t>(Value)});
      }
      continue;
    }
    if (Address.size() == 16 && HexField(Address, 0, 16, Value) && Value <= UINT32_MAX) {
      Map.Rvas[Name] = static_cast<std::uint32_t>(Value);
    }
  }
  if (Map.Rvas.empty()) {
    Error = "no symbols in link map " + Path;
    return std::nullopt;
  }
  return Map;
}

std::optional<LinkMap> ReadLinkMap(const std::string &Path, std::string &Error) {
  std::string Text;
  if (!ReadFileText(Path, Text, Error)) {
    Error = "cannot read link map " + Error;
    return std::nullopt;
  }
  return ParseLinkMap(Text, Path, Error);
}

std::string SiblingPathFor(const std::string &ImagePath, const char *Extension) {
  const std::size_t Dot = ImagePath.rfind('.');
  const std::size_t Slash = ImagePath.rfind('/');
  const bool HasExtension = Dot != std::string::npos && (Slash == std::string::npos || Dot > Slash);
  return (HasExtension ? ImagePath.substr(0, Dot) : ImagePath) + Extension;
}

std::string MapPathFor(const std::string &ImagePath) { return SiblingPathFor(ImagePath, ".map"); }
