#include "LinkMap.h"

#include <cctype>
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

std::optional<std::pair<std::string, std::uint32_t>> LinkMap::SymbolAt(std::uint32_t Rva) const {
  std::optional<std::pair<std::string, std::uint32_t>> Best;
  for (const auto &[Name, At] : Rvas) {
    if (At <= Rva && (!Best || At > Best->second)) {
      Best = {Name, At};
    }
  }
  return Best;
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

std::string PlainRoutineName(const std::string &Linked) {
  if (Linked.size() > 1 && Linked[0] == '_') {
    return Linked.substr(1);  // a C name
  }
  if (Linked.size() < 2 || Linked[0] != '?' || Linked.rfind("??_", 0) == 0) {
    return Linked;  // not a C++ name, or the compiler's own data
  }
  // "?Name@Scope@Outer@@<type>": the name, then its scopes inward out, up to
  // "@@". A template's name ("?$Name@<arguments>") ends the walk: its
  // arguments are not names.
  std::vector<std::string> Parts;
  std::size_t At = 1;
  while (At < Linked.size()) {
    const std::size_t End = Linked.find('@', At);
    const std::string Fragment = Linked.substr(At, End == std::string::npos ? std::string::npos : End - At);
    if (Fragment.empty()) {
      break;
    }
    if (Fragment.rfind("?$", 0) == 0) {
      Parts.push_back(Fragment.substr(2) + "<...>");
      break;
    }
    if (Fragment.rfind("?A0x", 0) == 0) {
      Parts.push_back("(anonymous namespace)");
    } else if (Fragment[0] == '?' || std::isdigit(static_cast<unsigned char>(Fragment[0]))) {
      break;  // an operator, a nested name or a back reference: the name so far
    } else {
      Parts.push_back(Fragment);
    }
    if (End == std::string::npos) {
      break;
    }
    At = End + 1;
  }
  if (Parts.empty()) {
    return Linked;
  }
  std::string Name = Parts.back();
  for (std::size_t Index = Parts.size() - 1; Index > 0; Index--) {
    Name += "::" + Parts[Index - 1];
  }
  return Name;
}

std::string RoutineName(const std::string &Linked) {
  const std::string Plain = PlainRoutineName(Linked);
  const std::size_t Scope = Plain.rfind("::");
  return Scope == std::string::npos ? Plain : Plain.substr(Scope + 2);
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
