// The gdb socket pei-sim offers: it passes gdb's remote protocol through to
// QEMU's own stub, so pei-sim sees the session end. When gdb goes (quit,
// detach, killed), the run may still finish by itself (after a detach QEMU
// runs on); a QEMU that does not is ended, instead of waiting, stopped, for
// the time limit. Both sockets are non-blocking and each direction keeps what
// its reader has not taken yet: the relay never waits on a reader, so the
// time limit and the stop signals hold while gdb or QEMU does not read.
#ifndef QEMU_RUNNER_GDB_RELAY_H_
#define QEMU_RUNNER_GDB_RELAY_H_

#include <string>

class GdbRelay {
 public:
  GdbRelay() = default;
  GdbRelay(const GdbRelay &) = delete;
  GdbRelay &operator=(const GdbRelay &) = delete;
  ~GdbRelay();  // closes every socket and removes the one it listened on

  // Listens on ListenPath (a socket left there by an earlier run is removed
  // first; any other file is refused); connections go on to QemuPath once
  // QEMU has made it.
  bool Listen(const std::string &ListenPath, const std::string &QemuPath, std::string &Error);

  // Takes a waiting connection and passes bytes both ways, waiting at most
  // TimeoutMs for something to happen.
  void Pump(int TimeoutMs);

  // A gdb connected and has gone again.
  bool SessionEnded() const { return Ended; }
  // A gdb has connected.
  bool SessionStarted() const { return Started; }

  // How many bytes a direction may hold back before it stops reading its
  // source (gdb's packets are small; a QEMU reply is at most a few KiB).
  static constexpr std::size_t kMaxPending = 1u << 20;

 private:
  void CloseSession();
  // Moves what From has (when Readable) into Pending and what Pending holds
  // to To, as far as To takes it now; false when either side has gone.
  bool Move(int From, int To, std::string &Pending, bool Readable);

  std::string ListenPath, QemuPath;
  int Listener = -1, Gdb = -1, Qemu = -1;
  std::string ToQemu, ToGdb;
  bool Started = false, Ended = false;
};

// A socket file a run made earlier at Path is removed; false, with Error
// set, when something else is there.
bool ClearSocketPath(const std::string &Path, std::string &Error);

#endif  // QEMU_RUNNER_GDB_RELAY_H_
