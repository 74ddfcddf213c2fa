#include "GuardedFormat.h"

#include <cstring>
#include <memory>

#include "HostPlatform.h"

namespace {
constexpr std::size_t kGuard = 64;
constexpr char kGuardByte = static_cast<char>(0xA5);
}  // namespace

FIRMWARE_ROUTINES_BEGIN

FormatOutcome FormatGuarded(UINTN BufferSize, const CHAR8 *Format, const std::vector<PRINT_ARG> &Args) {
  std::vector<CHAR8> Memory(kGuard + BufferSize + kGuard, kGuardByte);
  CHAR8 *Buffer = Memory.data() + kGuard;
  PRINT_ARG_LIST Cursor{Args.data(), Args.data() + Args.size()};
  DiagnosticsCapture Capture(HostPlatform::HaltAction::Stop);
  FormatOutcome Run;
  UINTN Count = 0;
  {
    ScopedHostPlatform Installed(Capture);
    Run.Halted = !RunStoppableAtHalt([&] { Count = FormatToBuffer(Buffer, BufferSize, Format, &Cursor); });
  }
  Run.Sink = Capture.Sink;
  Run.BufferIntact = true;
  for (std::size_t Index = 0; Index < kGuard; Index++) {
    Run.BufferIntact =
        Run.BufferIntact && Memory[Index] == kGuardByte && Memory[kGuard + BufferSize + Index] == kGuardByte;
  }
  if (!Run.Halted) {
    Run.Count = Count;
    if (BufferSize == 0) {
      Run.BufferIntact = Run.BufferIntact && Count == 0;
    } else {
      Run.BufferIntact = Run.BufferIntact && Count < BufferSize && Buffer[Count] == 0;
      Run.Output.assign(Buffer, Count);
    }
  }
  return Run;
}

FormatOutcome FormatValues(UINTN BufferSize, const std::string &Format, const std::vector<FormatValue> &Args) {
  std::vector<std::unique_ptr<std::uint8_t[]>> Blocks;
  std::vector<PRINT_ARG> Records;
  for (const FormatValue &Arg : Args) {
    std::uint64_t Address = 0;
    if (Arg.Type == FormatValue::Kind::Bytes) {
      // An allocation of exactly the bytes (after the misalignment), so that
      // AddressSanitizer catches a read past them. new[] aligns to at least 8.
      Blocks.push_back(std::make_unique<std::uint8_t[]>(Arg.Misalign + Arg.Bytes.size()));
      std::uint8_t *At = Blocks.back().get() + Arg.Misalign;
      if (!Arg.Bytes.empty()) {
        std::memcpy(At, Arg.Bytes.data(), Arg.Bytes.size());
      }
      Address = reinterpret_cast<std::uintptr_t>(At);
    }
    Records.push_back(RecordFor(Arg, Address));
  }
  return FormatGuarded(BufferSize, Format.c_str(), Records);
}

FIRMWARE_ROUTINES_END
