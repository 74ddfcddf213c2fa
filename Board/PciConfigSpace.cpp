#include "PciConfigSpace.h"

#include <cstdio>

#include "Trace.h"

void PciConfigSpace::AddFunction(PciFunctionAddress Where) { Functions_.try_emplace(Where).first->second.fill(0); }

std::uint32_t PciConfigSpace::Read(PciFunctionAddress Where, std::uint32_t Register, int Size) const {
  auto Found = Functions_.find(Where);
  std::uint32_t Value = 0;
  for (int Index = Size - 1; Index >= 0; Index--) {
    const std::uint32_t At = Register + static_cast<std::uint32_t>(Index);
    const std::uint8_t Byte = Found == Functions_.end() || At >= 4096 ? 0xFF : Found->second[At];
    Value = (Value << 8) | Byte;
  }
  return Value;
}

void PciConfigSpace::Write(PciFunctionAddress Where, std::uint32_t Register, int Size, std::uint32_t Value) {
  auto Found = Functions_.find(Where);
  if (Found == Functions_.end()) {
    Unexpected_.push_back("write of " + Hex(Value, 2 * Size) + " to absent function " + Name(Where, Register));
    return;
  }
  for (int Index = 0; Index < Size; Index++) {
    const std::uint32_t At = Register + static_cast<std::uint32_t>(Index);
    if (At < 4096) {
      Found->second[At] = static_cast<std::uint8_t>(Value >> (8 * Index));
    }
  }
}

std::string PciConfigSpace::Name(PciFunctionAddress Where, std::uint32_t Register) {
  char Text[40];
  std::snprintf(Text, sizeof Text, "%02X:%02X.%X reg 0x%02X", Where.Bus, Where.Device, Where.Function, Register);
  return Text;
}

std::uint32_t EcamWindow::Read(std::uint32_t Offset, int Size) { return Space_.Read(Decode(Offset), Offset & 0xFFFu, Size); }

void EcamWindow::Write(std::uint32_t Offset, int Size, std::uint32_t Value) {
  Space_.Write(Decode(Offset), Offset & 0xFFFu, Size, Value);
}

std::string EcamWindow::Describe(std::uint32_t Offset) const {
  return "PCIe " + PciConfigSpace::Name(Decode(Offset), Offset & 0xFFFu);
}

void LegacyConfigPorts::Out(std::uint16_t Offset, int Size, std::uint32_t Value) {
  if (Offset == 0 && Size == 4) {
    Latch_ = Value;
    return;
  }
  if (Offset == 4 && Size == 4 && (Latch_ & 0x80000000u) != 0) {
    const PciFunctionAddress Where{(Latch_ >> 16) & 0xFFu, (Latch_ >> 11) & 31u, (Latch_ >> 8) & 7u};
    Space_.Write(Where, Latch_ & 0xFCu, 4, Value);
    return;
  }
  Unexpected_.push_back("config port write of " + Hex(Value, 2 * Size) + " at offset " + std::to_string(Offset) +
                        " with latch " + Hex(Latch_, 8));
}

std::string LegacyConfigPorts::Describe(std::uint16_t Offset) const {
  const PciFunctionAddress Where{(Latch_ >> 16) & 0xFFu, (Latch_ >> 11) & 31u, (Latch_ >> 8) & 7u};
  return (Offset == 0 ? "PCI config address " : "PCI config data ") + PciConfigSpace::Name(Where, Latch_ & 0xFCu);
}
