// The names live in one block of text with a table of 16-bit offsets, built
// at compile time: no pointer table, so no relocation for each name in the
// firmware image.
#include "StatusText.h"

namespace {

// Explicit alignments keep the compiler from padding large constants to 16
// bytes in the image.
alignas(1) constexpr CHAR8 mStatusNames[] =
    // WarningStatusText, by status value 0..5
    "Success\0"
    "Warning Unknown Glyph\0"
    "Warning Delete Failure\0"
    "Warning Write Failure\0"
    "Warning Buffer Too Small\0"
    "Warning Stale Data\0"
    // ErrorStatusText, by error code 1..33
    "Load Error\0"
    "Invalid Parameter\0"
    "Unsupported\0"
    "Bad Buffer Size\0"
    "Buffer Too Small\0"
    "Not Ready\0"
    "Device Error\0"
    "Write Protected\0"
    "Out of Resources\0"
    "Volume Corrupt\0"
    "Volume Full\0"
    "No Media\0"
    "Media changed\0"
    "Not Found\0"
    "Access Denied\0"
    "No Response\0"
    "No mapping\0"
    "Time out\0"
    "Not started\0"
    "Already started\0"
    "Aborted\0"
    "ICMP Error\0"
    "TFTP Error\0"
    "Protocol Error\0"
    "Incompatible Version\0"
    "Security Violation\0"
    "CRC Error\0"
    "End of Media\0"
    "Reserved (29)\0"
    "Reserved (30)\0"
    "End of File\0"
    "Invalid Language\0"
    "Compromised Data";

constexpr UINTN kNameCount = WARNING_STATUS_COUNT + ERROR_STATUS_COUNT;

struct NAME_OFFSETS {
  UINT16 At[kNameCount];
};

consteval NAME_OFFSETS IndexNames() {
  NAME_OFFSETS Offsets{};
  UINTN Name = 1;
  for (UINTN Index = 0; Index + 1 < sizeof(mStatusNames); Index++) {
    if (mStatusNames[Index] == 0) {
      Offsets.At[Name++] = static_cast<UINT16>(Index + 1);
    }
  }
  return Name == kNameCount ? Offsets : NAME_OFFSETS{};
}

alignas(2) constexpr NAME_OFFSETS mOffsets = IndexNames();
// Every name is there, no more and no fewer.
static_assert(mOffsets.At[kNameCount - 1] != 0, "a status name is missing or extra");

}  // namespace

const CHAR8 *WarningStatusText(UINT32 Status) { return mStatusNames + mOffsets.At[Status]; }

const CHAR8 *ErrorStatusText(UINT32 Code) { return mStatusNames + mOffsets.At[WARNING_STATUS_COUNT + Code - 1]; }
