// Writing a built file: what the packing steps and the ROM builder share.
#ifndef PACKAGING_FILE_BYTES_H_
#define PACKAGING_FILE_BYTES_H_

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

// Bytes into the file at Path; false when it cannot be written.
inline bool WriteFileBytes(const std::string &Path, const std::vector<std::uint8_t> &Bytes) {
  std::ofstream Out(Path, std::ios::binary);
  Out.write(reinterpret_cast<const char *>(Bytes.data()), static_cast<std::streamsize>(Bytes.size()));
  return static_cast<bool>(Out);
}

#endif  // PACKAGING_FILE_BYTES_H_
