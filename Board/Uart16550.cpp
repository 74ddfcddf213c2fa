#include "Uart16550.h"

#include "BoardSummary.h"
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

std::string Uart16550::Settings() const { return UartSettingsText({LineControl_, Divisor()}); }
