// A 16550-compatible UART as far as set-up goes: line control, the divisor
// latch access bit and the divisor latches are decoded; a transmitted byte or
// a write to any other register is kept as unexpected.
#ifndef BOARD_UART16550_H_
#define BOARD_UART16550_H_

#include <cstdint>
#include <string>
#include <vector>

#include "Devices.h"

class Uart16550 : public PortDevice {
 public:
  explicit Uart16550(std::string Name) : Name_(std::move(Name)) {}
  void Out(std::uint16_t Offset, int Size, std::uint32_t Value) override;
  std::string Describe(std::uint16_t Offset) const override;

  std::uint8_t LineControl() const { return LineControl_; }
  std::uint16_t Divisor() const { return static_cast<std::uint16_t>(DivisorHigh_ << 8 | DivisorLow_); }
  // "9600 bit/s, 8 data bits, no parity, 2 stop bits", plus break and latch state.
  std::string Settings() const;
  const std::vector<std::uint8_t> &Transmitted() const { return Transmitted_; }
  const std::vector<std::string> &Unexpected() const { return Unexpected_; }

 private:
  bool LatchOpen() const { return (LineControl_ & 0x80u) != 0; }
  std::string Name_;
  std::uint8_t LineControl_ = 0x00;
  std::uint8_t DivisorLow_ = 0x00;
  std::uint8_t DivisorHigh_ = 0x00;
  std::vector<std::uint8_t> Transmitted_;
  std::vector<std::string> Unexpected_;
};

#endif  // BOARD_UART16550_H_
