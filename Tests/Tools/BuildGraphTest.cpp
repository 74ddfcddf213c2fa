// The build graph holds no stale artifact: every step the project adds (the
// images, the packing, the ROM, the symbol files, the foundation) names every
// built or source file its command reads as a file dependency. A file held
// only behind a target (Ninja's order-only "||") would let an edit go
// unnoticed: the step would not run again and its output would describe
// code that is no longer there.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "CommandRun.h"

namespace {

std::vector<std::string> LinesOf(const std::string &Text) {
  std::vector<std::string> Lines;
  std::istringstream In(Text);
  for (std::string Line; std::getline(In, Line);) {
    Lines.push_back(Line);
  }
  return Lines;
}

CommandResult Ninja(const std::vector<std::string> &Args) {
  std::vector<std::string> All = {"-C", BUILD_DIR};
  All.insert(All.end(), Args.begin(), Args.end());
  return RunCommandLine("ninja", All);
}

// The step that builds a file, as `ninja -t query` lists it: its rule, the
// files it depends on and what it only orders after.
struct Step {
  std::string Rule;
  std::set<std::string> Files, OrderOnly;
  bool operator==(const Step &) const = default;
};

Step StepOf(const std::string &Target) {
  Step Found;
  bool InInputs = false;
  for (const std::string &Line : LinesOf(Ninja({"-t", "query", Target}).Out)) {
    if (Line.rfind("  input: ", 0) == 0) {
      InInputs = true;
      Found.Rule = Line.substr(9);
    } else if (Line.rfind("  outputs:", 0) == 0) {
      InInputs = false;
    } else if (InInputs && Line.rfind("    || ", 0) == 0) {
      Found.OrderOnly.insert(Line.substr(7));
    } else if (InInputs && Line.rfind("    | ", 0) == 0) {
      Found.Files.insert(Line.substr(6));
    } else if (InInputs && Line.rfind("    ", 0) == 0) {
      Found.Files.insert(Line.substr(4));
    }
  }
  return Found;
}

// A path as Ninja names it: relative to the build folder when inside it.
std::string NinjaPath(const std::string &Path) {
  const std::string Build = std::string(BUILD_DIR) + "/";
  return Path.rfind(Build, 0) == 0 ? Path.substr(Build.size()) : Path;
}

std::string RegexQuoted(const std::string &Text) {
  return std::regex_replace(Text, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)");
}

TEST(BuildGraph, EveryStepNamesEveryFileItReadsAsADependency) {
  // The project's own steps: every file a custom command builds.
  std::set<std::string> Outputs, Built;
  for (const std::string &Line : LinesOf(Ninja({"-t", "targets", "all"}).Out)) {
    const std::size_t Colon = Line.rfind(": ");
    if (Colon == std::string::npos) {
      continue;
    }
    const std::string Path = NinjaPath(Line.substr(0, Colon));
    Built.insert(Path);
    if (Line.substr(Colon + 2) == "CUSTOM_COMMAND" && Path.find("CMakeFiles/") == std::string::npos) {
      Outputs.insert(Path);
    }
  }
  // Absolute paths in a command (the build folder lies in the checkout).
  const std::regex PathInCommand(RegexQuoted(SOC_SOURCE_DIR) + "/[^ ;'\":]+");
  std::set<std::string> Checked;
  for (const std::string &Output : Outputs) {
    const Step Builds = StepOf(Output);
    const std::string Command = Ninja({"-t", "commands", "-s", Output}).Out;
    for (auto Match = std::sregex_iterator(Command.begin(), Command.end(), PathInCommand);
         Match != std::sregex_iterator(); ++Match) {
      const std::string Path = Match->str(), Named = NinjaPath(Path);
      const bool IsBuilt = Built.count(Named) != 0;
      const bool IsSource = Named == Path && std::filesystem::is_regular_file(Path);
      // Built by this very step (one of its outputs): written, not read.
      if ((!IsBuilt && !IsSource) || (IsBuilt && StepOf(Named) == Builds)) {
        continue;
      }
      Checked.insert(Output);
      EXPECT_TRUE(Builds.Files.count(Named) != 0)
          << Output << " reads " << Named << " but does not name it as a file it depends on\n" << Command;
    }
  }
  // A check that finds nothing to check fails: the steps are there.
  for (const char *Expected : {"SocPreInit.rom", "SocPreInit.ffs", "SocPreInit.efi", "SocPreInit.debug",
                               "Qemu/Rom/Foundation.bin", "Qemu/Rom/Sec.bin", "Tests/EngineTest.efi"}) {
    EXPECT_EQ(Checked.count(Expected), 1u) << Expected << " was not checked";
  }
}

}  // namespace
