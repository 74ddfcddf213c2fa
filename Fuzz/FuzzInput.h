// Reads typed values off the front of a fuzz input; past its end every read gives 0.
#ifndef FUZZ_FUZZ_INPUT_H_
#define FUZZ_FUZZ_INPUT_H_

#include <cstddef>
#include <cstdint>

class FuzzInput {
 public:
  FuzzInput(const std::uint8_t *Data, std::size_t Size) : Data_(Data), Size_(Size) {}
  std::uint8_t Byte() { return Used_ < Size_ ? Data_[Used_++] : 0; }
  std::uint64_t Bytes(int Count) {
    std::uint64_t Value = 0;
    for (int Index = 0; Index < Count; Index++) {
      Value |= static_cast<std::uint64_t>(Byte()) << (8 * Index);
    }
    return Value;
  }
  const std::uint8_t *Rest() const { return Data_ + Used_; }
  std::size_t RestSize() const { return Size_ - Used_; }

 private:
  const std::uint8_t *Data_;
  std::size_t Size_;
  std::size_t Used_ = 0;
};

#endif  // FUZZ_FUZZ_INPUT_H_
