// The gdb socket pei-sim offers: it passes gdb's remote protocol through to
// QEMU's own stub, so pei-sim sees the session end. When gdb goes (quit,
// detach, killed), the run may still finish by itself (after a detach QEMU
// runs on); a QEMU that does not is ended, instead of waiting, stopped, for
// the time limit.
#ifndef QEMU_RUNNER_GDB_RELAY_H_
#define QEMU_RUNNER_GDB_RELAY_H_

#include <string>

class GdbRelay {
 public:
  GdbRelay() = default;
  GdbRelay(const GdbRelay &) = delete;
  GdbRelay &operator=(const GdbRelay &) = delete;
  ~GdbRelay();

  // Listens on ListenPath; connections go on to QemuPath once QEMU has made it.
  bool Listen(const std::string &ListenPath, const std::string &QemuPath, std::string &Error);

  // Takes a waiting connection and passes bytes both ways, waiting at most
  // TimeoutMs for something to happen.
  void Pump(int TimeoutMs);

  // A gdb connected and has gone again.
  bool SessionEnded() const { return Ended; }

 private:
  void CloseSession();

  std::string QemuPath;
  int Listener = -1, Gdb = -1, Qemu = -1;
  bool Ended = false;
};

#endif  // QEMU_RUNNER_GDB_RELAY_H_
