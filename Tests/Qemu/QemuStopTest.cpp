// pei-sim qemu --gdb ended by a signal (a user's Ctrl-C, a killed job), by
// the gdb session ending, or by its time limit: QEMU, waiting for a debugger
// or stopped by one, must go with it, and so must the temporary folder.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
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

#include "FileBytes.h"
#include "PeiSimGdbRun.h"
#include "Scratch.h"

namespace {

// The QEMU processes of a run in Temporary, once its process has become QEMU
// (the start may still be on its way): waited for up to 5 s.
std::vector<pid_t> QemuProcesses(const std::string &Temporary) {
  std::vector<pid_t> Qemu;
  const auto Started = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (Qemu.empty() && std::chrono::steady_clock::now() < Started) {
    Qemu = ProcessesMentioning(Temporary + "/pei-sim-qemu-");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return Qemu;
}

TEST(QemuStop, ASignalEndsQemuAndRemovesTheFolder) {
  // SIGPIPE: the reader of pei-sim's output went away.
  for (const int Signal : {SIGTERM, SIGINT, SIGHUP, SIGPIPE}) {
    SCOPED_TRACE(Signal);
    const std::string Temporary = ScratchPath("stop-" + std::to_string(Signal));
    std::filesystem::create_directory(Temporary);
    PeiSimGdbRun Run;
    ASSERT_TRUE(Run.Start({"--image", MODULE_IMAGE}, Temporary)) << Run.Out;
    const pid_t Child = Run.Child;
    const std::string &Out = Run.Out;
    // The attach commands arrive at once through a pipe, not at exit.
    ASSERT_NE(Out.find("target remote " + Temporary + "/pei-sim-qemu-"), std::string::npos) << Out;
    const std::vector<pid_t> Qemu = QemuProcesses(Temporary);
    EXPECT_FALSE(Qemu.empty());
    kill(Child, Signal);
    int Status = 0;
    const auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (waitpid(Child, &Status, WNOHANG) == 0 && std::chrono::steady_clock::now() < Deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (std::chrono::steady_clock::now() >= Deadline) {
      FAIL() << "pei-sim did not end on the signal";  // Run kills it
    }
    Run.Child = -1;
    EXPECT_TRUE(WIFSIGNALED(Status) && WTERMSIG(Status) == Signal) << Status;
    EXPECT_TRUE(ProcessesMentioning(Temporary + "/pei-sim-qemu-").empty());
    for (const pid_t Each : Qemu) {
      EXPECT_FALSE(std::filesystem::exists("/proc/" + std::to_string(Each))) << Each;
    }
    EXPECT_TRUE(std::filesystem::is_empty(Temporary));
  }
}

// pei-sim killed outright (SIGKILL: no handler runs) still takes QEMU with it,
// even a QEMU stopped for gdb that would otherwise wait for ever. Only the
// temporary folder stays, as after any SIGKILL; the test removes it.
TEST(QemuStop, QemuGoesWithAKilledPeiSim) {
  const std::string Temporary = ScratchPath("killed");
  std::filesystem::create_directory(Temporary);
  PeiSimGdbRun Run;
  ASSERT_TRUE(Run.Start({"--image", MODULE_IMAGE}, Temporary)) << Run.Out;
  ASSERT_FALSE(QemuProcesses(Temporary).empty());
  kill(Run.Child, SIGKILL);
  EXPECT_EQ(Run.Finish(10), -1);
  const auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!ProcessesMentioning(Temporary + "/pei-sim-qemu-").empty() && std::chrono::steady_clock::now() < Deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_TRUE(ProcessesMentioning(Temporary + "/pei-sim-qemu-").empty());
  std::filesystem::remove_all(Temporary);
}

// No QEMU is left and the temporary folder is gone.
void ExpectNothingLeft(const std::string &Temporary) {
  EXPECT_TRUE(ProcessesMentioning(Temporary + "/pei-sim-qemu-").empty());
  EXPECT_TRUE(std::filesystem::is_empty(Temporary));
}

// A signal at any moment of a run, the building of its ROM included: pei-sim
// ends by it and leaves nothing.
TEST(QemuStop, ASignalAtAnyMomentLeavesNothing) {
  for (const int DelayMs : {0, 2, 5, 10, 20, 40, 80}) {
    SCOPED_TRACE(DelayMs);
    const std::string Temporary = ScratchPath("early-" + std::to_string(DelayMs));
    std::filesystem::create_directory(Temporary);
    PeiSimGdbRun Run;
    ASSERT_TRUE(Run.StartCommand({PEI_SIM_PATH, "qemu", "--image", ARTIFACT_FFS}, Temporary, ""));
    std::this_thread::sleep_for(std::chrono::milliseconds(DelayMs));
    kill(Run.Child, SIGTERM);
    const int Exit = Run.Finish(20);
    EXPECT_TRUE(Exit == -1 || Exit == 0) << Exit << Run.Out;  // ended by the signal, or done before it came
    ExpectNothingLeft(Temporary);
  }
}

// pei-sim report --rom boots the ROM on QEMU after its emulator runs: a
// signal at any moment of it leaves nothing either.
TEST(QemuStop, ReportEndedBySignalLeavesNothing) {
  for (const int DelayMs : {0, 100, 400, 800, 1200}) {
    SCOPED_TRACE(DelayMs);
    const std::string Temporary = ScratchPath("report-" + std::to_string(DelayMs));
    std::filesystem::create_directory(Temporary);
    PeiSimGdbRun Run;
    ASSERT_TRUE(Run.StartCommand({PEI_SIM_PATH, "report", "--image", MODULE_IMAGE, "--debug-image", DEBUG_LEVEL_IMAGE,
                                  "--engine-image", ENGINE_IMAGE, "--rom", ARTIFACT_ROM},
                                 Temporary, ""));
    std::this_thread::sleep_for(std::chrono::milliseconds(DelayMs));
    kill(Run.Child, SIGTERM);
    const int Exit = Run.Finish(30);
    EXPECT_TRUE(Exit == -1 || Exit == 0) << Exit << Run.Out;
    ExpectNothingLeft(Temporary);
  }
}

// A kept folder is reused by the next run, gdb's sockets included. The
// routines are listed as gdb names them, or by their linked names when asked.
TEST(QemuStop, AKeptFolderServesTheNextGdbRun) {
  const std::string Temporary = ScratchPath("keep-gdb");
  const std::string Kept = ScratchPath("kept");
  std::filesystem::create_directory(Temporary);
  for (int Round = 0; Round < 2; Round++) {
    SCOPED_TRACE(Round);
    PeiSimGdbRun Run;
    std::vector<std::string> Args = {"--image", MODULE_IMAGE, "--keep", Kept, "--time-limit", "1"};
    if (Round == 1) {
      Args.push_back("--mangled-names");
    }
    ASSERT_TRUE(Run.Start(Args, Temporary)) << Run.Out;
    EXPECT_EQ(Run.Finish(20), 4);
    EXPECT_NE(Run.Out.find("time limit of 1 s reached"), std::string::npos) << Run.Out;
    EXPECT_EQ(Run.Out.find("cannot listen"), std::string::npos) << Run.Out;
    const std::string Listing = Run.Out.substr(Run.Out.find("Module routines in flash"));
    if (Round == 0) {
      EXPECT_NE(Listing.find("  FormatToBuffer\n"), std::string::npos) << Listing;
      EXPECT_NE(Listing.find("  (anonymous namespace)::WriteLineControl\n"), std::string::npos) << Listing;
      EXPECT_EQ(Listing.find("  ?"), std::string::npos) << Listing;
    } else {
      EXPECT_NE(Listing.find("  ?FormatToBuffer@@YAIPADIPBDPAUPRINT_ARG_LIST@@@Z\n"), std::string::npos) << Listing;
    }
  }
  EXPECT_TRUE(std::filesystem::exists(Kept + "/qemu-command.txt"));
  EXPECT_FALSE(std::filesystem::exists(Kept + "/gdb.sock"));
  ExpectNothingLeft(Temporary);
}

// make debug with a gdb that ends without ever connecting: pei-sim would wait
// for it to its ten-minute limit; make debug ends the run at once instead.
TEST(QemuStop, MakeDebugEndsPromptlyWhenGdbNeverConnects) {
  const std::string Temporary = ScratchPath("debug-no-gdb");
  const std::string Bin = ScratchPath("fake-gdb");
  std::filesystem::create_directories(Temporary);
  std::filesystem::create_directories(Bin);
  std::string Error;
  ASSERT_TRUE(WriteFileText(Bin + "/gdb", "#!/bin/sh\necho 'gdb: cannot start'\nexit 1\n", Error)) << Error;
  std::filesystem::permissions(Bin + "/gdb", std::filesystem::perms::owner_all);
  const auto Started = std::chrono::steady_clock::now();
  PeiSimGdbRun Run;
  ASSERT_TRUE(Run.StartCommand({"env", "PATH=" + Bin + ":" + std::getenv("PATH"), "bash", SOC_SOURCE_DIR "/scripts/debug.sh",
                                PEI_SIM_PATH, MODULE_IMAGE},
                               Temporary, "gdb: cannot start"))
      << Run.Out;
  EXPECT_EQ(Run.Finish(60), 4) << Run.Out;
  EXPECT_LT(std::chrono::steady_clock::now() - Started, std::chrono::seconds(20));
  EXPECT_NE(Run.Out.find("make debug: gdb ended without finishing the run; QEMU was ended"), std::string::npos) << Run.Out;
  ExpectNothingLeft(Temporary);
  EXPECT_TRUE(ProcessesMentioning(Temporary).empty());
}

// A gdb that connects and goes (killed, its terminal closed) leaves QEMU
// stopped: pei-sim ends it a few seconds later instead of at the time limit.
TEST(QemuStop, TheGdbSessionEndingEndsAStoppedQemu) {
  const std::string Temporary = ScratchPath("session-end");
  std::filesystem::create_directory(Temporary);
  PeiSimGdbRun Run;
  ASSERT_TRUE(Run.Start({"--image", MODULE_IMAGE, "--time-limit", "60"}, Temporary)) << Run.Out;
  const std::size_t At = Run.Out.find("target remote ");
  ASSERT_NE(At, std::string::npos) << Run.Out;
  const std::string Socket = Run.Out.substr(At + 14, Run.Out.find('\'', At) - At - 14);
  // gdb's first words, then gone without a detach or a kill.
  const int Gdb = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un Address{};
  Address.sun_family = AF_UNIX;
  std::snprintf(Address.sun_path, sizeof Address.sun_path, "%s", Socket.c_str());
  ASSERT_EQ(connect(Gdb, reinterpret_cast<const sockaddr *>(&Address), sizeof Address), 0) << Socket;
  const char Query[] = "+$?#3f";
  ASSERT_EQ(write(Gdb, Query, sizeof Query - 1), static_cast<ssize_t>(sizeof Query - 1));
  char Reply[64];
  pollfd Wait{Gdb, POLLIN, 0};
  ASSERT_GT(poll(&Wait, 1, 10000), 0) << "QEMU's stub did not answer through pei-sim's socket";
  EXPECT_GT(read(Gdb, Reply, sizeof Reply), 0);
  close(Gdb);
  const auto Closed = std::chrono::steady_clock::now();
  EXPECT_EQ(Run.Finish(20), 4) << Run.Out;
  EXPECT_LT(std::chrono::steady_clock::now() - Closed, std::chrono::seconds(10));
  EXPECT_NE(Run.Out.find("the gdb session ended and left QEMU stopped"), std::string::npos) << Run.Out;
  ExpectNothingLeft(Temporary);
}

// The time limit holds while QEMU waits for a gdb that never comes.
TEST(QemuStop, TheTimeLimitHoldsInGdbMode) {
  const std::string Temporary = ScratchPath("gdb-limit");
  std::filesystem::create_directory(Temporary);
  PeiSimGdbRun Run;
  const auto Started = std::chrono::steady_clock::now();
  ASSERT_TRUE(Run.Start({"--image", MODULE_IMAGE, "--time-limit", "2"}, Temporary)) << Run.Out;
  EXPECT_EQ(Run.Finish(20), 4);
  EXPECT_NE(Run.Out.find("time limit of 2 s reached"), std::string::npos) << Run.Out;
  EXPECT_LT(std::chrono::steady_clock::now() - Started, std::chrono::seconds(10));
  ExpectNothingLeft(Temporary);
}

// make debug: gdb at a terminal (here a pipe), the run's summary after it.
TEST(QemuStop, MakeDebugRunsAGdbSessionAndLeavesNothing) {
  const std::string Temporary = ScratchPath("make-debug");
  std::filesystem::create_directory(Temporary);
  PeiSimGdbRun Run;
  ASSERT_TRUE(Run.StartCommand({"bash", SOC_SOURCE_DIR "/scripts/debug.sh", PEI_SIM_PATH, MODULE_IMAGE}, Temporary,
                               "Breakpoint 1, ModuleEntry"))
      << Run.Out;
  const char Commands[] = "print UartBreak\ncontinue\n";
  ASSERT_EQ(write(Run.Input, Commands, sizeof Commands - 1), static_cast<ssize_t>(sizeof Commands - 1));
  EXPECT_EQ(Run.Finish(60), 0) << Run.Out;
  EXPECT_NE(Run.Out.find("$1 = 0 '\\000'"), std::string::npos) << Run.Out;
  EXPECT_NE(Run.Out.find("outcome: ModuleEntry returned 0x00000000 (Success)"), std::string::npos) << Run.Out;
  ExpectNothingLeft(Temporary);
}

// SIGTERM (or a closed terminal) while gdb holds the module at ModuleEntry:
// gdb, pei-sim and QEMU end, and the temporary files go.
TEST(QemuStop, MakeDebugEndedBySigtermLeavesNothing) {
  for (const int Signal : {SIGTERM, SIGHUP}) {
    SCOPED_TRACE(Signal);
    const std::string Temporary = ScratchPath("make-debug-" + std::to_string(Signal));
    std::filesystem::create_directory(Temporary);
    PeiSimGdbRun Run;
    ASSERT_TRUE(Run.StartCommand({"bash", SOC_SOURCE_DIR "/scripts/debug.sh", PEI_SIM_PATH, MODULE_IMAGE}, Temporary,
                                 "Breakpoint 1, ModuleEntry"))
        << Run.Out;
    EXPECT_FALSE(ProcessesMentioning(Temporary).empty());
    kill(Run.Child, Signal);
    EXPECT_EQ(Run.Finish(20), 128 + Signal) << Run.Out;
    const auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!ProcessesMentioning(Temporary).empty() && std::chrono::steady_clock::now() < Deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ExpectNothingLeft(Temporary);
    EXPECT_TRUE(ProcessesMentioning(Temporary).empty());
  }
}

}  // namespace
