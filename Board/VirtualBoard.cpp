#include "VirtualBoard.h"

#include <algorithm>
#include <cstdio>

#include "FirmwarePacking.h"
#include "Library/PrintLib.h"

namespace {

constexpr std::uint32_t kLpcWindowRegister = 0x50;
constexpr std::uint32_t kWindowEnable = 0x2;
constexpr PciFunctionAddress kLpc{0, 31, 0};

}  // namespace

VirtualBoard::VirtualBoard(const BoardSettings &Settings) : Settings_(Settings) {
  using namespace board_map;
  Regions_ = {{kRecordsBase, Records_.Size(), &Records_},
              {kAnchorPage, AnchorPage_.Size(), &AnchorPage_},
              {kPcieBase, kPcieSize, &Ecam_}};

  AnchorPage_.Write(0x148, 4, kPlatformData);
  AnchorPage_.Label(0x148, "PlatformDataAnchor");
  Records_.Write(kPlatformData - kRecordsBase + 0x20, 4, kPlatformConfig);
  Records_.Label(kPlatformData - kRecordsBase + 0x20, "PLATFORM_DATA.Config");
  Records_.Write(kPlatformConfig - kRecordsBase + 0x43, 1, Settings.DivisorCode);
  Records_.Label(kPlatformConfig - kRecordsBase + 0x43, "PLATFORM_CONFIG.SerialDivisorCode");
  Records_.Write(kBusInfoPpi - kRecordsBase + 0, 1, 1);  // revision
  Records_.Write(kBusInfoPpi - kRecordsBase + 1, 1, Settings.Bus);
  Records_.Label(kBusInfoPpi - kRecordsBase + 1, "BUS_INFO_PPI.BusNumber");

  Pci_.AddFunction(kLpc);
  Pci_.Write(kLpc, 0x40, 1, Settings.Reg40);
  for (std::uint32_t Device : {22u, 23u, 24u}) {
    Pci_.AddFunction({Settings.Bus, Device, 0});
  }
}

const VirtualBoard::Region *VirtualBoard::Decode(std::uint32_t Address) {
  const std::uint32_t WindowControl = Pci_.Read(kLpc, kLpcWindowRegister, 4);
  if ((WindowControl & kWindowEnable) != 0) {
    WindowRegion_.Base = WindowControl & 0xFFFFF000u;
    if (Address - WindowRegion_.Base < WindowRegion_.Size) {
      return &WindowRegion_;
    }
  }
  for (const Region &Candidate : Regions_) {
    if (Address - Candidate.Base < Candidate.Size) {
      return &Candidate;
    }
  }
  return nullptr;
}

std::uint32_t VirtualBoard::Load(std::uint32_t Address, int Size) {
  const Region *Where = Decode(Address);
  const std::string Op = "load" + std::to_string(Size * 8) + " " + Hex(Address, 8) + " ";
  if (Where == nullptr) {
    const std::uint32_t AllOnes = Size == 4 ? 0xFFFFFFFFu : (1u << (8 * Size)) - 1;
    Trace_.Add(Op + Hex(AllOnes, 2 * Size), "unmapped");
    Unexpected_.push_back("load from unmapped address " + Hex(Address, 8));
    return AllOnes;
  }
  const std::uint32_t Value = Where->Device->Read(Address - Where->Base, Size);
  Trace_.Add(Op + Hex(Value, 2 * Size), Where->Device->Describe(Address - Where->Base));
  return Value;
}

void VirtualBoard::Store(std::uint32_t Address, int Size, std::uint32_t Value) {
  const Region *Where = Decode(Address);
  const std::string Op = "store" + std::to_string(Size * 8) + " " + Hex(Address, 8) + " " + Hex(Value, 2 * Size);
  if (Where == nullptr) {
    Trace_.Add(Op, "unmapped");
    Unexpected_.push_back("store to unmapped address " + Hex(Address, 8));
    return;
  }
  Where->Device->Write(Address - Where->Base, Size, Value);
  Trace_.Add(Op, Where->Device->Describe(Address - Where->Base));
}

void VirtualBoard::PortOut(std::uint16_t Port, int Size, std::uint32_t Value) {
  struct PortRange {
    std::uint16_t Base;
    PortDevice *Device;
  };
  const PortRange Ranges[] = {{0xCF8, &ConfigPorts_}, {0x3F8, &Com1_}, {0x2F8, &Com2_}};
  const std::string Op = "out" + std::to_string(Size * 8) + " " + Hex(Port, 4) + " " + Hex(Value, 2 * Size);
  for (const PortRange &Range : Ranges) {
    if (static_cast<std::uint16_t>(Port - Range.Base) < 8) {
      Range.Device->Out(static_cast<std::uint16_t>(Port - Range.Base), Size, Value);
      Trace_.Add(Op, Range.Device->Describe(static_cast<std::uint16_t>(Port - Range.Base)));
      return;
    }
  }
  Trace_.Add(Op, "no device");
  Unexpected_.push_back("write to port " + Hex(Port, 4) + " with no device");
}

std::uint32_t VirtualBoard::LocatePpi(const std::uint8_t (&Guid)[16], std::uint32_t Instance,
                                      std::uint32_t *PpiAddress) {
  std::uint32_t Status = EFI_NOT_FOUND;
  if (Settings_.PpiStatus) {
    Status = *Settings_.PpiStatus;
  } else if (Settings_.PpiInstalled && Instance == 0 && SameGuid(Guid, GuidBytes(gBusInfoPpiGuid).Bytes)) {
    Status = EFI_SUCCESS;
    *PpiAddress = board_map::kBusInfoPpi;
  }
  Guid16 Stored;
  std::copy(Guid, Guid + Stored.size(), Stored.begin());
  Trace_.Add("locateppi " + GuidText(Stored) + " " + Hex(Status, 8));
  return Status;
}

void VirtualBoard::Sink(std::string_view Bytes) {
  SinkTexts_.emplace_back(Bytes);
  Trace_.Add("sink \"" + EscapeC(Bytes) + "\"");
}

bool VirtualBoard::Halt() {
  Trace_.Add("halt");
  if (!Settings_.ReleaseHalts) {
    Halted_ = true;
    return false;
  }
  Trace_.Add("release");
  return true;
}

void VirtualBoard::Returned(std::uint32_t Status) {
  Return_ = Status;
  Trace_.Add("return " + Hex(Status, 8));
}

std::vector<std::string> VirtualBoard::Unexpected() const {
  std::vector<std::string> All = Unexpected_;
  for (const auto *List : {&Pci_.Unexpected(), &ConfigPorts_.Unexpected(), &Com1_.Unexpected(), &Com2_.Unexpected()}) {
    All.insert(All.end(), List->begin(), List->end());
  }
  return All;
}

BoardState VirtualBoard::State() {
  BoardState State;
  State.Com1 = {Com1_.LineControl(), Com1_.Divisor()};
  State.Com2 = {Com2_.LineControl(), Com2_.Divisor()};
  State.Lpc40 = Pci_.Read(kLpc, 0x40, 4);
  State.Lpc50 = Pci_.Read(kLpc, 0x50, 4);
  State.Lpc80 = Pci_.Read(kLpc, 0x80, 4);
  State.Window88 = Window_.Read(0x88, 4);
  State.Bus = Settings_.Bus;
  for (int Row = 0; Row < 3; Row++) {
    State.Bases[Row] = Pci_.Read({Settings_.Bus, kDeviceBaseRegisters[Row][0], 0}, kDeviceBaseRegisters[Row][1], 4);
  }
  State.Unexpected = Unexpected();
  State.Halted = Halted_;
  State.LastSink = SinkTexts_.empty() ? std::string() : SinkTexts_.back();
  State.Return = Return_;
  State.NotDispatched = NotDispatched_;
  return State;
}

std::string VirtualBoard::Summary() { return BoardSummaryText(State()); }

std::string VirtualBoard::Report() { return Trace_.Text() + "\n" + Summary(); }
