// A scratch folder of this test process's own: made on first use under the
// test temporary folder with a unique name (so two runs on one machine never
// share a file), and removed with everything in it when the process ends.
#ifndef TESTS_SUPPORT_SCRATCH_H_
#define TESTS_SUPPORT_SCRATCH_H_

#include <string>

// The folder's path, with no trailing separator.
const std::string &ScratchFolder();

// Name inside the scratch folder.
inline std::string ScratchPath(const std::string &Name) { return ScratchFolder() + "/" + Name; }

#endif  // TESTS_SUPPORT_SCRATCH_H_
