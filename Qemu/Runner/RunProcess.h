// What a QEMU run owns while it lasts: the stop signals (taken before
// anything is made, so that no SIGINT, SIGTERM, SIGHUP or SIGPIPE leaves a
// file or a process behind), its folder, and QEMU's process with its wait.
#ifndef QEMU_RUNNER_RUN_PROCESS_H_
#define QEMU_RUNNER_RUN_PROCESS_H_

#include <sys/types.h>

#include <string>
#include <vector>

class GdbRelay;

// Notes SIGINT, SIGTERM, SIGHUP and SIGPIPE (the reader of our output went
// away) while it lives instead of acting on them, and gives the earlier
// handlers back when it goes; the run ends QEMU and removes its folder, and
// the caller then passes the signal on.
class StopSignals {
 public:
  StopSignals();
  ~StopSignals();
  StopSignals(const StopSignals &) = delete;
  StopSignals &operator=(const StopSignals &) = delete;
  int Caught() const;  // the last signal noted, or 0
  static const char *Name(int Signal);
};

// The run's folder: a new one under TMPDIR (removed with all in it when this
// goes), or the one the user asked to keep (made when missing, left after).
class RunFolder {
 public:
  RunFolder() = default;
  ~RunFolder();
  RunFolder(const RunFolder &) = delete;
  RunFolder &operator=(const RunFolder &) = delete;
  bool Make(const std::string &Keep, std::string &Error);
  const std::string &Path() const { return Folder; }
  std::string File(const std::string &Name) const { return Folder + "/" + Name; }

 private:
  std::string Folder;
  bool Temporary = false;
};

// QEMU (or any program) started with Args, its input /dev/null and its
// output and errors into LogPath.
bool StartProcess(const std::vector<std::string> &Args, const std::string &LogPath, pid_t &Child, std::string &Error);

enum class WaitEnd { Exited, TimedOut, SessionOver, Stopped };

// Waits for Child: until it exits, the time limit passes, a stop signal
// comes, or (with Relay) the gdb session ended and left it stopped for 3 s.
// Every way but the first kills it. Status: its wait status.
WaitEnd WaitForProcess(pid_t Child, unsigned TimeLimitSeconds, const StopSignals &Stops, GdbRelay *Relay, int &Status);

#endif  // QEMU_RUNNER_RUN_PROCESS_H_
