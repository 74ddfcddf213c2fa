#include "CommandRun.h"
#include "Scratch.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

std::string Quote(const std::string &Arg) {
  std::string Quoted = "'";
  for (char Each : Arg) {
    Quoted += Each == '\'' ? std::string("'\\''") : std::string(1, Each);
  }
  return Quoted + "'";
}

std::string Slurp(const std::string &Path) {
  std::ifstream In(Path, std::ios::binary);
  std::stringstream Text;
  Text << In.rdbuf();
  return Text.str();
}

}  // namespace

CommandResult RunCommandLine(const std::string &Program, const std::vector<std::string> &Args) {
  const std::string Base = ScratchPath("command");
  std::string Command = Quote(Program);
  for (const std::string &Arg : Args) {
    Command += " " + Quote(Arg);
  }
  Command += " >" + Base + ".out 2>" + Base + ".err";
  const int Status = std::system(Command.c_str());
  return {WIFEXITED(Status) ? WEXITSTATUS(Status) : -1, Slurp(Base + ".out"), Slurp(Base + ".err")};
}
