#include "GdbCommand.h"

#include <filesystem>
#include <map>
#include <optional>
#include <vector>

#include "FileBytes.h"
#include "TextFields.h"
#include "RunRom.h"
#include "SymbolFile.h"

std::string ShellQuote(const std::string &Word) {
  if (!Word.empty() && Word.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-+=/.,:@") ==
                           std::string::npos) {
    return Word;
  }
  std::string Quoted = "'";
  for (char C : Word) {
    Quoted += C == '\'' ? std::string("'\\''") : std::string(1, C);
  }
  return Quoted + "'";
}

std::string GdbCommandFor(const GdbRequest &Request, std::string &Note) {
  namespace fs = std::filesystem;
  std::error_code Ignored;
  std::string Command =
      "gdb -q -ex 'set confirm off' -ex " + ShellQuote("target remote " + fs::absolute(Request.Socket, Ignored).string());
  const std::string SymbolPath =
      Request.SymbolPath.empty() ? SiblingPathFor(Request.ImagePath, ".debug") : Request.SymbolPath;
  std::vector<std::uint8_t> Symbols, Depex;
  bool Bare = false;
  std::string Error;
  const std::vector<std::uint8_t> Image = ModuleImageOf(Request.ImagePath, Depex, Bare, Error);
  std::optional<std::uint32_t> Offset;
  if (!Image.empty() && ReadFileBytes(SymbolPath, Symbols, Error, 64u << 20) &&
      SymbolFileDescribes(Symbols, Image, Error)) {
    Offset = SymbolOffset(Symbols, Image, Request.ModuleBase, Error);
  }
  if (!Offset) {
    Note = "no source-level symbols: " + SymbolPath + ": " + Error + "\n";
    return Command + " -ex " + ShellQuote("hbreak *" + Hex(Request.ModuleBase + Request.EntryRva, 8)) + " -ex continue";
  }
  Command += " -ex " + ShellQuote("add-symbol-file " + fs::absolute(SymbolPath, Ignored).string() + " -o " + Hex(*Offset, 8));
  if (!Request.SourceFolder.empty()) {
    Command += " -ex " + ShellQuote("directory " + Request.SourceFolder);
  }
  return Command + " -ex 'break ModuleEntry' -ex continue";
}

std::string RoutineListing(const LinkMap &Map, std::uint32_t ModuleBase, bool Mangled) {
  std::multimap<std::uint32_t, std::string> ByAddress;
  for (const auto &[Name, Rva] : Map.Rvas) {
    if (Name.rfind("??_", 0) != 0) {  // string literals and other compiler data
      ByAddress.emplace(ModuleBase + Rva, Mangled ? Name : PlainRoutineName(Name));
    }
  }
  std::string Listing;
  for (const auto &[Address, Name] : ByAddress) {
    Listing += "  " + Hex(Address, 8) + "  " + Name + "\n";
  }
  return Listing;
}
