#include "Scratch.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <stdexcept>

namespace {

struct Folder {
  std::string Path;
  Folder() {
    std::string Template = ::testing::TempDir() + "soc-test-XXXXXX";
    if (::mkdtemp(Template.data()) == nullptr) {
      throw std::runtime_error("cannot make a scratch folder under " + ::testing::TempDir());
    }
    Path = Template;
  }
  ~Folder() {
    std::error_code Ignored;
    std::filesystem::remove_all(Path, Ignored);
  }
};

}  // namespace

const std::string &ScratchFolder() {
  static const Folder kFolder;
  return kFolder.Path;
}
