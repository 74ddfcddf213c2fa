// Device interfaces of the virtual board and the plain RAM region.
#ifndef BOARD_DEVICES_H_
#define BOARD_DEVICES_H_

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// Something in the physical address space. Offsets are from the region base;
// Size is 1, 2 or 4 bytes, little-endian.
class MemoryDevice {
 public:
  virtual ~MemoryDevice() = default;
  virtual std::uint32_t Read(std::uint32_t Offset, int Size) = 0;
  virtual void Write(std::uint32_t Offset, int Size, std::uint32_t Value) = 0;
  virtual std::string Describe(std::uint32_t Offset) const = 0;  // note for the trace
};

// Something in the I/O port space.
class PortDevice {
 public:
  virtual ~PortDevice() = default;
  virtual void Out(std::uint16_t Offset, int Size, std::uint32_t Value) = 0;
  virtual std::string Describe(std::uint16_t Offset) const = 0;
};

// Plain memory with optional names for the fields that lie in it.
class RamRegion : public MemoryDevice {
 public:
  RamRegion(std::string Name, std::uint32_t Size) : Name_(std::move(Name)), Bytes_(Size, 0) {}
  std::uint32_t Read(std::uint32_t Offset, int Size) override;
  void Write(std::uint32_t Offset, int Size, std::uint32_t Value) override;
  std::string Describe(std::uint32_t Offset) const override;
  void Label(std::uint32_t Offset, std::string Name) { Labels_[Offset] = std::move(Name); }
  std::uint32_t Size() const { return static_cast<std::uint32_t>(Bytes_.size()); }

 private:
  std::string Name_;
  std::vector<std::uint8_t> Bytes_;
  std::map<std::uint32_t, std::string> Labels_;
};

#endif  // BOARD_DEVICES_H_
