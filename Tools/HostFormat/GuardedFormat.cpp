#include "GuardedFormat.h"

#include "HostPlatform.h"

namespace {
constexpr std::size_t kGuard = 64;
constexpr char kGuardByte = static_cast<char>(0xA5);
}  // namespace

GuardedRun FormatGuarded(UINTN BufferSize, const CHAR8 *Format, const std::vector<PRINT_ARG> &Args) {
  std::vector<CHAR8> Memory(kGuard + BufferSize + kGuard, kGuardByte);
  CHAR8 *Buffer = Memory.data() + kGuard;
  PRINT_ARG_LIST Cursor{Args.data(), Args.data() + Args.size()};
  DiagnosticsCapture Capture(HostPlatform::HaltAction::Stop);
  GuardedRun Run;
  UINTN Count = 0;
  {
    ScopedHostPlatform Installed(Capture);
    Run.Halted = !RunStoppableAtHalt([&] { Count = FormatToBuffer(Buffer, BufferSize, Format, &Cursor); });
  }
  Run.Sink = Capture.Sink;
  Run.Clean = true;
  for (std::size_t Index = 0; Index < kGuard; Index++) {
    Run.Clean = Run.Clean && Memory[Index] == kGuardByte && Memory[kGuard + BufferSize + Index] == kGuardByte;
  }
  if (!Run.Halted) {
    Run.Count = Count;
    if (BufferSize == 0) {
      Run.Clean = Run.Clean && Count == 0;
    } else {
      Run.Clean = Run.Clean && Count < BufferSize && Buffer[Count] == 0;
      Run.Output.assign(Buffer, Count);
    }
  }
  return Run;
}
