// Whole files in and out, for every host tool and build step: a read is
// bounded and says why it failed; a write goes to a temporary name beside the
// target and is renamed over it only once every byte is written, so a step
// that fails (or is interrupted) leaves no output that looks up to date.
#ifndef COMMON_FILE_BYTES_H_
#define COMMON_FILE_BYTES_H_

#include <cstdint>
#include <string>
#include <vector>

// The largest file a tool reads whole unless it says otherwise.
inline constexpr std::size_t kMaxFileBytes = 16u << 20;

// The file at Path, at most Limit bytes; false with Error naming the path and
// the fault (cannot be opened, a read error, larger than Limit).
bool ReadFileBytes(const std::string &Path, std::vector<std::uint8_t> &Bytes, std::string &Error,
                   std::size_t Limit = kMaxFileBytes);
bool ReadFileText(const std::string &Path, std::string &Text, std::string &Error, std::size_t Limit = kMaxFileBytes);

// Bytes into the file at Path, all or nothing; false with Error naming the
// path and the fault, and nothing left at Path or beside it.
bool WriteFileBytes(const std::string &Path, const std::vector<std::uint8_t> &Bytes, std::string &Error);
bool WriteFileText(const std::string &Path, const std::string &Text, std::string &Error);

#endif  // COMMON_FILE_BYTES_H_
