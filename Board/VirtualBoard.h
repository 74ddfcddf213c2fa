// The virtual board the module runs on: physical memory with the platform
// records, PCI configuration space (ECAM and legacy ports), the chipset window
// that device 31 register 0x50 opens, two 16550 UARTs, the PPI the module
// looks up, and a trace of every platform operation in program order.
//
// The same board serves the host build (as its HostPlatform) and the IA-32
// image under emulation (the emulator forwards accesses to Load/Store/PortOut).
#ifndef BOARD_VIRTUAL_BOARD_H_
#define BOARD_VIRTUAL_BOARD_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "BoardSettings.h"
#include "BoardSummary.h"
#include "HostPlatform.h"
#include "PciConfigSpace.h"
#include "Trace.h"
#include "Uart16550.h"


// Where the board keeps the records other firmware would have left.
namespace board_map {
inline constexpr std::uint32_t kRecordsBase = 0x000E0000;  // PLATFORM_DATA, PLATFORM_CONFIG, BUS_INFO_PPI
inline constexpr std::uint32_t kPlatformData = kRecordsBase;
inline constexpr std::uint32_t kPlatformConfig = kRecordsBase + 0x100;
inline constexpr std::uint32_t kBusInfoPpi = kRecordsBase + 0x200;
inline constexpr std::uint32_t kAnchorPage = 0xFED00000;  // holds PlatformDataAnchor at +0x148
inline constexpr std::uint32_t kPcieBase = 0xE0000000;
inline constexpr std::uint32_t kPcieSize = 0x10000000;
// RAM the board leaves to a loader (image, stack, PEI services table); not traced.
inline constexpr std::uint32_t kLoaderRamBase = 0x00100000;
inline constexpr std::uint32_t kLoaderRamSize = 0x00300000;
}  // namespace board_map

class VirtualBoard : public HostPlatform {
 public:
  explicit VirtualBoard(const BoardSettings &Settings);

  // Platform operations, traced.
  std::uint32_t Load(std::uint32_t Address, int Size);
  void Store(std::uint32_t Address, int Size, std::uint32_t Value);
  void PortOut(std::uint16_t Port, int Size, std::uint32_t Value);
  // The board's LocatePpi: status, and the PPI's address on success.
  std::uint32_t LocatePpi(const std::uint8_t (&Guid)[16], std::uint32_t Instance, std::uint32_t *PpiAddress);
  // What reached the sink, a halt (true: release it), and the entry's return.
  void Sink(std::string_view Bytes);
  bool Halt();
  void Returned(std::uint32_t Status);
  // A dispatcher did not call the module, for this reason.
  void NotDispatched(std::string Why) { NotDispatched_ = std::move(Why); }

  // HostPlatform: the host build's accesses.
  void PortOut32(UINT16 Port, UINT32 Value) override { PortOut(Port, 4, Value); }
  void PortOut8(UINT16 Port, UINT8 Value) override { PortOut(Port, 1, Value); }
  UINT8 Load8(UINTN Address) override { return static_cast<UINT8>(Load(Address, 1)); }
  UINT32 Load32(UINTN Address) override { return Load(Address, 4); }
  void Store32(UINTN Address, UINT32 Value) override { Store(Address, 4, Value); }
  void SinkWrite(std::string_view Bytes) override { Sink(Bytes); }
  HaltAction OnHalt() override { return Halt() ? HaltAction::Release : HaltAction::Stop; }
  UINT32 DebugPrintLevel(UINT32 BuiltLevel) override { return Settings_.DebugLevel.value_or(BuiltLevel); }

  const BoardSettings &Settings() const { return Settings_; }
  const Trace &Log() const { return Trace_; }
  const Uart16550 &Com1() const { return Com1_; }
  const Uart16550 &Com2() const { return Com2_; }
  const PciConfigSpace &Pci() const { return Pci_; }
  std::uint32_t WindowWord(std::uint32_t Offset) { return Window_.Read(Offset, 4); }
  std::vector<std::string> Unexpected() const;
  bool Halted() const { return Halted_; }
  std::optional<std::uint32_t> ReturnStatus() const { return Return_; }
  const std::vector<std::string> &SinkTexts() const { return SinkTexts_; }

  // The state after the run, and its human-readable summary with the outcome last.
  BoardState State();
  std::string Summary();
  // Trace, a blank line, the summary: what `pei-sim run` prints.
  std::string Report();

 private:
  struct Region {
    std::uint32_t Base, Size;
    MemoryDevice *Device;
  };
  const Region *Decode(std::uint32_t Address);

  BoardSettings Settings_;
  Trace Trace_;
  PciConfigSpace Pci_;
  EcamWindow Ecam_{Pci_};
  LegacyConfigPorts ConfigPorts_{Pci_};
  Uart16550 Com1_{"COM1"};
  Uart16550 Com2_{"COM2"};
  RamRegion Records_{"platform records", 0x1000};
  RamRegion AnchorPage_{"anchor page", 0x1000};
  RamRegion Window_{"chipset window", 0x1000};
  std::vector<Region> Regions_;
  Region WindowRegion_{0, 0x1000, &Window_};
  std::vector<std::string> Unexpected_;
  std::vector<std::string> SinkTexts_;
  bool Halted_ = false;
  std::optional<std::uint32_t> Return_;
  std::string NotDispatched_;
};

#endif  // BOARD_VIRTUAL_BOARD_H_
