// Fuzzes the module on the virtual board through random board settings and
// checks the invariants of every run: the write order, the divisor the line
// rate table gives, nothing transmitted and no UART register beyond line
// control and the divisor latches touched, the base registers written only
// through a PPI that was found.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "ExitStatus.h"
#include "FuzzInput.h"
#include "HostRun.h"
#include "VirtualBoard.h"

namespace {

[[noreturn]] void Fail(const std::string &What, const VirtualBoard &Board) {
  std::fprintf(stderr, "board fuzz: %s\n%s", What.c_str(), Board.Log().Text().c_str());
  std::abort();
}

std::string WithoutNote(const std::string &Line) { return Line.substr(0, Line.find("  #")); }

std::string Hex2(unsigned Value) {
  char Text[8];
  std::snprintf(Text, sizeof Text, "0x%02X", Value & 0xFFu);
  return Text;
}

unsigned ExpectedDivisor(unsigned Code) {
  for (unsigned Listed : {1u, 2u, 3u, 6u, 12u, 24u, 48u, 96u}) {
    if (Listed == Code) {
      return Code;
    }
  }
  return 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *Data, std::size_t Size) {
  FuzzInput In(Data, Size);
  BoardSettings Settings;
  Settings.DivisorCode = In.Byte();
  Settings.Reg40 = In.Byte();
  Settings.Bus = In.Byte();
  const std::uint8_t Mode = In.Byte();
  Settings.PpiInstalled = (Mode & 1) == 0;
  if ((Mode & 2) != 0) {
    // LocatePpi fails only with error statuses, as the PEI services do.
    Settings.PpiStatus = static_cast<std::uint32_t>(In.Bytes(4)) | 0x80000000u;
  }
  Settings.ReleaseHalts = (Mode & 4) != 0;
  if ((Mode & 8) != 0) {
    Settings.DebugLevel = 0x80000001u;
  }

  VirtualBoard Board(Settings);
  RunModuleOnHost(Board);

  if (!Board.Unexpected().empty()) {
    Fail("unexpected access: " + Board.Unexpected().front(), Board);
  }
  std::vector<std::string> Writes;
  std::vector<std::string> Lines;
  for (const std::string &Line : Board.Log().Lines()) {
    Lines.push_back(WithoutNote(Line));
    if (Line.rfind("out", 0) == 0 || Line.rfind("store", 0) == 0) {
      Writes.push_back(WithoutNote(Line));
    }
  }
  const unsigned Divisor = ExpectedDivisor(Settings.DivisorCode);
  std::vector<std::string> Expected = {
      "out32 0x0CF8 0x8000F850", "out32 0x0CFC 0xFED08002", "store32 0xFED08088 0x00000018",
      "out32 0x0CF8 0x8000F880", "out32 0x0CFC 0x00000003", "out8 0x02FB 0x87",
      "out8 0x03FB 0x87",        "out8 0x02F9 " + Hex2(Divisor >> 8), "out8 0x02F8 " + Hex2(Divisor),
      "out8 0x03F9 " + Hex2(Divisor >> 8), "out8 0x03F8 " + Hex2(Divisor), "out8 0x02FB 0x07",
      "out8 0x03FB 0x07"};
  if ((Settings.Reg40 & 0x02) == 0) {
    Expected.push_back("store32 0xE00F8040 0x00000402");
  }
  const bool Found = Settings.PpiInstalled && !Settings.PpiStatus;
  if (Found) {
    const unsigned Base = 0xE0000000u + (static_cast<unsigned>(Settings.Bus) << 20);
    char Store[64];
    for (const auto &[Offset, Value] : {std::pair{0xB0010u, 0xF0100000u}, {0xB8024u, 0xF0200000u}, {0xC0024u, 0xF0300000u}}) {
      std::snprintf(Store, sizeof Store, "store32 0x%08X 0x%08X", Base + Offset, Value);
      Expected.push_back(Store);
    }
  }
  if (Writes != Expected) {
    Fail("writes out of order or wrong", Board);
  }
  const bool ReadBus = std::any_of(Lines.begin(), Lines.end(),
                                   [](const std::string &Line) { return Line.rfind("load8 0x000E0201", 0) == 0; });
  if (ReadBus != Found) {
    Fail("bus number read through a missing PPI, or not read", Board);
  }
  const int Exit = ExitCode(ExitStatusOf(Board.State()));
  const int ExpectedExit = Found ? 0 : Settings.ReleaseHalts ? 1 : 3;
  if (Exit != ExpectedExit) {
    Fail("exit status " + std::to_string(Exit), Board);
  }
  return 0;
}
