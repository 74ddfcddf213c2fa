// A 32-bit x86 processor (Unicorn) running a relocated PE32 image. RAM the
// caller maps is plain memory; every other access, and every port access, is
// forwarded to a MachineBus. Calls into the image follow the cdecl PI calling
// convention. The image's sink (SerialWrite) and halt loop (HaltProcessor)
// are recognised through the link map.
#ifndef EMULATOR_IA32_MACHINE_H_
#define EMULATOR_IA32_MACHINE_H_

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "ImageRuns.h"
#include "LinkMap.h"
#include "PeImage.h"

struct uc_struct;

class MachineBus {
 public:
  virtual ~MachineBus() = default;
  virtual std::uint32_t Load(std::uint32_t Address, int Size) = 0;
  virtual void Store(std::uint32_t Address, int Size, std::uint32_t Value) = 0;
  virtual void PortOut(std::uint16_t Port, int Size, std::uint32_t Value) = 0;
  virtual std::uint32_t PortIn(std::uint16_t Port, int Size) = 0;
  virtual void Sink(std::string_view Bytes) = 0;
  virtual bool Halt() = 0;  // true: end the halt as a debugger would; false: stop the run
};

struct CallOutcome {
  enum class End { Returned, Halted, Failed } How = End::Failed;
  std::uint32_t Eax = 0;
  std::uint64_t Instructions = 0;  // executed inside the image, entry to return
  std::uint32_t StackBytes = 0;    // deepest use below the entry's return address
  std::string Error;
};

class Ia32Machine {
 public:
  explicit Ia32Machine(MachineBus &Bus);
  ~Ia32Machine();
  Ia32Machine(const Ia32Machine &) = delete;
  Ia32Machine &operator=(const Ia32Machine &) = delete;

  void MapRam(std::uint32_t Base, std::uint32_t Size);
  void Write(std::uint32_t Address, const void *Bytes, std::size_t Size);
  void Write32(std::uint32_t Address, std::uint32_t Value) { Write(Address, &Value, 4); }
  void Read(std::uint32_t Address, void *Bytes, std::size_t Size);
  std::uint32_t Read32(std::uint32_t Address);

  // Lays the image out at LoadBase (inside mapped RAM) with its relocations
  // applied; the link map names the routines the machine watches.
  void LoadImage(const PeImage &Image, const LinkMap &Map, std::uint32_t LoadBase);
  std::uint32_t SymbolAddress(const std::string &Name) const;  // throws when missing

  // A service at Address (inside mapped RAM): when called, Handler(stack
  // pointer at the call) gives EAX and the machine returns to the caller.
  // Handler may throw std::runtime_error for a bad pointer: the call then
  // fails with that message.
  void AddService(std::uint32_t Address, std::function<std::uint32_t(std::uint32_t Esp)> Handler);

  // Bounds of a call: instructions executed in all, and pages outside RAM
  // mapped on first touch.
  void SetInstructionLimit(std::uint64_t Limit) { InstructionLimit_ = Limit; }
  // Lets a halt loop run this many instructions before the bus is asked to
  // stop or release it, as a debugger that breaks in late would; 0 asks at
  // the loop's entry. A loop that leaves before then was never a halt.
  void SetHaltSpin(std::uint64_t Instructions) { HaltSpin_ = Instructions; }
  static constexpr std::size_t kMaxMmioPages = 256;

  // Records into Runs (null: nothing) each instruction of the image the
  // calls execute and each step from one to the next.
  void RecordCoverage(ImageRuns *Runs) { Coverage_ = Runs; }

  // "ModuleEntry+0x1C" for an address inside the image, else the address.
  std::string NearestSymbol(std::uint32_t Address) const;

  // ECX and EDX for the next call: the first two arguments of a routine that
  // link-time optimisation gave a register convention.
  void SetRegisterArguments(std::uint32_t Ecx, std::uint32_t Edx);

  // Calls Function with the 32-bit Args (cdecl), the stack top at StackTop.
  CallOutcome Call(std::uint32_t Function, const std::vector<std::uint32_t> &Args, std::uint32_t StackTop,
                   std::uint32_t ReturnAddress);

  // Ends the running call as failed with Why: what a bus does with an access
  // it cannot serve, since nothing may be thrown through the emulator.
  void Fail(std::string Why);

  // A page outside RAM, forwarded to the bus.
  struct MmioPage {
    MachineBus *Bus;
    std::uint32_t Base;
  };

  // Internal hook entry points.
  void OnCode(std::uint32_t Address);
  void OnStackWrite(std::uint32_t Address, int Size, std::uint64_t Value);
  bool OnUnmapped(std::uint32_t Address, bool Fetch);

 private:
  uc_struct *Uc_ = nullptr;
  MachineBus &Bus_;
  std::uint32_t ImageBase_ = 0, ImageSize_ = 0;
  LinkMap Map_;  // of the loaded image: its symbols by RVA
  std::uint32_t SinkAddress_ = 0, HaltBegin_ = 0, HaltEnd_ = 0;
  std::map<std::uint32_t, std::function<std::uint32_t(std::uint32_t)>> Services_;
  std::deque<MmioPage> MmioPages_;
  // Per call.
  std::uint64_t Instructions_ = 0;
  std::uint32_t MinEsp_ = 0;
  bool InHalt_ = false, ReleasePending_ = false, Halted_ = false;
  std::uint32_t HaltWord_ = 0;
  bool HaltWordKnown_ = false;
  std::uint64_t HaltSpin_ = 0, HaltSpinLeft_ = 0;
  bool HaltUnasked_ = false;
  std::uint64_t InstructionLimit_ = 100'000;
  ImageRuns *Coverage_ = nullptr;
  std::uint32_t LastRva_ = 0;
  bool LastRvaKnown_ = false;
  std::string Fault_;  // why a hook stopped the run; nothing may be thrown through the emulator
};

#endif  // EMULATOR_IA32_MACHINE_H_
