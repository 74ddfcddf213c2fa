#include "EngineImageRun.h"

#include <cstdio>
#include <stdexcept>

#include "CoverageData.h"
#include "Ia32Machine.h"
#include "ModuleImageRun.h"

namespace {

constexpr std::uint32_t kCodeRam = 0x00100000;
constexpr std::uint32_t kCodeRamSize = 0x00300000;
constexpr std::uint32_t kStackTop = kCodeRam + 0x100000 - 0x10;
constexpr std::uint32_t kReturnStub = kCodeRam + 0x200;
constexpr std::uint32_t kLoadBase = 0x00200000;
constexpr std::uint32_t kDataBase = 0x01000000;
constexpr std::uint32_t kGuard = 64;
constexpr std::uint8_t kGuardByte = 0xA5;
constexpr std::uint32_t kRecordSize = 12;  // PRINT_ARG on IA-32: Low, High, Kind and padding
static_assert(sizeof(PRINT_ARG) == kRecordSize, "the host record has the IA-32 layout");

// The engine touches no port or platform memory: anything that does arrive
// ends the call as failed, naming the access.
class EngineBus : public MachineBus {
 public:
  explicit EngineBus(FormatOutcome &Outcome) : Outcome_(Outcome) {}
  void Attach(Ia32Machine &Machine) { Machine_ = &Machine; }
  std::uint32_t Load(std::uint32_t Address, int) override { return Fault("load from", Address); }
  void Store(std::uint32_t Address, int, std::uint32_t) override { Fault("store to", Address); }
  void PortOut(std::uint16_t Port, int, std::uint32_t) override { Fault("output to port", Port); }
  std::uint32_t PortIn(std::uint16_t Port, int) override { return Fault("input from port", Port); }
  void Sink(std::string_view Bytes) override { Outcome_.Sink.emplace_back(Bytes); }
  bool Halt() override {
    Outcome_.Halted = true;
    return ReleaseHalts;
  }
  bool ReleaseHalts = false;

 private:
  std::uint32_t Fault(const char *What, std::uint32_t Where) {
    char Text[64];
    std::snprintf(Text, sizeof Text, "engine image %s 0x%08X outside its memory", What, Where);
    if (Machine_ != nullptr) {
      Machine_->Fail(Text);
    }
    return 0xFFFFFFFFu;
  }
  FormatOutcome &Outcome_;
  Ia32Machine *Machine_ = nullptr;
};

// The module's engine as linked: ?FormatToBuffer@@YAIPADIPBDPAUPRINT_ARG_LIST@@@Z.
constexpr char kModuleFormatToBuffer[] = "?FormatToBuffer@@YAIPADIPBDPAUPRINT_ARG_LIST@@@Z";

std::uint32_t AlignUp(std::uint32_t Value, std::uint32_t Alignment) {
  return (Value + Alignment - 1) / Alignment * Alignment;
}

}  // namespace

bool RunEngineImage(const std::string &ImagePath, std::uint32_t BufferSize, const std::string &Format,
                    const std::vector<FormatValue> &Args, FormatOutcome &Outcome, std::string &Error,
                    const EngineCall &Call) {
  const auto Image = ReadPeImage(ImagePath, Error);
  if (!Image) {
    return false;
  }
  const auto Map = ReadLinkMap(MapPathFor(ImagePath), Error);
  if (!Map) {
    return false;
  }
  const bool TestImage = Map->Rva("_EngineTestEntry").has_value();
  if (!TestImage && BufferSize == 0) {
    // The module never passes one, and its copy of the engine no longer
    // tests for it: the call would write a terminator before the buffer.
    Error = ImagePath + ": the module's FormatToBuffer takes no empty buffer (size 0 is for the engine test image)";
    return false;
  }
  if (TestImage && Call.NullArgs) {
    Error = ImagePath + ": the engine test image's entry always hands the engine an argument list";
    return false;
  }
  // Data layout: format, argument bytes, records, then the buffer between guards.
  std::vector<std::uint8_t> Data(Format.begin(), Format.end());
  Data.push_back(0);
  std::vector<std::uint8_t> Records;
  for (const FormatValue &Arg : Args) {
    std::uint64_t Address = 0;
    if (Arg.Type == FormatValue::Kind::Bytes) {
      Data.resize(AlignUp(static_cast<std::uint32_t>(Data.size()), 4) + Arg.Misalign);
      Address = kDataBase + Data.size();
      Data.insert(Data.end(), Arg.Bytes.begin(), Arg.Bytes.end());
    }
    // PRINT_ARG on IA-32: Low, High, then the kind in a 4-byte slot.
    const PRINT_ARG Made = RecordFor(Arg, Address);
    const std::uint32_t Record[3] = {Made.Low, Made.High, Made.Kind};
    const auto *Raw = reinterpret_cast<const std::uint8_t *>(Record);
    Records.insert(Records.end(), Raw, Raw + kRecordSize);
  }
  Data.resize(AlignUp(static_cast<std::uint32_t>(Data.size()), 4));
  const std::uint32_t RecordsAt = kDataBase + static_cast<std::uint32_t>(Data.size());
  Data.insert(Data.end(), Records.begin(), Records.end());
  const std::uint32_t BufferAt = kDataBase + static_cast<std::uint32_t>(Data.size()) + kGuard;
  Data.resize(Data.size() + kGuard + BufferSize + kGuard, kGuardByte);
  const std::uint32_t FormatAt = Call.NullFormat ? 0 : kDataBase;
  const std::uint32_t BufferArgument = Call.NullBuffer ? 0 : BufferAt;

  Outcome.BufferIntact = true;
  try {
    EngineBus Bus(Outcome);
    Bus.ReleaseHalts = Call.ReleaseHalts;
    Ia32Machine Machine(Bus);
    Bus.Attach(Machine);
    // Texts of up to the engine's 1,000,000-character limit are measured and
    // filled: a few instructions per character, and room to spare.
    Machine.SetInstructionLimit(40'000'000);
    const std::string CoverageFile = CoverageFileFromEnvironment();
    ImageRuns Executed;
    Machine.RecordCoverage(CoverageFile.empty() ? nullptr : &Executed);
    Machine.MapRam(kCodeRam, kCodeRamSize);
    Machine.MapRam(kDataBase, static_cast<std::uint32_t>(Data.size()));
    Machine.Write(kDataBase, Data.data(), Data.size());
    Machine.LoadImage(*Image, *Map, kLoadBase);
    const std::uint8_t Halt = 0xF4;
    Machine.Write(kReturnStub, &Halt, 1);
    CallOutcome Ran;
    if (TestImage) {
      Ran = Machine.Call(Machine.SymbolAddress("_EngineTestEntry"),
                         {BufferArgument, BufferSize, FormatAt, RecordsAt, static_cast<std::uint32_t>(Args.size())},
                         kStackTop, kReturnStub);
    } else {
      // The module image: its own FormatToBuffer, to which link-time
      // optimisation gave a register convention (Buffer in ECX, BufferSize
      // in EDX, then Format and Args on the stack), as its call sites show.
      const std::uint32_t Cursor[2] = {RecordsAt, RecordsAt + static_cast<std::uint32_t>(Records.size())};
      const std::uint32_t CursorAt = kCodeRam + 0x300;
      Machine.Write(CursorAt, Cursor, sizeof Cursor);
      Machine.SetRegisterArguments(BufferArgument, BufferSize);
      Ran = Machine.Call(Machine.SymbolAddress(kModuleFormatToBuffer), {FormatAt, Call.NullArgs ? 0 : CursorAt},
                         kStackTop, kReturnStub);
    }
    Outcome.Instructions = Ran.Instructions;
    Outcome.StackBytes = Ran.StackBytes;
    if (!CoverageFile.empty() && !AddImageRuns(CoverageFile, Image->File, ImagePath, Executed, Error)) {
      return false;
    }
    if (Ran.How == CallOutcome::End::Failed) {
      Error = "emulation failed: " + Ran.Error;
      return false;
    }
    std::vector<std::uint8_t> After(Data.size());
    Machine.Read(kDataBase, After.data(), After.size());
    const std::uint32_t BufferOffset = BufferAt - kDataBase;
    for (std::uint32_t Index = 0; Index < kGuard; Index++) {
      Outcome.BufferIntact = Outcome.BufferIntact && After[BufferOffset - 1 - Index] == kGuardByte &&
                             After[BufferOffset + BufferSize + Index] == kGuardByte;
    }
    if (Ran.How == CallOutcome::End::Returned && Call.NullBuffer) {
      // Nothing may be written anywhere: the whole buffer keeps its fill.
      for (std::uint32_t Index = 0; Index < BufferSize; Index++) {
        Outcome.BufferIntact = Outcome.BufferIntact && After[BufferOffset + Index] == kGuardByte;
      }
      Outcome.Count = TestImage ? Ran.Eax : 0;
      return true;
    }
    if (Ran.How == CallOutcome::End::Returned && !TestImage) {
      // No caller in the module uses FormatToBuffer's count, so link-time
      // optimisation dropped it: EAX holds whatever the routine left there.
      // The count is where the terminator lies.
      Ran.Eax = 0;
      while (Ran.Eax + 1 < BufferSize && After[BufferOffset + Ran.Eax] != 0) {
        Ran.Eax++;
      }
    }
    if (Ran.How == CallOutcome::End::Returned) {
      Outcome.Count = Ran.Eax;
      if (BufferSize == 0 || Ran.Eax >= BufferSize || After[BufferOffset + Ran.Eax] != 0) {
        Outcome.BufferIntact = Outcome.BufferIntact && BufferSize == 0 && Ran.Eax == 0 &&
                               After[BufferOffset] == kGuardByte;
      }
      Outcome.Output.assign(reinterpret_cast<const char *>(After.data()) + BufferOffset, Ran.Eax);
    }
    return true;
  } catch (const std::exception &Failure) {
    Error = Failure.what();
    return false;
  }
}
