// Host side of the platform layer. The module's accesses, its sink and its
// halts are forwarded to one installed HostPlatform (a virtual board, a test
// or a tool). With none installed the firmware defaults hold: loads read all
// ones, stores and port writes go nowhere, the sink discards, a halt spins.
#ifndef PLATFORM_HOST_HOST_PLATFORM_H_
#define PLATFORM_HOST_HOST_PLATFORM_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Base.h"

class HostPlatform {
 public:
  enum class HaltAction {
    Spin,     // firmware behaviour: never returns
    Release,  // act as a debugger that ends the halt; execution goes on after the check
    Stop,     // end the run at the halt (see RunStoppableAtHalt)
  };

  virtual ~HostPlatform() = default;
  virtual void PortOut32(UINT16 Port, UINT32 Value);
  virtual void PortOut8(UINT16 Port, UINT8 Value);
  virtual UINT8 Load8(UINTN Address);
  virtual UINT32 Load32(UINTN Address);
  virtual void Store32(UINTN Address, UINT32 Value);
  virtual void SinkWrite(std::string_view Bytes);
  virtual HaltAction OnHalt();
  // Where the halt loop's word lies, told before OnHalt: a platform that
  // answers Spin may end the loop later by writing it, as a debugger would.
  virtual void HaltWordAt(volatile UINT32 *Word);
  virtual UINT32 DebugPrintLevel(UINT32 BuiltLevel);
};

// Installs Platform for the module's accesses (nullptr: the defaults); returns
// the one installed before.
HostPlatform *InstallHostPlatform(HostPlatform *Platform);

// Installs a platform for the lifetime of the guard.
class ScopedHostPlatform {
 public:
  explicit ScopedHostPlatform(HostPlatform &Platform) : Previous_(InstallHostPlatform(&Platform)) {}
  ~ScopedHostPlatform() { InstallHostPlatform(Previous_); }
  ScopedHostPlatform(const ScopedHostPlatform &) = delete;
  ScopedHostPlatform &operator=(const ScopedHostPlatform &) = delete;

 private:
  HostPlatform *Previous_;
};

// Runs Body(Context). A halt answered with HaltAction::Stop jumps back here
// and the result is false; true when Body returned. The frames left behind by
// the jump are the module's, which own nothing; Body itself must not hold
// objects with destructors across module calls.
bool RunStoppableAtHalt(void (*Body)(void *Context), void *Context);

template <class FUNCTION> bool RunStoppableAtHalt(FUNCTION &&Body) {
  auto *Callable = &Body;
  using CALLABLE = decltype(Callable);
  return RunStoppableAtHalt([](void *Context) { (**static_cast<CALLABLE *>(Context))(); },
                            static_cast<void *>(&Callable));
}

// A platform for tests and tools that only watch the diagnostics: it keeps
// every sink write, counts halts and answers them with Action.
class DiagnosticsCapture : public HostPlatform {
 public:
  explicit DiagnosticsCapture(HaltAction OnHaltAction = HaltAction::Stop) : Action(OnHaltAction) {}
  void SinkWrite(std::string_view Bytes) override { Sink.emplace_back(Bytes); }
  HaltAction OnHalt() override {
    ++Halts;
    return Action;
  }
  UINT32 DebugPrintLevel(UINT32 BuiltLevel) override { return Level.value_or(BuiltLevel); }

  HaltAction Action;
  std::optional<UINT32> Level;
  std::vector<std::string> Sink;
  int Halts = 0;
};

#endif  // PLATFORM_HOST_HOST_PLATFORM_H_
