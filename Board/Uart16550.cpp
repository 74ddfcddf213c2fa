#include "Uart16550.h"

#include "Trace.h"

namespace {

const char *const kRegisterNames[8] = {"transmit buffer", "interrupt enable", "FIFO control", "line control",
                                       "modem control",   "line status",      "modem status", "scratch"};

}  // namespace

void Uart16550::Out(std::uint16_t Offset, int Size, std::uint32_t Value) {
  const auto Byte = static_cast<std::uint8_t>(Value);
  if (Size != 1) {
    Unexpected_.push_back(Name_ + ": " + std::to_string(Size * 8) + "-bit write of " + Hex(Value, 2 * Size));
    return;
  }
  if (Offset == 3) {
    LineControl_ = Byte;
  } else if (Offset == 0 && LatchOpen()) {
    DivisorLow_ = Byte;
  } else if (Offset == 1 && LatchOpen()) {
    DivisorHigh_ = Byte;
  } else if (Offset == 0) {
    Transmitted_.push_back(Byte);
    Unexpected_.push_back(Name_ + ": transmitted " + Hex(Byte, 2));
  } else {
    Unexpected_.push_back(Name_ + ": write of " + Hex(Byte, 2) + " to " + kRegisterNames[Offset & 7]);
  }
}

std::string Uart16550::Describe(std::uint16_t Offset) const {
  if (Offset == 0 && LatchOpen()) {
    return Name_ + " divisor latch low";
  }
  if (Offset == 1 && LatchOpen()) {
    return Name_ + " divisor latch high";
  }
  return Name_ + " " + kRegisterNames[Offset & 7];
}

std::string Uart16550::Settings() const {
  std::string Text;
  Text += Divisor() == 0 ? std::string("no line rate (divisor 0)") : std::to_string(115200u / Divisor()) + " bit/s";
  Text += " (divisor " + std::to_string(Divisor()) + "), ";
  const unsigned DataBits = 5u + (LineControl_ & 3u);
  Text += std::to_string(DataBits) + " data bits, ";
  static const char *const kParity[4] = {"odd parity", "even parity", "mark parity", "space parity"};
  Text += (LineControl_ & 0x08u) == 0 ? "no parity" : kParity[(LineControl_ >> 4) & 3u];
  Text += ", ";
  Text += (LineControl_ & 0x04u) == 0 ? "1 stop bit" : DataBits == 5 ? "1.5 stop bits" : "2 stop bits";
  Text += (LineControl_ & 0x40u) != 0 ? ", break on" : ", break off";
  Text += LatchOpen() ? ", divisor latch open" : ", divisor latch closed";
  return Text;
}
