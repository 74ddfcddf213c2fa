// Whole files for the tests: read (an unreadable file fails the test that
// reads it), and written into the test's scratch folder.
#ifndef TESTS_SUPPORT_TEST_FILES_H_
#define TESTS_SUPPORT_TEST_FILES_H_

#include <cstdint>
#include <string>
#include <vector>

std::vector<std::uint8_t> ReadBytes(const std::string &Path);
std::string ReadText(const std::string &Path);

// Bytes into the scratch folder under Name; the path.
std::string WriteScratchFile(const std::string &Name, const std::vector<std::uint8_t> &Bytes);
std::string WriteScratchText(const std::string &Name, const std::string &Text);

// The same, with a copy of From's link map beside it (the image's own name
// with ".map"), as the tools look for one.
std::string WriteScratchImage(const std::string &Name, const std::vector<std::uint8_t> &Bytes, const std::string &From);

#endif  // TESTS_SUPPORT_TEST_FILES_H_
