#include "StatusNames.h"

#include <array>
#include <cstdio>

namespace {

// Warnings by value 0..5 (0 is success).
constexpr std::array<const char *, 6> kWarnings = {
    "Success",   "Warning Unknown Glyph", "Warning Delete Failure", "Warning Write Failure", "Warning Buffer Too Small",
    "Warning Stale Data"};

// Errors by code 1..33 (the status without its high bit).
constexpr std::array<const char *, 33> kErrors = {
    "Load Error",      "Invalid Parameter",  "Unsupported",     "Bad Buffer Size", "Buffer Too Small",
    "Not Ready",       "Device Error",       "Write Protected", "Out of Resources", "Volume Corrupt",
    "Volume Full",     "No Media",           "Media changed",   "Not Found",       "Access Denied",
    "No Response",     "No mapping",         "Time out",        "Not started",     "Already started",
    "Aborted",         "ICMP Error",         "TFTP Error",      "Protocol Error",  "Incompatible Version",
    "Security Violation", "CRC Error",       "End of Media",    "Reserved (29)",   "Reserved (30)",
    "End of File",     "Invalid Language",   "Compromised Data"};

}  // namespace

std::string StatusNameOf(std::uint32_t Status) {
  const std::uint32_t Code = Status & 0x7FFFFFFFu;
  if ((Status & 0x80000000u) == 0 && Code < kWarnings.size()) {
    return kWarnings[Code];
  }
  if ((Status & 0x80000000u) != 0 && Code >= 1 && Code <= kErrors.size()) {
    return kErrors[Code - 1];
  }
  char Digits[12];
  std::snprintf(Digits, sizeof Digits, "%08X", static_cast<unsigned>(Status));
  return Digits;
}
