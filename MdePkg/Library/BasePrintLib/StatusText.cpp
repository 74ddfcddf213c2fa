// The names live in one block of text with a table of their lengths, built
// at compile time: no pointer table, so no relocation for each name in the
// firmware image.
#include "StatusText.h"

#include "PrintSteps.h"

FIRMWARE_ROUTINES_BEGIN

namespace {

constexpr CHAR8 mStatusNames[] =
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

// The length of each name with its terminator, in order: a name is found by
// adding up the lengths before it, which costs fewer image bytes than a
// table of offsets.
struct NAME_LENGTHS {
  UINT8 Of[kNameCount];
};

consteval NAME_LENGTHS MeasureNames() {
  NAME_LENGTHS Lengths{};
  UINTN Name = 0, Start = 0;
  for (UINTN Index = 0; Index < sizeof(mStatusNames); Index++) {
    if (mStatusNames[Index] == 0) {
      if (Name == kNameCount || Index + 1 - Start > 255) {
        return NAME_LENGTHS{};
      }
      Lengths.Of[Name++] = static_cast<UINT8>(Index + 1 - Start);
      Start = Index + 1;
    }
  }
  return Name == kNameCount ? Lengths : NAME_LENGTHS{};
}

constexpr NAME_LENGTHS mLengths = MeasureNames();

// Every name is there, no more and no fewer.
static_assert(mLengths.Of[kNameCount - 1] != 0, "a status name is missing or extra");

struct NAME_TABLE {
  NAME_LENGTHS Lengths;
  CHAR8 Names[sizeof mStatusNames];
};

consteval NAME_TABLE BuildTable() {
  NAME_TABLE Table{mLengths, {}};
  for (UINTN Index = 0; Index < sizeof mStatusNames; Index++) {
    Table.Names[Index] = mStatusNames[Index];
  }
  return Table;
}

alignas(1) constexpr NAME_TABLE mNameTable = BuildTable();

// The offsets of the names, added up from the lengths at compile time: what
// the quick form reads (the compact one adds them up as it goes, so the
// image carries no offset table).
struct NAME_OFFSETS {
  UINT16 At[kNameCount];
};

consteval NAME_OFFSETS SumLengths() {
  NAME_OFFSETS Offsets{};
  for (UINTN Index = 1; Index < kNameCount; Index++) {
    Offsets.At[Index] = static_cast<UINT16>(Offsets.At[Index - 1] + mLengths.Of[Index - 1]);
  }
  return Offsets;
}

constexpr NAME_OFFSETS mOffsets = SumLengths();

// Both forms find every name at the same place.
consteval bool NameFormsAgree() {
  for (UINTN Index = 0; Index < kNameCount; Index++) {
    if (print_steps::NameBySum(mNameTable.Names, mNameTable.Lengths.Of, Index) !=
        print_steps::NameByOffset(mNameTable.Names, mOffsets.At, Index)) {
      return false;
    }
  }
  return true;
}
static_assert(NameFormsAgree(), "the two forms of the status-name lookup disagree");

}  // namespace

const CHAR8 *StatusName(UINT32 Status) {
  UINTN Index = Status;  // warnings and success by value
  if ((Status & 0x80000000u) != 0) {
    const UINT32 Code = Status & 0x7FFFFFFFu;
    if (Code - 1 >= ERROR_STATUS_COUNT) {
      return nullptr;
    }
    Index = WARNING_STATUS_COUNT - 1 + Code;  // errors by code - 1, after the warnings
  } else if (Status >= WARNING_STATUS_COUNT) {
    return nullptr;
  }
  // Compact: the lengths through a pointer kept in a register, the names
  // right after them, so one base relocation serves both in the image.
  const NAME_TABLE *Table = PRINT_COMPACT ? print_steps::PinInRegister(&mNameTable) : &mNameTable;
  return print_steps::NameAt(Table->Names, Table->Lengths.Of, mOffsets.At, Index);
}

FIRMWARE_ROUTINES_END
