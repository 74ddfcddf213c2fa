#include "Subprocess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

extern char **environ;

namespace {

// A child that ends before it has read all its input makes the write raise
// SIGPIPE: held back while the child runs, and taken away after.
struct HeldPipeSignal {
  sigset_t Old, Pipe;
  HeldPipeSignal() {
    sigemptyset(&Pipe);
    sigaddset(&Pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &Pipe, &Old);
  }
  ~HeldPipeSignal() {
    sigset_t Pending;
    sigpending(&Pending);
    if (sigismember(&Pending, SIGPIPE) == 1 && sigismember(&Old, SIGPIPE) == 0) {
      const timespec Now{0, 0};
      sigtimedwait(&Pipe, nullptr, &Now);
    }
    pthread_sigmask(SIG_SETMASK, &Old, nullptr);
  }
};

void CloseAll(int (&Fds)[6]) {
  for (int &Fd : Fds) {
    if (Fd >= 0) {
      close(Fd);
      Fd = -1;
    }
  }
}

}  // namespace

std::string FindProgram(const std::vector<std::string> &Names) {
  const char *Path = std::getenv("PATH");
  const std::string Folders = Path != nullptr ? Path : "/usr/bin:/bin";
  for (const std::string &Name : Names) {
    for (std::size_t At = 0; At <= Folders.size();) {
      const std::size_t End = std::min(Folders.find(':', At), Folders.size());
      const std::string Candidate = Folders.substr(At, End - At) + "/" + Name;
      if (End > At && access(Candidate.c_str(), X_OK) == 0) {
        return Candidate;
      }
      At = End + 1;
    }
  }
  return "";
}

bool RunProgram(const std::vector<std::string> &Args, const std::string &Input, ProgramRun &Run, std::string &Error,
                unsigned Seconds, std::size_t MaxOutput) {
  Run = ProgramRun{};
  const HeldPipeSignal Held;
  // In, Out and Err pipes: the child's end, then ours.
  int Fds[6] = {-1, -1, -1, -1, -1, -1};
  if (pipe2(Fds, O_CLOEXEC) != 0 || pipe2(Fds + 2, O_CLOEXEC) != 0 || pipe2(Fds + 4, O_CLOEXEC) != 0) {
    Error = std::string("cannot make pipes: ") + std::strerror(errno);
    CloseAll(Fds);
    return false;
  }
  posix_spawn_file_actions_t Actions;
  posix_spawn_file_actions_init(&Actions);
  posix_spawn_file_actions_adddup2(&Actions, Fds[0], 0);
  posix_spawn_file_actions_adddup2(&Actions, Fds[3], 1);
  posix_spawn_file_actions_adddup2(&Actions, Fds[5], 2);
  std::vector<std::string> Words = Args;
  std::vector<char *> Argv;
  for (std::string &Word : Words) {
    Argv.push_back(Word.data());
  }
  Argv.push_back(nullptr);
  pid_t Child = 0;
  const int Spawned = posix_spawnp(&Child, Argv[0], &Actions, nullptr, Argv.data(), environ);
  posix_spawn_file_actions_destroy(&Actions);
  for (const int Index : {0, 3, 5}) {
    close(Fds[Index]);
    Fds[Index] = -1;
  }
  if (Spawned != 0) {
    Error = "cannot start " + Args[0] + ": " + std::strerror(Spawned);
    CloseAll(Fds);
    return false;
  }
  for (const int Index : {1, 2, 4}) {
    fcntl(Fds[Index], F_SETFL, O_NONBLOCK);
  }
  std::size_t Written = 0;
  if (Input.empty()) {
    close(Fds[1]);
    Fds[1] = -1;
  }
  const auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(Seconds);
  bool Failed = false;
  while (Fds[2] >= 0 || Fds[4] >= 0) {
    if (std::chrono::steady_clock::now() > Deadline) {
      Error = Args[0] + " ran past " + std::to_string(Seconds) + " s";
      Failed = true;
      break;
    }
    pollfd Waits[3] = {{Fds[1], POLLOUT, 0}, {Fds[2], POLLIN, 0}, {Fds[4], POLLIN, 0}};
    if (poll(Waits, 3, 100) < 0 && errno != EINTR) {
      Error = std::string("poll: ") + std::strerror(errno);
      Failed = true;
      break;
    }
    if (Fds[1] >= 0 && (Waits[0].revents & (POLLOUT | POLLERR | POLLHUP)) != 0) {
      const ssize_t Put = write(Fds[1], Input.data() + Written, Input.size() - Written);
      Written += Put > 0 ? static_cast<std::size_t>(Put) : 0;
      if (Written == Input.size() || (Put < 0 && errno != EAGAIN && errno != EINTR)) {
        close(Fds[1]);
        Fds[1] = -1;
      }
    }
    for (const auto &[Index, Into] : {std::pair{2, &Run.Out}, std::pair{4, &Run.Err}}) {
      if (Fds[Index] < 0 || (Waits[Index / 2].revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
        continue;
      }
      char Buffer[65536];
      const ssize_t Got = read(Fds[Index], Buffer, sizeof Buffer);
      if (Got > 0) {
        Into->append(Buffer, static_cast<std::size_t>(Got));
      } else if (Got == 0 || (errno != EAGAIN && errno != EINTR)) {
        close(Fds[Index]);
        Fds[Index] = -1;
      }
    }
    if (Run.Out.size() + Run.Err.size() > MaxOutput) {
      Error = Args[0] + " wrote more than " + std::to_string(MaxOutput) + " bytes";
      Failed = true;
      break;
    }
  }
  CloseAll(Fds);
  if (Failed) {
    kill(Child, SIGKILL);
  }
  int Status = 0;
  while (waitpid(Child, &Status, 0) < 0 && errno == EINTR) {
  }
  Run.Exit = WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
  return !Failed;
}
