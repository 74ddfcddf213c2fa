// PCI configuration space of the board: registers per bus/device/function,
// reachable through the memory-mapped (ECAM) window and through the legacy
// 0xCF8/0xCFC ports, the same registers either way.
#ifndef BOARD_PCI_CONFIG_SPACE_H_
#define BOARD_PCI_CONFIG_SPACE_H_

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "Devices.h"

struct PciFunctionAddress {
  std::uint32_t Bus, Device, Function;
  auto operator<=>(const PciFunctionAddress &) const = default;
};

class PciConfigSpace {
 public:
  void AddFunction(PciFunctionAddress Where);
  bool Present(PciFunctionAddress Where) const { return Functions_.count(Where) != 0; }
  // Absent functions read all ones; writes to them are kept as unexpected.
  std::uint32_t Read(PciFunctionAddress Where, std::uint32_t Register, int Size) const;
  void Write(PciFunctionAddress Where, std::uint32_t Register, int Size, std::uint32_t Value);
  static std::string Name(PciFunctionAddress Where, std::uint32_t Register);  // "00:1F.0 reg 0x40"
  const std::vector<std::string> &Unexpected() const { return Unexpected_; }

 private:
  std::map<PciFunctionAddress, std::array<std::uint8_t, 4096>> Functions_;
  std::vector<std::string> Unexpected_;
};

// The memory-mapped configuration window: 1 MiB a bus, 32 KiB a device, 4 KiB a function.
class EcamWindow : public MemoryDevice {
 public:
  explicit EcamWindow(PciConfigSpace &Space) : Space_(Space) {}
  std::uint32_t Read(std::uint32_t Offset, int Size) override;
  void Write(std::uint32_t Offset, int Size, std::uint32_t Value) override;
  std::string Describe(std::uint32_t Offset) const override;

 private:
  static PciFunctionAddress Decode(std::uint32_t Offset) {
    return {Offset >> 20, (Offset >> 15) & 31u, (Offset >> 12) & 7u};
  }
  PciConfigSpace &Space_;
};

// The legacy mechanism: an address latch at 0xCF8 and a data port at 0xCFC.
class LegacyConfigPorts : public PortDevice {
 public:
  explicit LegacyConfigPorts(PciConfigSpace &Space) : Space_(Space) {}
  void Out(std::uint16_t Offset, int Size, std::uint32_t Value) override;
  std::string Describe(std::uint16_t Offset) const override;
  const std::vector<std::string> &Unexpected() const { return Unexpected_; }

 private:
  PciConfigSpace &Space_;
  std::uint32_t Latch_ = 0;
  std::vector<std::string> Unexpected_;
};

#endif  // BOARD_PCI_CONFIG_SPACE_H_
