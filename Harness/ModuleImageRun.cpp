#include "ModuleImageRun.h"
#include "FileBytes.h"

#include <stdexcept>

#include "CoverageData.h"
#include "Ia32Machine.h"

namespace {

// Layout of the board's loader RAM during a run.
constexpr std::uint32_t kServicesTable = board_map::kLoaderRamBase;          // EFI_PEI_SERVICES
constexpr std::uint32_t kServicesPointer = board_map::kLoaderRamBase + 0x80;  // const EFI_PEI_SERVICES *
constexpr std::uint32_t kLocatePpiStub = board_map::kLoaderRamBase + 0x100;
constexpr std::uint32_t kReturnStub = board_map::kLoaderRamBase + 0x200;
constexpr std::uint32_t kStackTop = board_map::kLoaderRamBase + 0x100000 - 0x10;
constexpr std::uint32_t kLocatePpiOffset = 0x20;

// Forwards the machine's accesses to the board.
class BoardBus : public MachineBus {
 public:
  explicit BoardBus(VirtualBoard &Board) : Board_(Board) {}
  std::uint32_t Load(std::uint32_t Address, int Size) override { return Board_.Load(Address, Size); }
  void Store(std::uint32_t Address, int Size, std::uint32_t Value) override { Board_.Store(Address, Size, Value); }
  void PortOut(std::uint16_t Port, int Size, std::uint32_t Value) override { Board_.PortOut(Port, Size, Value); }
  std::uint32_t PortIn(std::uint16_t, int) override { return 0xFFFFFFFFu; }
  void Sink(std::string_view Bytes) override { Board_.Sink(Bytes); }
  bool Halt() override { return Board_.Halt(); }

 private:
  VirtualBoard &Board_;
};

void BuildPeiServices(Ia32Machine &Machine, VirtualBoard &Board) {
  const std::uint64_t Signature = 0x5652455320494550ull;  // "PEI SERV"
  Machine.Write(kServicesTable, &Signature, 8);
  Machine.Write32(kServicesTable + 12, 24);  // header size
  Machine.Write32(kServicesTable + kLocatePpiOffset, kLocatePpiStub);
  Machine.Write32(kServicesPointer, kServicesTable);
  Machine.AddService(kLocatePpiStub, [&Machine, &Board](std::uint32_t Esp) {
    // LocatePpi(PeiServices, Guid, Instance, PpiDescriptor, Ppi)
    std::uint8_t Guid[16];
    Machine.Read(Machine.Read32(Esp + 8), Guid, sizeof Guid);
    const std::uint32_t Instance = Machine.Read32(Esp + 12);
    const std::uint32_t Descriptor = Machine.Read32(Esp + 16);
    const std::uint32_t PpiOut = Machine.Read32(Esp + 20);
    std::uint32_t Address = 0;
    const std::uint32_t Status = Board.LocatePpi(Guid, Instance, &Address);
    if ((Status & 0x80000000u) == 0) {
      Machine.Write32(PpiOut, Address);
      if (Descriptor != 0) {
        Machine.Write32(Descriptor, 0);
      }
    }
    return Status;
  });
}

}  // namespace

LoadBaseRange AcceptedLoadBases(std::uint32_t SizeOfImage) {
  const std::uint32_t RamEnd = board_map::kLoaderRamBase + board_map::kLoaderRamSize;
  LoadBaseRange Range;
  Range.Lowest = (kStackTop + 0xFFFu) & ~0xFFFu;
  const std::uint32_t Room = SizeOfImage < RamEnd - Range.Lowest ? RamEnd - SizeOfImage : 0;
  Range.Highest = Room & ~0xFFFu;
  if (Range.Highest < Range.Lowest) {
    Range = LoadBaseRange{1, 0};  // nothing fits: no base holds
  }
  return Range;
}

bool RunModuleImage(VirtualBoard &Board, const ModuleImageRun &Run, ModuleImageStats &Stats, std::string &Error) {
  std::vector<std::uint8_t> Bytes;
  return ReadFileBytes(Run.ImagePath, Bytes, Error) && RunModuleImageBytes(Board, std::move(Bytes), Run, Stats, Error);
}

bool RunModuleImageBytes(VirtualBoard &Board, std::vector<std::uint8_t> Bytes, const ModuleImageRun &Run,
                         ModuleImageStats &Stats, std::string &Error) {
  const auto Image = ParsePeImage(std::move(Bytes), Error);
  if (!Image) {
    return false;
  }
  const auto Map = ReadLinkMap(Run.MapPath.empty() ? MapPathFor(Run.ImagePath) : Run.MapPath, Error);
  if (!Map) {
    return false;
  }
  return RunParsedModuleImage(Board, *Image, *Map, Run, Stats, Error);
}

bool RunParsedModuleImage(VirtualBoard &Board, const PeImage &ParsedImage, const LinkMap &ParsedMap,
                          const ModuleImageRun &Run, ModuleImageStats &Stats, std::string &Error) {
  const PeImage *const Image = &ParsedImage;
  const LinkMap *const Map = &ParsedMap;
  if (!AcceptedLoadBases(Image->SizeOfImage).Holds(Run.LoadBase)) {
    Error = "load base must be page aligned and leave the image inside loader RAM (0x00200000 and up)";
    return false;
  }
  Stats.ImageSize = static_cast<std::uint32_t>(Image->File.size());
  try {
    BoardBus Bus(Board);
    Ia32Machine Machine(Bus);
    Machine.SetInstructionLimit(Run.MaxInstructions);
    Machine.SetHaltSpin(Run.HaltSpin);
    const std::string CoverageFile = Run.CoverageFile.empty() ? CoverageFileFromEnvironment() : Run.CoverageFile;
    ImageRuns Executed;
    Machine.RecordCoverage(CoverageFile.empty() ? nullptr : &Executed);
    Machine.MapRam(board_map::kLoaderRamBase, board_map::kLoaderRamSize);
    Machine.LoadImage(*Image, *Map, Run.LoadBase);
    BuildPeiServices(Machine, Board);
    const std::uint8_t Halt = 0xF4;
    Machine.Write(kReturnStub, &Halt, 1);
    const CallOutcome Outcome =
        Machine.Call(Run.LoadBase + Image->EntryPoint, {0, kServicesPointer}, kStackTop, kReturnStub);
    Stats.Instructions = Outcome.Instructions;
    Stats.StackBytes = Outcome.StackBytes;
    // What ran counts whatever the outcome: a failed run executed it too.
    if (!CoverageFile.empty() && !AddImageRuns(CoverageFile, Image->File, Run.ImagePath, Executed, Error)) {
      return false;
    }
    if (Outcome.How == CallOutcome::End::Failed) {
      Error = "emulation failed: " + Outcome.Error;
      return false;
    }
    if (Outcome.How == CallOutcome::End::Returned) {
      Board.Returned(Outcome.Eax);
    }
    return true;
  } catch (const std::exception &Failure) {
    Error = Failure.what();
    return false;
  }
}
