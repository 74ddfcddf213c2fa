// pei-sim run: runs ModuleEntry on the virtual board and prints the trace and
// the board's state afterwards.
#include <cstdio>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "Commands.h"
#include "HostRun.h"
#include "VirtualBoard.h"

int RunCommand(const std::vector<std::string> &Args) {
  BoardSettings Settings;
  for (std::size_t Index = 0; Index < Args.size(); Index++) {
    const std::string &Option = Args[Index];
    auto Value = [&]() -> const std::string & {
      if (Index + 1 >= Args.size()) {
        throw UsageError("option " + Option + " needs a value");
      }
      return Args[++Index];
    };
    if (Option == "--divisor-code") {
      Settings.DivisorCode = static_cast<std::uint8_t>(ParseUnsigned(Value(), 0xFF, "divisor code"));
    } else if (Option == "--bus") {
      Settings.Bus = static_cast<std::uint8_t>(ParseUnsigned(Value(), 0xFF, "bus"));
    } else if (Option == "--reg40") {
      Settings.Reg40 = static_cast<std::uint8_t>(ParseUnsigned(Value(), 0xFF, "register 0x40 byte"));
    } else if (Option == "--no-ppi") {
      Settings.PpiInstalled = false;
    } else if (Option == "--ppi-status") {
      Settings.PpiStatus = static_cast<std::uint32_t>(ParseUnsigned(Value(), 0xFFFFFFFFu, "status"));
    } else if (Option == "--debug-level") {
      Settings.DebugLevel = static_cast<std::uint32_t>(ParseUnsigned(Value(), 0xFFFFFFFFu, "level mask"));
    } else if (Option == "--release-halts") {
      Settings.ReleaseHalts = true;
    } else {
      throw UsageError("unknown option '" + Option + "'");
    }
  }
  VirtualBoard Board(Settings);
  RunModuleOnHost(Board);
  const std::string Report = Board.Report();
  std::fwrite(Report.data(), 1, Report.size(), stdout);
  return Board.ExitCode();
}
