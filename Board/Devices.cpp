#include "Devices.h"

#include "Trace.h"

std::uint32_t RamRegion::Read(std::uint32_t Offset, int Size) {
  std::uint32_t Value = 0;
  for (int Index = Size - 1; Index >= 0; Index--) {
    const std::uint32_t At = Offset + static_cast<std::uint32_t>(Index);
    Value = (Value << 8) | (At < Bytes_.size() ? Bytes_[At] : 0xFFu);
  }
  return Value;
}

void RamRegion::Write(std::uint32_t Offset, int Size, std::uint32_t Value) {
  for (int Index = 0; Index < Size; Index++) {
    const std::uint32_t At = Offset + static_cast<std::uint32_t>(Index);
    if (At < Bytes_.size()) {
      Bytes_[At] = static_cast<std::uint8_t>(Value >> (8 * Index));
    }
  }
}

std::string RamRegion::Describe(std::uint32_t Offset) const {
  auto Found = Labels_.find(Offset);
  return Found != Labels_.end() ? Found->second : Name_ + " +" + Hex(Offset, 3);
}
