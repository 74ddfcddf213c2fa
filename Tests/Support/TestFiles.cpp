#include "TestFiles.h"

#include <gtest/gtest.h>

#include "FileBytes.h"
#include "LinkMap.h"
#include "Scratch.h"

std::vector<std::uint8_t> ReadBytes(const std::string &Path) {
  std::vector<std::uint8_t> Bytes;
  std::string Error;
  EXPECT_TRUE(ReadFileBytes(Path, Bytes, Error, 64u << 20)) << Error;
  return Bytes;
}

std::string ReadText(const std::string &Path) {
  std::string Text, Error;
  EXPECT_TRUE(ReadFileText(Path, Text, Error, 64u << 20)) << Error;
  return Text;
}

std::string WriteScratchFile(const std::string &Name, const std::vector<std::uint8_t> &Bytes) {
  const std::string Path = ScratchPath(Name);
  std::string Error;
  EXPECT_TRUE(WriteFileBytes(Path, Bytes, Error)) << Error;
  return Path;
}

std::string WriteScratchText(const std::string &Name, const std::string &Text) {
  const std::string Path = ScratchPath(Name);
  std::string Error;
  EXPECT_TRUE(WriteFileText(Path, Text, Error)) << Error;
  return Path;
}

std::string WriteScratchImage(const std::string &Name, const std::vector<std::uint8_t> &Bytes, const std::string &From) {
  const std::string Path = WriteScratchFile(Name, Bytes);
  WriteScratchText(MapPathFor(Path).substr(ScratchFolder().size() + 1), ReadText(MapPathFor(From)));
  return Path;
}
