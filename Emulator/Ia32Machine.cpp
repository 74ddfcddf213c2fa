#include "Ia32Machine.h"

#include <unicorn/unicorn.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace {

constexpr std::uint32_t kPage = 0x1000;

void Check(uc_err Status, const char *What) {
  if (Status != UC_ERR_OK) {
    throw std::runtime_error(std::string(What) + ": " + uc_strerror(Status));
  }
}

Ia32Machine *MachineOf(void *UserData) { return static_cast<Ia32Machine *>(UserData); }

void CodeHook(uc_engine *, std::uint64_t Address, std::uint32_t, void *UserData) {
  MachineOf(UserData)->OnCode(static_cast<std::uint32_t>(Address));
}

void StackWriteHook(uc_engine *, uc_mem_type, std::uint64_t Address, int Size, std::int64_t Value, void *UserData) {
  MachineOf(UserData)->OnStackWrite(static_cast<std::uint32_t>(Address), Size, static_cast<std::uint64_t>(Value));
}

bool UnmappedHook(uc_engine *, uc_mem_type Type, std::uint64_t Address, int, std::int64_t, void *UserData) {
  return MachineOf(UserData)->OnUnmapped(static_cast<std::uint32_t>(Address), Type == UC_MEM_FETCH_UNMAPPED);
}

void PortOutHook(uc_engine *, std::uint32_t Port, int Size, std::uint32_t Value, void *UserData) {
  static_cast<MachineBus *>(UserData)->PortOut(static_cast<std::uint16_t>(Port), Size, Value);
}

std::uint32_t PortInHook(uc_engine *, std::uint32_t Port, int Size, void *UserData) {
  return static_cast<MachineBus *>(UserData)->PortIn(static_cast<std::uint16_t>(Port), Size);
}

// Pages outside RAM reach the bus through MMIO callbacks; UserData names the page.
std::uint64_t MmioRead(uc_engine *, std::uint64_t Offset, unsigned Size, void *UserData) {
  const auto *Page = static_cast<const Ia32Machine::MmioPage *>(UserData);
  return Page->Bus->Load(Page->Base + static_cast<std::uint32_t>(Offset), static_cast<int>(Size));
}

void MmioWrite(uc_engine *, std::uint64_t Offset, unsigned Size, std::uint64_t Value, void *UserData) {
  const auto *Page = static_cast<const Ia32Machine::MmioPage *>(UserData);
  Page->Bus->Store(Page->Base + static_cast<std::uint32_t>(Offset), static_cast<int>(Size),
                   static_cast<std::uint32_t>(Value));
}

}  // namespace

Ia32Machine::Ia32Machine(MachineBus &Bus) : Bus_(Bus) {
  Check(uc_open(UC_ARCH_X86, UC_MODE_32, &Uc_), "uc_open");
  uc_hook Hook;
  Check(uc_hook_add(Uc_, &Hook, UC_HOOK_MEM_UNMAPPED, reinterpret_cast<void *>(UnmappedHook), this, 1, 0),
        "unmapped hook");
  Check(uc_hook_add(Uc_, &Hook, UC_HOOK_INSN, reinterpret_cast<void *>(PortOutHook), &Bus_, 1, 0, UC_X86_INS_OUT),
        "out hook");
  Check(uc_hook_add(Uc_, &Hook, UC_HOOK_INSN, reinterpret_cast<void *>(PortInHook), &Bus_, 1, 0, UC_X86_INS_IN),
        "in hook");
}

Ia32Machine::~Ia32Machine() { uc_close(Uc_); }

void Ia32Machine::MapRam(std::uint32_t Base, std::uint32_t Size) {
  Check(uc_mem_map(Uc_, Base, (Size + kPage - 1) & ~(kPage - 1), UC_PROT_ALL), "map RAM");
}

void Ia32Machine::Write(std::uint32_t Address, const void *Bytes, std::size_t Size) {
  Check(uc_mem_write(Uc_, Address, Bytes, Size), "memory write");
}

void Ia32Machine::Read(std::uint32_t Address, void *Bytes, std::size_t Size) {
  Check(uc_mem_read(Uc_, Address, Bytes, Size), "memory read");
}

std::uint32_t Ia32Machine::Read32(std::uint32_t Address) {
  std::uint32_t Value = 0;
  Read(Address, &Value, 4);
  return Value;
}

void Ia32Machine::LoadImage(const PeImage &Image, const LinkMap &Map, std::uint32_t LoadBase) {
  const std::vector<std::uint8_t> Memory = LayOutImage(Image, LoadBase);
  Write(LoadBase, Memory.data(), Memory.size());
  ImageBase_ = LoadBase;
  ImageSize_ = static_cast<std::uint32_t>(Memory.size());
  Map_ = Map;
  SinkAddress_ = SymbolAddress("_SerialWrite");
  HaltBegin_ = SymbolAddress("_HaltProcessor");
  HaltEnd_ = LoadBase + Map.NextAfter(HaltBegin_ - LoadBase).value_or(ImageSize_);
  uc_hook Hook;
  Check(uc_hook_add(Uc_, &Hook, UC_HOOK_CODE, reinterpret_cast<void *>(CodeHook), this, LoadBase,
                    LoadBase + ImageSize_ - 1),
        "code hook");
}

std::uint32_t Ia32Machine::SymbolAddress(const std::string &Name) const {
  const auto Rva = Map_.Rva(Name);
  if (!Rva) {
    throw std::runtime_error("symbol " + Name + " is not in the link map");
  }
  return ImageBase_ + *Rva;
}

void Ia32Machine::AddService(std::uint32_t Address, std::function<std::uint32_t(std::uint32_t)> Handler) {
  const std::uint8_t Ret = 0xC3;
  Write(Address, &Ret, 1);
  Services_[Address] = std::move(Handler);
  uc_hook Hook;
  Check(uc_hook_add(Uc_, &Hook, UC_HOOK_CODE, reinterpret_cast<void *>(CodeHook), this, Address, Address),
        "service hook");
}

void Ia32Machine::SetRegisterArguments(std::uint32_t Ecx, std::uint32_t Edx) {
  uc_reg_write(Uc_, UC_X86_REG_ECX, &Ecx);
  uc_reg_write(Uc_, UC_X86_REG_EDX, &Edx);
}

void Ia32Machine::Fail(std::string Why) {
  if (Fault_.empty()) {
    Fault_ = std::move(Why);
  }
  uc_emu_stop(Uc_);
}

std::string Ia32Machine::NearestSymbol(std::uint32_t Address) const {
  char Text[32];
  std::snprintf(Text, sizeof Text, "0x%08X", Address);
  const auto Symbol = Map_.SymbolAt(Address - ImageBase_);
  if (!Symbol || Address - ImageBase_ >= ImageSize_) {
    return Text;
  }
  char Offset[24];
  std::snprintf(Offset, sizeof Offset, "+0x%X", Address - ImageBase_ - Symbol->second);
  return std::string(Text) + " (" + RoutineName(Symbol->first) + Offset + ")";
}

void Ia32Machine::OnCode(std::uint32_t Address) {
  std::uint32_t Esp = 0;
  uc_reg_read(Uc_, UC_X86_REG_ESP, &Esp);
  MinEsp_ = std::min(MinEsp_, Esp);

  auto Service = Services_.find(Address);
  if (Service != Services_.end()) {
    std::uint32_t Eax = 0, Return = 0;
    try {
      Eax = Service->second(Esp);
      Return = Read32(Esp);
    } catch (const std::exception &Error) {
      Fail(std::string("a service was called with a bad pointer: ") + Error.what());
      return;
    }
    const std::uint32_t NewEsp = Esp + 4;
    uc_reg_write(Uc_, UC_X86_REG_EAX, &Eax);
    uc_reg_write(Uc_, UC_X86_REG_ESP, &NewEsp);
    uc_reg_write(Uc_, UC_X86_REG_EIP, &Return);
    return;
  }

  Instructions_++;
  if (Coverage_ != nullptr && Address - ImageBase_ < ImageSize_) {
    const std::uint32_t Rva = Address - ImageBase_;
    Coverage_->Executed[Rva]++;
    if (LastRvaKnown_) {
      Coverage_->Steps[{LastRva_, Rva}]++;
    }
    LastRva_ = Rva;
    LastRvaKnown_ = true;
  }
  if (Address == SinkAddress_) {
    std::uint32_t Frame[3] = {};
    std::string Bytes;
    if (uc_mem_read(Uc_, Esp, Frame, sizeof Frame) == UC_ERR_OK && Frame[2] <= 0x10000) {
      Bytes.resize(Frame[2]);
    }
    if (Frame[2] > 0x10000 || uc_mem_read(Uc_, Frame[1], Bytes.data(), Bytes.size()) != UC_ERR_OK) {
      char Text[96];
      std::snprintf(Text, sizeof Text, "SerialWrite was given a bad buffer (0x%08X, %u bytes)", Frame[1], Frame[2]);
      Fail(Text);
      return;
    }
    Bus_.Sink(Bytes);
  }
  InHalt_ = Address >= HaltBegin_ && Address < HaltEnd_;
  if (Address == HaltBegin_) {
    HaltWordKnown_ = false;
    HaltUnasked_ = true;
    HaltSpinLeft_ = HaltSpin_;
  }
  if (InHalt_ && HaltUnasked_ && HaltSpinLeft_ > 0) {
    HaltSpinLeft_--;
  } else if (InHalt_ && HaltUnasked_) {
    HaltUnasked_ = false;
    if (Bus_.Halt()) {
      ReleasePending_ = true;
    } else {
      Halted_ = true;
      uc_emu_stop(Uc_);
    }
  } else if (InHalt_ && ReleasePending_ && HaltWordKnown_) {
    // The loop has set its word to 0: end the halt as a debugger would.
    const std::uint32_t One = 1;
    Write(HaltWord_, &One, 4);
    ReleasePending_ = false;
  }
}

void Ia32Machine::OnStackWrite(std::uint32_t Address, int Size, std::uint64_t Value) {
  if (InHalt_ && Size == 4 && Value == 0) {
    HaltWord_ = Address;
    HaltWordKnown_ = true;
  }
}

bool Ia32Machine::OnUnmapped(std::uint32_t Address, bool Fetch) {
  char Where[16];
  std::snprintf(Where, sizeof Where, "0x%08X", Address);
  if (Fetch) {
    Fault_ = Fault_.empty() ? std::string("instruction fetch from unmapped address ") + Where : Fault_;
    return false;
  }
  if (MmioPages_.size() >= kMaxMmioPages) {
    Fault_ = Fault_.empty() ? "more than " + std::to_string(kMaxMmioPages) + " pages outside RAM touched (the last at " +
                                  Where + ")"
                            : Fault_;
    return false;
  }
  const std::uint32_t Page = Address & ~(kPage - 1);
  MmioPages_.push_back(MmioPage{&Bus_, Page});
  return uc_mmio_map(Uc_, Page, kPage, MmioRead, &MmioPages_.back(), MmioWrite, &MmioPages_.back()) == UC_ERR_OK;
}

CallOutcome Ia32Machine::Call(std::uint32_t Function, const std::vector<std::uint32_t> &Args, std::uint32_t StackTop,
                              std::uint32_t ReturnAddress) {
  std::uint32_t Esp = StackTop;
  for (auto Arg = Args.rbegin(); Arg != Args.rend(); ++Arg) {
    Esp -= 4;
    Write32(Esp, *Arg);
  }
  Esp -= 4;
  Write32(Esp, ReturnAddress);
  const std::uint32_t EntryEsp = Esp;
  uc_reg_write(Uc_, UC_X86_REG_ESP, &Esp);
  Instructions_ = 0;
  MinEsp_ = EntryEsp;
  Halted_ = ReleasePending_ = HaltWordKnown_ = InHalt_ = HaltUnasked_ = false;
  Fault_.clear();
  LastRvaKnown_ = false;

  uc_hook StackHook;
  Check(uc_hook_add(Uc_, &StackHook, UC_HOOK_MEM_WRITE, reinterpret_cast<void *>(StackWriteHook), this,
                    StackTop - 0x100000, StackTop),
        "stack hook");
  const uc_err Status = uc_emu_start(Uc_, Function, ReturnAddress, 0, InstructionLimit_);
  uc_hook_del(Uc_, StackHook);

  CallOutcome Outcome;
  Outcome.Instructions = Instructions_;
  Outcome.StackBytes = EntryEsp - MinEsp_;
  std::uint32_t Eip = 0;
  uc_reg_read(Uc_, UC_X86_REG_EIP, &Eip);
  uc_reg_read(Uc_, UC_X86_REG_EAX, &Outcome.Eax);
  if (Halted_ && Fault_.empty()) {
    Outcome.How = CallOutcome::End::Halted;
  } else if (Status == UC_ERR_OK && Eip == ReturnAddress && Fault_.empty()) {
    Outcome.How = CallOutcome::End::Returned;
  } else if (!Fault_.empty()) {
    Outcome.Error = Fault_ + " at " + NearestSymbol(Eip);
  } else if (Status != UC_ERR_OK) {
    Outcome.Error = std::string(uc_strerror(Status)) + " at " + NearestSymbol(Eip);
  } else {
    Outcome.Error = "instruction limit of " + std::to_string(InstructionLimit_) + " reached at " + NearestSymbol(Eip);
  }
  return Outcome;
}
