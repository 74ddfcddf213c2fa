// Format arguments as values, written the way a C++ caller writes them: V(42)
// is a signed 32-bit argument, V(42u) an unsigned one, V("text") a 1-byte
// text, V(&Guid) a GUID record, Units(...) a CHAR16 text. The same values run
// on the host build (both forms) and on the IA-32 engine image.
#ifndef TESTS_SUPPORT_FORMAT_VECTORS_H_
#define TESTS_SUPPORT_FORMAT_VECTORS_H_

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "Base.h"
#include "FormatRunTypes.h"

inline FormatValue V(int Value) { return {FormatValue::Kind::I32, static_cast<std::uint32_t>(Value), {}}; }
inline FormatValue V(unsigned Value) { return {FormatValue::Kind::U32, Value, {}}; }
inline FormatValue V(long long Value) { return {FormatValue::Kind::I64, static_cast<std::uint64_t>(Value), {}}; }
inline FormatValue V(unsigned long long Value) { return {FormatValue::Kind::U64, Value, {}}; }
inline FormatValue V(long Value) { return V(static_cast<long long>(Value)); }
inline FormatValue V(unsigned long Value) { return V(static_cast<unsigned long long>(Value)); }
inline FormatValue V(FormatValue Value) { return Value; }
inline FormatValue V(decltype(nullptr)) { return {FormatValue::Kind::Null, 0, {}}; }
inline FormatValue V(const char *Text) {
  const std::string_view View(Text);
  FormatValue Value{FormatValue::Kind::Bytes, 0, std::vector<std::uint8_t>(View.begin(), View.end())};
  Value.Bytes.push_back(0);
  return Value;
}
template <class RECORD> FormatValue RecordValue(const RECORD &Record, std::uint32_t Misalign = 0) {
  const auto *Raw = reinterpret_cast<const std::uint8_t *>(&Record);
  return {FormatValue::Kind::Bytes, 0, std::vector<std::uint8_t>(Raw, Raw + sizeof Record), Misalign};
}
inline FormatValue V(const EFI_GUID *Guid) { return RecordValue(*Guid); }
inline FormatValue V(const EFI_TIME *Time) { return RecordValue(*Time); }
inline FormatValue Misaligned(FormatValue Value, std::uint32_t By) {
  Value.Misalign = By;
  return Value;
}

// A CHAR16 text of the given units and a 0 unit, little-endian.
inline FormatValue Units(std::initializer_list<std::uint16_t> List) {
  FormatValue Value{FormatValue::Kind::Bytes, 0, {}};
  for (const std::uint16_t Unit : List) {
    Value.Bytes.push_back(static_cast<std::uint8_t>(Unit));
    Value.Bytes.push_back(static_cast<std::uint8_t>(Unit >> 8));
  }
  Value.Bytes.insert(Value.Bytes.end(), {0, 0});
  return Value;
}

template <class... ARGS> std::vector<FormatValue> A(ARGS... Args) { return {V(Args)...}; }

// One case of the engine: a format with its arguments into a buffer of Size
// characters, and the exact output (the count is its length).
struct EngineVector {
  const char *Group;
  std::uint32_t Size;
  std::string Format;
  std::vector<FormatValue> Args;
  std::string Expected;
};

#endif  // TESTS_SUPPORT_FORMAT_VECTORS_H_
