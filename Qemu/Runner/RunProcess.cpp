#include "RunProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "GdbRelay.h"


namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};
constexpr int kSignalCount = sizeof kSignals / sizeof kSignals[0];
volatile sig_atomic_t gCaught = 0;
struct sigaction gOld[kSignalCount];

void Note(int Signal) { gCaught = Signal; }

}  // namespace

StopSignals::StopSignals() {
  gCaught = 0;
  struct sigaction Action {};
  Action.sa_handler = Note;
  sigemptyset(&Action.sa_mask);
  for (int Index = 0; Index < kSignalCount; Index++) {
    sigaction(kSignals[Index], &Action, &gOld[Index]);
  }
}

StopSignals::~StopSignals() {
  for (int Index = 0; Index < kSignalCount; Index++) {
    sigaction(kSignals[Index], &gOld[Index], nullptr);
  }
}

int StopSignals::Caught() const { return gCaught; }

const char *StopSignals::Name(int Signal) {
  return Signal == SIGINT ? "SIGINT" : Signal == SIGTERM ? "SIGTERM" : Signal == SIGHUP ? "SIGHUP" : "SIGPIPE";
}

RunFolder::~RunFolder() {
  if (Temporary) {
    std::error_code Ignored;
    std::filesystem::remove_all(Folder, Ignored);
  }
}

bool RunFolder::Make(const std::string &Keep, std::string &Error) {
  if (!Keep.empty()) {
    if (mkdir(Keep.c_str(), 0755) != 0 && errno != EEXIST) {
      Error = "cannot make folder " + Keep + ": " + std::strerror(errno);
      return false;
    }
    Folder = Keep;
    return true;
  }
  const char *Tmp = std::getenv("TMPDIR");
  std::string Template = std::string(Tmp != nullptr && *Tmp != 0 ? Tmp : "/tmp") + "/pei-sim-qemu-XXXXXX";
  if (mkdtemp(Template.data()) == nullptr) {
    Error = "cannot make a temporary folder " + Template + ": " + std::strerror(errno);
    return false;
  }
  Folder = Template;
  Temporary = true;
  return true;
}

bool StartProcess(const std::vector<std::string> &Args, const std::string &LogPath, pid_t &Child, std::string &Error) {
  // All the child needs is made before the fork: after it, it makes only
  // async-signal-safe calls.
  std::vector<std::string> Words = Args;
  std::vector<char *> Argv;
  for (std::string &Word : Words) {
    Argv.push_back(Word.data());
  }
  Argv.push_back(nullptr);
  const char *const Log = LogPath.c_str();
  const pid_t Parent = getpid();
  int Failed[2];  // the child's errno when it cannot start the program; closed by a successful exec
  if (pipe2(Failed, O_CLOEXEC) != 0) {
    Error = std::string("cannot start ") + Args[0] + ": " + std::strerror(errno);
    return false;
  }
  Child = fork();
  const int ForkError = errno;
  if (Child == 0) {
    // The default signal handling, none blocked, as the program expects.
    struct sigaction Default = {};
    Default.sa_handler = SIG_DFL;
    for (const int Signal : kSignals) {
      sigaction(Signal, &Default, nullptr);
    }
    sigset_t None;
    sigemptyset(&None);
    sigprocmask(SIG_SETMASK, &None, nullptr);
    // It goes with pei-sim even when pei-sim is killed outright (SIGKILL)
    // and could not end it: QEMU stopped for gdb would wait for ever.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    int Code = 0;
    if (getppid() != Parent) {
      _exit(127);  // pei-sim went before the line above took hold
    }
    const int In = open("/dev/null", O_RDONLY);
    const int Out = open(Log, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (In < 0 || Out < 0 || dup2(In, 0) < 0 || dup2(Out, 1) < 0 || dup2(Out, 2) < 0) {
      Code = errno;
    } else {
      execvp(Argv[0], Argv.data());
      Code = errno;
    }
    (void)!write(Failed[1], &Code, sizeof Code);
    _exit(127);
  }
  close(Failed[1]);
  int Code = 0;
  ssize_t Got;
  do {
    Got = Child < 0 ? 0 : read(Failed[0], &Code, sizeof Code);
  } while (Got < 0 && errno == EINTR);
  close(Failed[0]);
  if (Child < 0 || Got == sizeof Code) {
    if (Child > 0) {
      waitpid(Child, nullptr, 0);
    }
    Error = std::string("cannot start ") + Args[0] + ": " + std::strerror(Child < 0 ? ForkError : Code);
    return false;
  }
  return true;
}

WaitEnd WaitForProcess(pid_t Child, unsigned TimeLimitSeconds, const StopSignals &Stops, GdbRelay *Relay, int &Status) {
  const auto Start = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point SessionEnd{};
  for (;;) {
    if (waitpid(Child, &Status, WNOHANG) == Child) {
      return WaitEnd::Exited;
    }
    const auto Now = std::chrono::steady_clock::now();
    if (Relay != nullptr && Relay->SessionEnded() && SessionEnd == std::chrono::steady_clock::time_point{}) {
      SessionEnd = Now;
    }
    // Once gdb has gone, QEMU has a moment to finish by itself (it runs on
    // after a detach); one still stopped where gdb left it is ended. The
    // limit holds in gdb mode too: a QEMU waiting for a debugger that never
    // came is ended.
    const WaitEnd End = Stops.Caught() != 0                                     ? WaitEnd::Stopped
                        : Now - Start > std::chrono::seconds(TimeLimitSeconds) ? WaitEnd::TimedOut
                        : SessionEnd != std::chrono::steady_clock::time_point{} &&
                                Now - SessionEnd > std::chrono::seconds(3)
                            ? WaitEnd::SessionOver
                            : WaitEnd::Exited;
    if (End != WaitEnd::Exited) {
      kill(Child, SIGKILL);
      while (waitpid(Child, &Status, 0) < 0 && errno == EINTR) {
      }
      return End;
    }
    if (Relay != nullptr) {
      Relay->Pump(5);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
}
