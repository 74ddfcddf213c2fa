// What pei-sim qemu --gdb offers a user: the one gdb command line that
// attaches to the run with the module's source-level symbols where the
// module lies in flash, and the listing of the module's routines there.
#ifndef QEMU_RUNNER_GDB_COMMAND_H_
#define QEMU_RUNNER_GDB_COMMAND_H_

#include <cstdint>
#include <string>

#include "LinkMap.h"

struct GdbRequest {
  std::string ImagePath;
  std::string SymbolPath;    // empty: the image path with ".debug" for its extension
  std::string SourceFolder;  // where gdb finds the sources the symbol file names (may be empty)
  std::string Socket;        // pei-sim's gdb socket
  std::uint32_t ModuleBase = 0;  // where RVA 0 of the module lies in flash
  std::uint32_t EntryRva = 0;    // ModuleEntry's
};

// The command: the module's symbols where its code lies in flash, then a
// stop at ModuleEntry. The symbol file's .text sits at another RVA (and
// perhaps another base) than the image's, so the offset is computed from
// both files, never assumed; a symbol file that does not hold the image's
// code is refused (its lines and variables would be silently wrong): Note
// then says why, and the command stops at ModuleEntry's address instead.
std::string GdbCommandFor(const GdbRequest &Request, std::string &Note);

// The module's routines and data by address in flash, one a line, in the
// names gdb shows (the linked, decorated names when Mangled); the
// compiler's string literals are left out.
std::string RoutineListing(const LinkMap &Map, std::uint32_t ModuleBase, bool Mangled);

// A word as a POSIX shell takes it.
std::string ShellQuote(const std::string &Word);

#endif  // QEMU_RUNNER_GDB_COMMAND_H_
