#include "RenderHelpers.h"

#include "HostPlatform.h"

namespace {
constexpr std::size_t kGuard = 64;
constexpr char kGuardByte = static_cast<char>(0xA5);
}  // namespace

Rendered RenderArgs(UINTN BufferSize, const char *Format, const std::vector<PRINT_ARG> &Args) {
  std::vector<char> Memory(BufferSize + 2 * kGuard, kGuardByte);
  char *Buffer = Memory.data() + kGuard;
  PRINT_ARG_LIST Cursor{Args.data(), Args.data() + Args.size()};
  DiagnosticsCapture Capture(HostPlatform::HaltAction::Stop);
  ScopedHostPlatform Installed(Capture);
  Rendered Result;
  UINTN Count = 0;
  Result.Halted = !RunStoppableAtHalt([&] { Count = FormatToBuffer(Buffer, BufferSize, Format, &Cursor); });
  Result.Sink = Capture.Sink;
  Result.Count = Count;
  bool Clean = true;
  for (std::size_t Index = 0; Index < kGuard; Index++) {
    Clean = Clean && Memory[Index] == kGuardByte && Memory[kGuard + BufferSize + Index] == kGuardByte;
  }
  if (BufferSize == 0) {
    Clean = Clean && Memory[kGuard] == kGuardByte;
  } else if (!Result.Halted) {
    Clean = Clean && Count < BufferSize && Buffer[Count] == 0;
  }
  Result.Clean = Clean;
  if (!Result.Halted) {
    Result.Text.assign(Buffer, Count);
  }
  return Result;
}
