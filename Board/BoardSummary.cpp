#include "BoardSummary.h"

#include <cstdio>

#include "PciConfigSpace.h"
#include "StatusNames.h"
#include "Trace.h"

namespace {

// The status as "0x8000000E (Not Found)".
std::string StatusWithName(std::uint32_t Status) { return Hex(Status, 8) + " (" + StatusNameOf(Status) + ")"; }

}  // namespace

std::string UartSettingsText(const UartState &Uart) {
  const unsigned LineControl = Uart.LineControl;
  std::string Text;
  Text += Uart.Divisor == 0 ? std::string("no line rate") : std::to_string(115200u / Uart.Divisor) + " bit/s";
  Text += " (divisor " + std::to_string(Uart.Divisor) + "), ";
  const unsigned DataBits = 5u + (LineControl & 3u);
  Text += std::to_string(DataBits) + " data bits, ";
  static const char *const kParity[4] = {"odd parity", "even parity", "mark parity", "space parity"};
  Text += (LineControl & 0x08u) == 0 ? "no parity" : kParity[(LineControl >> 4) & 3u];
  Text += ", ";
  Text += (LineControl & 0x04u) == 0 ? "1 stop bit" : DataBits == 5 ? "1.5 stop bits" : "2 stop bits";
  Text += (LineControl & 0x40u) != 0 ? ", break on" : ", break off";
  Text += (LineControl & 0x80u) != 0 ? ", divisor latch open" : ", divisor latch closed";
  return Text;
}

std::string BoardSummaryText(const BoardState &State) {
  std::string Out;
  auto Line = [&Out](const std::string &Name, const std::string &Value) { Out += Name + ": " + Value + "\n"; };
  const PciFunctionAddress Lpc{0, 31, 0};
  Line("COM1 0x3F8", UartSettingsText(State.Com1));
  Line("COM2 0x2F8", UartSettingsText(State.Com2));
  Line(PciConfigSpace::Name(Lpc, 0x40), Hex(State.Lpc40, 8));
  Line(PciConfigSpace::Name(Lpc, 0x50), Hex(State.Lpc50, 8));
  Line(PciConfigSpace::Name(Lpc, 0x80), Hex(State.Lpc80, 8));
  Line("chipset window 0xFED08088", Hex(State.Window88, 8));
  for (int Row = 0; Row < 3; Row++) {
    const PciFunctionAddress Where{State.Bus, kDeviceBaseRegisters[Row][0], 0};
    Line(PciConfigSpace::Name(Where, kDeviceBaseRegisters[Row][1]), Hex(State.Bases[Row], 8));
  }
  Line("unexpected", State.Unexpected.empty() ? "none" : std::to_string(State.Unexpected.size()));
  for (const std::string &Item : State.Unexpected) {
    Out += "  " + Item + "\n";
  }
  if (!State.NotDispatched.empty()) {
    Line("outcome", "not dispatched: " + State.NotDispatched);
  } else if (State.Halted) {
    Line("outcome", "halted at \"" + EscapeC(State.LastSink) + "\"");
  } else if (State.Return) {
    Line("outcome", "ModuleEntry returned " + StatusWithName(*State.Return));
  } else {
    Line("outcome", "did not finish");
  }
  return Out;
}
