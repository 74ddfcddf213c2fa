#include "HostPlatform.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>

#include "PlatformOps.h"

namespace {

HostPlatform gDefaultPlatform;
HostPlatform *gPlatform = &gDefaultPlatform;
std::jmp_buf *gHaltExit = nullptr;

}  // namespace

void HostPlatform::PortOut32(UINT16, UINT32) {}
void HostPlatform::PortOut8(UINT16, UINT8) {}
UINT8 HostPlatform::Load8(UINTN) { return 0xFF; }
UINT32 HostPlatform::Load32(UINTN) { return 0xFFFFFFFFu; }
void HostPlatform::Store32(UINTN, UINT32) {}
void HostPlatform::SinkWrite(std::string_view) {}
HostPlatform::HaltAction HostPlatform::OnHalt() { return HaltAction::Spin; }
void HostPlatform::HaltWordAt(volatile UINT32 *) {}
UINT32 HostPlatform::DebugPrintLevel(UINT32 BuiltLevel) { return BuiltLevel; }

HostPlatform *InstallHostPlatform(HostPlatform *Platform) {
  HostPlatform *Previous = gPlatform == &gDefaultPlatform ? nullptr : gPlatform;
  gPlatform = Platform != nullptr ? Platform : &gDefaultPlatform;
  return Previous;
}

bool RunStoppableAtHalt(void (*Body)(void *Context), void *Context) {
  std::jmp_buf Exit;
  std::jmp_buf *const Outer = gHaltExit;
  gHaltExit = &Exit;
  if (setjmp(Exit) != 0) {
    gHaltExit = Outer;
    return false;
  }
  Body(Context);
  gHaltExit = Outer;
  return true;
}

void PlatformPortOut32(UINT16 Port, UINT32 Value) { gPlatform->PortOut32(Port, Value); }
void PlatformPortOut8(UINT16 Port, UINT8 Value) { gPlatform->PortOut8(Port, Value); }
UINT8 PlatformLoad8(UINTN Address) { return gPlatform->Load8(Address); }
UINT32 PlatformLoad32(UINTN Address) { return gPlatform->Load32(Address); }
void PlatformStore32(UINTN Address, UINT32 Value) { gPlatform->Store32(Address, Value); }

void PlatformSinkObserve(const CHAR8 *Buffer, UINTN Length) {
  gPlatform->SinkWrite(std::string_view(Buffer, Length));
}

void PlatformHaltEntered(volatile UINT32 *HaltWord) {
  gPlatform->HaltWordAt(HaltWord);
  switch (gPlatform->OnHalt()) {
    case HostPlatform::HaltAction::Spin:
      return;
    case HostPlatform::HaltAction::Release:
      *HaltWord = 1;
      return;
    case HostPlatform::HaltAction::Stop:
      if (gHaltExit == nullptr) {
        std::fputs("halt with no RunStoppableAtHalt to stop at\n", stderr);
        std::abort();
      }
      std::longjmp(*gHaltExit, 1);
  }
}

UINT32 PlatformDebugPrintLevel(UINT32 BuiltLevel) { return gPlatform->DebugPrintLevel(BuiltLevel); }
