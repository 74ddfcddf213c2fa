// Symbol addresses from an lld-link map file: what the emulator watches, the
// ROM builder hands the foundation and the tools name routines by.
#ifndef COMMON_LINK_MAP_H_
#define COMMON_LINK_MAP_H_

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// A contribution to section 1 of the image, as the map's header lists them
// (".text" is the code; ".data" and ".rdata" follow it in the same section).
struct LinkMapPart {
  std::string Name;
  std::uint32_t Offset = 0;  // from the start of section 1
  std::uint32_t Length = 0;
};

struct LinkMap {
  std::map<std::string, std::uint32_t> Rvas;  // symbol name as linked ("_SerialWrite") -> RVA
  std::vector<LinkMapPart> Parts;

  std::optional<std::uint32_t> Rva(const std::string &Name) const;
  // RVA of the next symbol after Rva, or nullopt: the end of the routine at Rva.
  std::optional<std::uint32_t> NextAfter(std::uint32_t Rva) const;
  // The symbol at or last before Rva, as linked, and its RVA: the routine
  // that holds Rva. Nothing when no symbol lies at or before it.
  std::optional<std::pair<std::string, std::uint32_t>> SymbolAt(std::uint32_t Rva) const;
};

// A linked symbol as the source names it, scopes included, the way gdb
// shows it: "_SerialWrite" -> "SerialWrite", "?Convert@?A0x1A2B@@YA..." ->
// "(anonymous namespace)::Convert", "?Value@?$SOURCE_PATH_STORE@..." ->
// "SOURCE_PATH_STORE<...>::Value" (template arguments are left out).
std::string PlainRoutineName(const std::string &Linked);

// Its own name alone: "?ParseDirective@?A0x...@@..." -> "ParseDirective".
std::string RoutineName(const std::string &Linked);

// The map's symbols and parts; nothing, with Error naming the map, when it
// cannot be read or names no symbol at all.
std::optional<LinkMap> ParseLinkMap(const std::string &Text, const std::string &Path, std::string &Error);
std::optional<LinkMap> ReadLinkMap(const std::string &Path, std::string &Error);

// A file beside an image: ("x/SocPreInit.efi", ".debug") -> "x/SocPreInit.debug".
std::string SiblingPathFor(const std::string &ImagePath, const char *Extension);

// The link map beside an image: "x/SocPreInit.efi" -> "x/SocPreInit.map".
std::string MapPathFor(const std::string &ImagePath);

#endif  // COMMON_LINK_MAP_H_
