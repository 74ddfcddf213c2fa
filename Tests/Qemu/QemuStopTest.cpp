// pei-sim qemu --gdb ended by a signal, as a user's Ctrl-C or a killed job
// ends it: QEMU, waiting for a debugger, must go with it, and so must the
// temporary folder.
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "Scratch.h"

extern char **environ;

namespace {

// The processes whose command line mentions Text.
std::vector<pid_t> ProcessesMentioning(const std::string &Text) {
  std::vector<pid_t> Found;
  for (const auto &Entry : std::filesystem::directory_iterator("/proc")) {
    const std::string Name = Entry.path().filename();
    if (Name.find_first_not_of("0123456789") != std::string::npos) {
      continue;
    }
    std::ifstream In(Entry.path() / "cmdline", std::ios::binary);
    const std::string CommandLine((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
    if (CommandLine.find(Text) != std::string::npos) {
      Found.push_back(static_cast<pid_t>(std::stoi(Name)));
    }
  }
  return Found;
}

// Starts pei-sim qemu --gdb with its temporary folder under Temporary, and
// reads its output until it says QEMU waits (at most 20 s).
pid_t StartGdbRun(const std::string &Temporary, std::string &Out) {
  int Pipe[2];
  if (pipe(Pipe) != 0) {
    return -1;
  }
  posix_spawn_file_actions_t Actions;
  posix_spawn_file_actions_init(&Actions);
  posix_spawn_file_actions_adddup2(&Actions, Pipe[1], 1);
  posix_spawn_file_actions_addclose(&Actions, Pipe[0]);
  std::vector<std::string> Words = {PEI_SIM_PATH, "qemu", "--gdb", "--image", MODULE_IMAGE};
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
  pid_t Child = -1;
  posix_spawn(&Child, Argv[0], &Actions, nullptr, Argv.data(), Envp.data());
  posix_spawn_file_actions_destroy(&Actions);
  close(Pipe[1]);
  const auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (Out.find("Module routines in flash") == std::string::npos &&
         std::chrono::steady_clock::now() < Deadline) {
    pollfd Wait{Pipe[0], POLLIN, 0};
    if (poll(&Wait, 1, 200) > 0) {
      char Buffer[4096];
      const ssize_t Got = read(Pipe[0], Buffer, sizeof Buffer);
      if (Got <= 0) {
        break;
      }
      Out.append(Buffer, static_cast<std::size_t>(Got));
    }
  }
  close(Pipe[0]);
  return Child;
}

TEST(QemuStop, ASignalEndsQemuAndRemovesTheFolder) {
  for (const int Signal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(Signal);
    const std::string Temporary = ScratchPath("stop-" + std::to_string(Signal));
    std::filesystem::create_directory(Temporary);
    std::string Out;
    const pid_t Child = StartGdbRun(Temporary, Out);
    ASSERT_GT(Child, 0);
    // The attach commands arrive at once through a pipe, not at exit.
    ASSERT_NE(Out.find("target remote " + Temporary + "/pei-sim-qemu-"), std::string::npos) << Out;
    // QEMU, once its process has become QEMU (the spawn may still be on its way).
    const auto Started = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (ProcessesMentioning(Temporary + "/pei-sim-qemu-").empty() && std::chrono::steady_clock::now() < Started) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_FALSE(ProcessesMentioning(Temporary + "/pei-sim-qemu-").empty());
    kill(Child, Signal);
    int Status = 0;
    const auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (waitpid(Child, &Status, WNOHANG) == 0 && std::chrono::steady_clock::now() < Deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (std::chrono::steady_clock::now() >= Deadline) {
      kill(Child, SIGKILL);
      waitpid(Child, &Status, 0);
      FAIL() << "pei-sim did not end on the signal";
    }
    EXPECT_TRUE(WIFSIGNALED(Status) && WTERMSIG(Status) == Signal) << Status;
    EXPECT_TRUE(ProcessesMentioning(Temporary + "/pei-sim-qemu-").empty());
    EXPECT_TRUE(std::filesystem::is_empty(Temporary));
  }
}

}  // namespace
