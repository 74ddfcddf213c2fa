#include "PeiSimGdbRun.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "CommandRun.h"

extern char **environ;

std::vector<pid_t> ProcessesMentioning(const std::string &Text) {
  // A process may end between listing /proc and reading its command line:
  // every read here tolerates that, and none throws.
  std::vector<pid_t> Found;
  DIR *Proc = opendir("/proc");
  if (Proc == nullptr) {
    return Found;
  }
  while (const dirent *Entry = readdir(Proc)) {
    const std::string Name = Entry->d_name;
    if (Name.empty() || Name.find_first_not_of("0123456789") != std::string::npos) {
      continue;
    }
    const int Fd = open(("/proc/" + Name + "/cmdline").c_str(), O_RDONLY | O_CLOEXEC);
    if (Fd < 0) {
      continue;
    }
    std::string CommandLine;
    char Buffer[4096];
    for (ssize_t Got; (Got = read(Fd, Buffer, sizeof Buffer)) > 0;) {
      CommandLine.append(Buffer, static_cast<std::size_t>(Got));
    }
    close(Fd);
    if (CommandLine.find(Text) != std::string::npos) {
      Found.push_back(static_cast<pid_t>(std::strtol(Name.c_str(), nullptr, 10)));
    }
  }
  closedir(Proc);
  return Found;
}

PeiSimGdbRun::~PeiSimGdbRun() {
  if (Child > 0) {
    kill(Child, SIGKILL);
    waitpid(Child, nullptr, 0);
  }
  for (const int End : {Pipe, Input}) {
    if (End >= 0) {
      close(End);
    }
  }
}

bool PeiSimGdbRun::Start(const std::vector<std::string> &Args, const std::string &Temporary) {
  std::vector<std::string> Words = {PEI_SIM_PATH, "qemu", "--gdb"};
  Words.insert(Words.end(), Args.begin(), Args.end());
  return StartCommand(Words, Temporary, "Module routines in flash");
}

bool PeiSimGdbRun::StartCommand(std::vector<std::string> Words, const std::string &Temporary, const std::string &Until) {
  int Ends[2], In[2];
  if (pipe(Ends) != 0) {
    return false;
  }
  if (pipe(In) != 0) {
    close(Ends[0]);
    close(Ends[1]);
    return false;
  }
  posix_spawn_file_actions_t Actions;
  posix_spawn_file_actions_init(&Actions);
  posix_spawn_file_actions_adddup2(&Actions, In[0], 0);
  posix_spawn_file_actions_adddup2(&Actions, Ends[1], 1);
  posix_spawn_file_actions_adddup2(&Actions, Ends[1], 2);
  posix_spawn_file_actions_addclose(&Actions, Ends[0]);
  posix_spawn_file_actions_addclose(&Actions, In[1]);
  std::vector<char *> Argv;
  for (std::string &Word : Words) Argv.push_back(Word.data());
  Argv.push_back(nullptr);
  std::vector<std::string> Environment = {"TMPDIR=" + Temporary};
  for (char **At = environ; *At != nullptr; At++) {
    if (std::string(*At).rfind("TMPDIR=", 0) != 0) Environment.push_back(*At);
  }
  std::vector<char *> Envp;
  for (std::string &Each : Environment) Envp.push_back(Each.data());
  Envp.push_back(nullptr);
  const int Error = posix_spawnp(&Child, Argv[0], &Actions, nullptr, Argv.data(), Envp.data());
  posix_spawn_file_actions_destroy(&Actions);
  close(Ends[1]);
  close(In[0]);
  Pipe = Ends[0];
  Input = In[1];
  if (Error != 0) {
    Child = -1;
    return false;
  }
  return ReadUntil(Until, 20);
}

bool PeiSimGdbRun::ReadSome() {
  pollfd Wait{Pipe, POLLIN, 0};
  if (poll(&Wait, 1, 200) <= 0) {
    return true;
  }
  char Buffer[4096];
  const ssize_t Got = read(Pipe, Buffer, sizeof Buffer);
  if (Got <= 0) {
    return false;
  }
  Out.append(Buffer, static_cast<std::size_t>(Got));
  return true;
}

bool PeiSimGdbRun::ReadUntil(const std::string &Until, int Seconds) {
  const auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(Seconds);
  while (Out.find(Until) == std::string::npos && std::chrono::steady_clock::now() < Deadline && ReadSome()) {
  }
  return Out.find(Until) != std::string::npos;
}

std::string PeiSimGdbRun::GdbCommand() const {
  const std::size_t At = Out.find("\ngdb ");
  return At == std::string::npos ? "" : Out.substr(At + 1, Out.find('\n', At + 1) - At - 1);
}

unsigned long PeiSimGdbRun::ModuleBase() const {
  const std::size_t At = Out.find("(RVA 0 at 0x");
  return At == std::string::npos ? 0 : std::strtoul(Out.c_str() + At + 12, nullptr, 16);
}

int PeiSimGdbRun::Finish(int Seconds) {
  if (Input >= 0) {
    close(Input);
    Input = -1;
  }
  const auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(Seconds);
  while (ReadSome()) {  // to the end of its output
    if (std::chrono::steady_clock::now() > Deadline) {
      kill(Child, SIGKILL);
      break;
    }
  }
  int Status = 0;
  waitpid(Child, &Status, 0);
  Child = -1;
  return WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
}

std::string RunGdbBatch(const std::string &Command, const std::string &Extra) {
  std::string Batch = Command;
  Batch.replace(0, 6, "gdb -q -batch -nx ");  // "gdb -q": batch mode, no user's .gdbinit
  const CommandResult Result = RunCommandLine("sh", {"-c", "timeout 60 " + Batch + " " + Extra + " 2>&1"});
  return Result.Out;
}
