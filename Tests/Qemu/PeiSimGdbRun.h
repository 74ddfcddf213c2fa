// pei-sim qemu --gdb as a test drives it: started with its temporary folder
// under a folder of the test's, its output read through a pipe as it comes.
#ifndef TESTS_QEMU_PEI_SIM_GDB_RUN_H_
#define TESTS_QEMU_PEI_SIM_GDB_RUN_H_

#include <sys/types.h>

#include <string>
#include <vector>

// The processes whose command line mentions Text.
std::vector<pid_t> ProcessesMentioning(const std::string &Text);

class PeiSimGdbRun {
 public:
  PeiSimGdbRun() = default;
  PeiSimGdbRun(const PeiSimGdbRun &) = delete;
  PeiSimGdbRun &operator=(const PeiSimGdbRun &) = delete;
  ~PeiSimGdbRun();  // a run still going is killed

  // Starts `pei-sim qemu --gdb Args...` with TMPDIR=Temporary and reads its
  // output until the routines' heading that follows the gdb command (20 s).
  bool Start(const std::vector<std::string> &Args, const std::string &Temporary);

  // Starts any command so, its standard input a pipe (Input), and reads its
  // output until Until appears (20 s).
  bool StartCommand(std::vector<std::string> Words, const std::string &Temporary, const std::string &Until);

  // Reads more output until Until appears (at most Seconds).
  bool ReadUntil(const std::string &Until, int Seconds);

  int Input = -1;  // the command's standard input (StartCommand)

  // The gdb command line it printed, or "".
  std::string GdbCommand() const;
  // Where it said RVA 0 of the module lies in flash.
  unsigned long ModuleBase() const;

  // Reads the rest of its output and waits for it (killed after Seconds);
  // returns its exit status, or -1 when a signal or the kill ended it.
  int Finish(int Seconds);

  pid_t Child = -1;
  std::string Out;

 private:
  // Takes what output there is within 200 ms; false at its end.
  bool ReadSome();

  int Pipe = -1;
};

// Runs gdb in batch mode: Command (as pei-sim printed it) with Extra appended.
std::string RunGdbBatch(const std::string &Command, const std::string &Extra);

#endif  // TESTS_QEMU_PEI_SIM_GDB_RUN_H_
