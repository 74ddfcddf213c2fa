#include "LinkMap.h"

#include <fstream>
#include <sstream>

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

std::optional<LinkMap> ReadLinkMap(const std::string &Path, std::string &Error) {
  std::ifstream In(Path);
  if (!In) {
    Error = "cannot open link map " + Path;
    return std::nullopt;
  }
  // Symbol lines: " 0001:00000000       _SerialWrite   00000000000001c0     DebugLib.obj"
  LinkMap Map;
  std::string Line;
  while (std::getline(In, Line)) {
    std::istringstream Fields(Line);
    std::string Where, Name, Address;
    if (!(Fields >> Where >> Name >> Address) || Where.size() != 13 || Where[4] != ':') {
      continue;
    }
    // Part lines: " 0001:00000000 00000975H .text                   CODE"
    if (Where.compare(0, 5, "0001:") == 0 && Name.size() == 9 && Name.back() == 'H' && Address[0] == '.') {
      try {
        Map.Parts.push_back({Address, static_cast<std::uint32_t>(std::stoul(Where.substr(5), nullptr, 16)),
                             static_cast<std::uint32_t>(std::stoul(Name.substr(0, 8), nullptr, 16))});
      } catch (const std::exception &) {
      }
      continue;
    }
    try {
      Map.Rvas[Name] = static_cast<std::uint32_t>(std::stoull(Address, nullptr, 16));
    } catch (const std::exception &) {
    }
  }
  if (Map.Rvas.empty()) {
    Error = "no symbols in link map " + Path;
    return std::nullopt;
  }
  return Map;
}
