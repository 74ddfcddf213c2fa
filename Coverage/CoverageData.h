// What runs of the IA-32 images executed, instruction by instruction: kept
// per image (known by its code, whatever its form or base), accumulated over
// runs into one file that every run adds to.
#ifndef COVERAGE_COVERAGE_DATA_H_
#define COVERAGE_COVERAGE_DATA_H_

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ImageRuns.h"


struct CoverageData {
  std::map<std::string, ImageRuns> Images;  // by CodeKey
  void Add(const std::string &Key, const ImageRuns &Runs);
};

// What identifies an image's code: a hash of its code sections with every
// base-relocation site taken as zero, so that the PE32 image, its TE form and
// either rebased anywhere have one key. Nothing, with Error, for a file that
// is no image.
std::optional<std::string> CodeKey(const std::vector<std::uint8_t> &Image, std::string &Error);

// The file's text, and back; a text of another shape is refused with the
// line at fault.
std::string CoverageText(const CoverageData &Data);
std::optional<CoverageData> ParseCoverage(const std::string &Text, std::string &Error);

// Adds Data to the file at Path (made when missing), under a lock, so that
// runs in parallel processes all count; false, with Error naming the file and
// the fault, when it cannot be read, parsed or written.
bool AddToCoverageFile(const std::string &Path, const CoverageData &Data, std::string &Error);
std::optional<CoverageData> ReadCoverageFile(const std::string &Path, std::string &Error);

// The file the runs of the test suites add to: $SOC_IMAGE_COVERAGE, or empty.
std::string CoverageFileFromEnvironment();

// Adds the runs of the image at ImagePath (its bytes: Image) to the file at
// Path; false, with Error, as AddToCoverageFile or when Image is no image.
bool AddImageRuns(const std::string &Path, const std::vector<std::uint8_t> &Image, const std::string &ImagePath,
                  ImageRuns Runs, std::string &Error);

#endif  // COVERAGE_COVERAGE_DATA_H_
