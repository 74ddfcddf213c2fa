#include "RunProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
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

extern char **environ;

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
  std::vector<std::string> Words = Args;
  std::vector<char *> Argv;
  for (std::string &Word : Words) {
    Argv.push_back(Word.data());
  }
  Argv.push_back(nullptr);
  posix_spawn_file_actions_t Actions;
  posix_spawn_file_actions_init(&Actions);
  posix_spawn_file_actions_addopen(&Actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&Actions, 1, LogPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&Actions, 1, 2);
  // The child starts with the default signal handling and none blocked.
  posix_spawnattr_t Attributes;
  posix_spawnattr_init(&Attributes);
  sigset_t Defaults, None;
  sigemptyset(&Defaults);
  sigemptyset(&None);
  for (const int Signal : kSignals) {
    sigaddset(&Defaults, Signal);
  }
  posix_spawnattr_setsigdefault(&Attributes, &Defaults);
  posix_spawnattr_setsigmask(&Attributes, &None);
  posix_spawnattr_setflags(&Attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  const int SpawnError = posix_spawnp(&Child, Argv[0], &Actions, &Attributes, Argv.data(), environ);
  posix_spawn_file_actions_destroy(&Actions);
  posix_spawnattr_destroy(&Attributes);
  if (SpawnError != 0) {
    Error = "cannot start " + Args[0] + ": " + std::strerror(SpawnError);
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
