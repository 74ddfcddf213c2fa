// The format engine. One pass over the format: each format character (a
// literal, a line end or a whole directive) becomes a field, and every field
// is laid out through FillChars against the end position, so output stops
// exactly there wherever it falls.
#include "Library/BaseLib.h"
#include "Library/DebugLib.h"
#include "Library/PrintLib.h"
#include "PrintDigits.h"
#include "PrintScan.h"
#include "StatusText.h"

namespace {

using namespace print_internal;

#define GUID_TEXT_VALUES 11u  // Data1, Data2, Data3 and the eight bytes of Data4

// Per-character state, reset at the start of every format character.
struct FIELD {
  UINT32 Flags;
  UINTN Width;
  UINTN Precision;
  UINTN Count;
  CHAR8 Prefix;  // 0 for none, else '-', '+' or ' '
  BOOLEAN Grouping;
  UINTN GroupCounter;
  const CHAR8 *Text;  // first unit of a text, or the most significant digit of a number
};

// Storage a conversion may point its text at; lives in FormatToBuffer's frame.
struct FIELD_STORAGE {
  CHAR8 Scratch[PRINT_SCRATCH_SIZE];
  CHAR8 Units[4];  // a one-character text: 1-byte or CHAR16, with its terminator
};

CHAR8 *LayOutField(CHAR8 *Position, CHAR8 *End, FIELD *Field) {
  const UINT32 Flags = Field->Flags;
  const BOOLEAN IsNumber = (Flags & PF_NUMBER_LAYOUT) != 0;
  const UINTN UnitSize = (Flags & PF_TEXT_CHAR16) != 0 ? 2 : 1;

  if (!IsNumber) {
    // Count the units of the text; the precision bound is tested first so
    // that nothing beyond it is ever read.
    const UINTN Limit = (Flags & PF_HAS_PRECISION) != 0 ? Field->Precision : ~static_cast<UINTN>(0);
    UINTN Count = 0;
    if (UnitSize == 1) {
      Count = TextLength(Field->Text, Limit);
    } else {
      while (Count < Limit && WideUnitAt(Field->Text + 2 * Count) != 0) {
        Count++;
      }
    }
    Field->Count = Count;
  }
  if (Field->Precision < Field->Count) {
    Field->Precision = Field->Count;
  }

  const BOOLEAN HasWidth = (Flags & PF_HAS_WIDTH) != 0;
  const BOOLEAN AlignLeft = (Flags & PF_ALIGN_LEFT) != 0;
  const INT32 WidthFill = static_cast<INT32>(Field->Width - Field->Precision);
  const INT32 PrecisionFill = static_cast<INT32>(Field->Precision - Field->Count);

  if (HasWidth && !AlignLeft && WidthFill > 0) {
    Position = FillChars(Position, End, WidthFill, ' ');
  }
  if (IsNumber && Field->Prefix != 0) {
    Position = FillChars(Position, End, 1, static_cast<UINT8>(Field->Prefix));
  }
  if (PrecisionFill > 0) {
    Position = FillChars(Position, End, PrecisionFill, IsNumber ? '0' : ' ');
  }

  const CHAR8 *Text = Field->Text;
  UINTN Index = Field->Prefix != 0 ? 1 : 0;
  if (!Field->Grouping) {
    // Without commas every remaining unit is written in order; only those
    // that fit before the end position are read.
    UINTN Room = static_cast<UINTN>(End - Position);
    UINTN Units = Field->Count > Index ? Field->Count - Index : 0;
    Units = Units < Room ? Units : Room;
    if (IsNumber) {
      // Digits stand least significant first: reverse four at a time.
      for (; Units >= 4; Units -= 4) {
        UINT32 Four;
        __builtin_memcpy(&Four, Text - 3, 4);
        Four = __builtin_bswap32(Four);
        __builtin_memcpy(Position, &Four, 4);
        Position += 4;
        Text -= 4;
      }
      if ((Units & 2) != 0) {
        Position[0] = Text[0];
        Position[1] = Text[-1];
        Position += 2;
        Text -= 2;
      }
      if ((Units & 1) != 0) {
        *Position++ = *Text;
      }
      Units = 0;
    } else if (UnitSize == 1) {
      CopyBytes(Position, Text, Units);
    } else {
      for (UINTN Unit = 0; Unit < Units; Unit++) {
        Position[Unit] = Text[2 * Unit];
      }
    }
    Position += Units;
    Index = Field->Count;
  }
  // Grouped digits (only decimal numbers are grouped): a comma after every
  // third digit counted by the group counter, none after the last.
  while (Index < Field->Count) {
    Position = FillChars(Position, End, 1, static_cast<UINT8>(*Text--));
    Index++;
    if (++Field->GroupCounter == 3) {
      Field->GroupCounter = 0;
      Index++;
      if (Index >= Field->Count) {
        break;
      }
      Position = FillChars(Position, End, 1, ',');
    }
  }

  if (HasWidth && AlignLeft && WidthFill > 0) {
    Position = FillChars(Position, End, WidthFill, ' ');
  }
  return Position;
}


// Turns a number conversion into a digit-string field.
void PrepareNumber(FIELD *Field, UINT64 Value, CHAR8 *Scratch) {
  if ((Field->Flags & PF_SHOW_SPACE) != 0) {
    Field->Prefix = ' ';
  }
  if ((Field->Flags & PF_SHOW_PLUS) != 0) {
    Field->Prefix = '+';
  }
  UINT32 Base = 16;
  if ((Field->Flags & PF_BASE_16) == 0) {
    Base = 10;
    if ((Field->Flags & PF_GROUP_THOUSANDS) != 0) {
      Field->Grouping = true;
      Field->Flags &= ~PF_FILL_ZEROS;
      Field->Precision = 1;
    }
    if (static_cast<INT64>(Value) < 0) {
      Field->Prefix = '-';
      Value = 0 - Value;
    }
  }

  CHAR8 *MostSignificant = WriteDigits(Scratch, Value, Base);
  Field->Count = static_cast<UINTN>(MostSignificant - Scratch);
  if (Value == 0 && Field->Precision == 0) {
    Field->Count = 0;
  }
  if (Field->Grouping) {
    // The counter starts so that the first comma follows the leading group.
    const UINTN Rest = Field->Count % 3;
    Field->GroupCounter = Rest == 0 ? 0 : 3 - Rest;
    if (Field->Count != 0) {
      Field->Count += (Field->Count - 1) / 3;
    }
  }
  if (Field->Prefix != 0) {
    Field->Count++;
    Field->Precision++;
  }
  Field->Flags |= PF_NUMBER_LAYOUT;
  Field->Text = MostSignificant;

  const UINT32 ZeroFillMask = PF_FILL_ZEROS | PF_HAS_WIDTH | PF_ALIGN_LEFT | PF_HAS_PRECISION;
  if ((Field->Flags & ZeroFillMask) == (PF_FILL_ZEROS | PF_HAS_WIDTH)) {
    Field->Precision = Field->Width;
  }
}

// The GUID, time and unnamed-status texts are PrintAscii calls into the
// scratch area with 32-bit unsigned arguments; their records are filled in
// place, which keeps the three renderings small in the firmware image. They
// stay out of line so that their records take stack only while they run,
// not in every frame of the engine.
inline PRINT_ARG Unsigned32(UINT32 Value) { return PRINT_ARG{Value, 0, PRINT_ARG_UINT32}; }

const CHAR8 *PrintToScratch(CHAR8 *Scratch, const CHAR8 *Format, const PRINT_ARG *Records, UINTN Count) {
  PRINT_ARG_LIST Cursor = {Records, Records + Count};
  FormatToBuffer(Scratch, PRINT_SCRATCH_SIZE, Format, &Cursor);
  return Scratch;
}

__attribute__((noinline)) const CHAR8 *StatusText(EFI_STATUS Status, CHAR8 *Scratch) {
  if ((Status & 0x80000000u) != 0) {
    const UINT32 Code = Status & 0x7FFFFFFFu;
    if (Code >= 1 && Code <= ERROR_STATUS_COUNT) {
      return ErrorStatusText(Code);
    }
  } else if (Status < WARNING_STATUS_COUNT) {
    return WarningStatusText(Status);
  }
  const PRINT_ARG Record = Unsigned32(Status);
  return PrintToScratch(Scratch, "%08X", &Record, 1);
}

// Data1 with one 32-bit read, Data2 and Data3 with LoadUnaligned16, Data4
// byte by byte: the record may lie at any address.
__attribute__((noinline)) const CHAR8 *GuidText(const void *Guid, CHAR8 *Scratch) {
  if (Guid == nullptr) {
    return "<null guid>";
  }
  const UINT8 *Bytes = static_cast<const UINT8 *>(Guid);
  PRINT_ARG Records[GUID_TEXT_VALUES];
  UINT32 Data1;
  __builtin_memcpy(&Data1, Bytes, sizeof(Data1));
  Records[0] = Unsigned32(Data1);
  Records[1] = Unsigned32(LoadUnaligned16(Bytes + 4));
  Records[2] = Unsigned32(LoadUnaligned16(Bytes + 6));
  for (UINTN Index = 0; Index < 8; Index++) {
    Records[3 + Index] = Unsigned32(Bytes[8 + Index]);
  }
  return PrintToScratch(Scratch, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x", Records, GUID_TEXT_VALUES);
}

// Month, Day, Year (one 16-bit read, at any alignment), Hour, Minute.
__attribute__((noinline)) const CHAR8 *TimeText(const void *Time, CHAR8 *Scratch) {
  if (Time == nullptr) {
    return "<null time>";
  }
  const UINT8 *Bytes = static_cast<const UINT8 *>(Time);
  UINT16 Year;
  __builtin_memcpy(&Year, Bytes, sizeof(Year));
  const PRINT_ARG Records[] = {Unsigned32(Bytes[2]), Unsigned32(Bytes[3]), Unsigned32(Year), Unsigned32(Bytes[4]),
                               Unsigned32(Bytes[5])};
  return PrintToScratch(Scratch, "%02d/%02d/%04d  %02d:%02d", Records, 5);
}

// A line end at Format ('\n' or '\r'); returns the position after it.
const CHAR8 *LineEnd(const CHAR8 *Format, FIELD *Field) {
  if (Format[0] == '\n') {
    Field->Text = "\r\n";
    return Format + (Format[1] == '\r' ? 2 : 1);
  }
  if (Format[1] == '\n') {
    Field->Text = "\r\n";
    return Format + 2;
  }
  Field->Text = "\r";
  return Format + 1;
}

const CHAR8 *ConvertText(const CHAR8 *Format, FIELD *Field, PRINT_ARG_LIST *Args, FIELD_STORAGE *Storage);

// The conversion character at Format ends a directive; returns the position
// after the format characters it consumed.
const CHAR8 *Convert(const CHAR8 *Format, FIELD *Field, PRINT_ARG_LIST *Args, FIELD_STORAGE *Storage) {
  UINT64 Value;
  switch (*Format) {
    case 'd':
      if ((Field->Flags & PF_VALUE_64) != 0) {
        Value = PrintArgTake64(Args);
      } else {
        Value = static_cast<UINT64>(static_cast<INT64>(static_cast<INT32>(PrintArgTake32(Args))));
      }
      break;
    case 'X':
      Field->Flags |= PF_FILL_ZEROS;
      [[fallthrough]];
    case 'x':
      Field->Flags |= PF_BASE_16;
      Value = (Field->Flags & PF_VALUE_64) != 0 ? PrintArgTake64(Args) : PrintArgTake32(Args);
      break;
    case 'p':
      Field->Flags &= ~(PF_SHOW_PLUS | PF_SHOW_SPACE | PF_VALUE_64);
      Field->Flags |= PF_FILL_ZEROS | PF_BASE_16;
      Value = PrintArgTake32(Args);
      break;
    default:
      return ConvertText(Format, Field, Args, Storage);
  }
  PrepareNumber(Field, Value, Storage->Scratch);
  return Format + 1;
}

// The text conversions, and any character that is no conversion.
const CHAR8 *ConvertText(const CHAR8 *Format, FIELD *Field, PRINT_ARG_LIST *Args, FIELD_STORAGE *Storage) {
  switch (*Format) {
    case 'a':
      Field->Text = static_cast<const CHAR8 *>(PrintArgTakePointer(Args));
      if (Field->Text == nullptr) {
        Field->Text = "<null string>";
      }
      if ((Field->Flags & PF_HAS_PRECISION) == 0) {
        Field->Precision = 0;
      }
      return Format + 1;
    case 's':
    case 'S':
      Field->Flags |= PF_TEXT_CHAR16;
      Field->Text = static_cast<const CHAR8 *>(PrintArgTakePointer(Args));
      if (Field->Text == nullptr) {
        Field->Text = "<null string>";
        Field->Flags &= ~PF_TEXT_CHAR16;
      }
      if ((Field->Flags & PF_HAS_PRECISION) == 0) {
        Field->Precision = 0;
      }
      return Format + 1;
    case 'c': {
      Field->Flags |= PF_TEXT_CHAR16;
      const UINT32 Character = PrintArgTake32(Args) & 0xFFFFu;
      Storage->Units[0] = static_cast<CHAR8>(Character & 0xFFu);
      Storage->Units[1] = static_cast<CHAR8>(Character >> 8);
      Storage->Units[2] = 0;
      Storage->Units[3] = 0;
      Field->Text = Storage->Units;
      return Format + 1;
    }
    case 'g':
      Field->Text = GuidText(PrintArgTakePointer(Args), Storage->Scratch);
      return Format + 1;
    case 't':
      Field->Text = TimeText(PrintArgTakePointer(Args), Storage->Scratch);
      return Format + 1;
    case 'r':
      Field->Text = StatusText(PrintArgTake32(Args), Storage->Scratch);
      return Format + 1;
    case '\n':
    case '\r':
      return LineEnd(Format, Field);
    default:
      Storage->Units[0] = *Format;
      Storage->Units[1] = 0;
      Field->Text = Storage->Units;
      return Format + 1;
  }
}

// Parses the directive that starts with the '%' at Format and prepares its
// field; returns the position after it. At the end of the format inside the
// directive the field is an empty text and the position is that of the 0.
const CHAR8 *Directive(const CHAR8 *Format, FIELD *Field, PRINT_ARG_LIST *Args, FIELD_STORAGE *Storage) {
  for (Format++;;) {
    CHAR8 Character = *Format;
    if (Character >= '0' && Character <= '9') {
      // A number; a leading '0' before any '.' also asks for zero fill. The
      // first non-digit is read next as a directive character.
      if (Character == '0' && (Field->Flags & PF_HAS_PRECISION) == 0) {
        Field->Flags |= PF_FILL_ZEROS;
      }
      UINTN Value = 0;
      do {
        Value = Value * 10 + static_cast<UINTN>(Character - '0');
        Character = *++Format;
      } while (Character >= '0' && Character <= '9');
      if ((Field->Flags & PF_HAS_PRECISION) != 0) {
        Field->Precision = Value;
      } else {
        Field->Width = Value;
        Field->Flags |= PF_HAS_WIDTH;
      }
      continue;
    }
    switch (Character) {
      case '-':
        Field->Flags |= PF_ALIGN_LEFT;
        break;
      case '+':
        Field->Flags |= PF_SHOW_PLUS;
        break;
      case ' ':
        Field->Flags |= PF_SHOW_SPACE;
        break;
      case ',':
        Field->Flags |= PF_GROUP_THOUSANDS;
        break;
      case 'L':
      case 'l':
        Field->Flags |= PF_VALUE_64;
        break;
      case '.':
        Field->Flags |= PF_HAS_PRECISION;
        break;
      case '*': {
        const UINTN Value = PrintArgTake32(Args);
        if ((Field->Flags & PF_HAS_PRECISION) != 0) {
          Field->Precision = Value;
        } else {
          Field->Width = Value;
          Field->Flags |= PF_HAS_WIDTH;
        }
        break;
      }
      case 0:
        Field->Precision = 0;
        Field->Text = "";
        return Format;
      default:
        return Convert(Format, Field, Args, Storage);
    }
    Format++;
  }
}

}  // namespace

CHAR8 *FillChars(CHAR8 *Position, CHAR8 *End, INT32 Count, UINT16 Character) {
  for (INT32 Index = 0; Index < Count && Position < End; Index++) {
    *Position++ = static_cast<CHAR8>(Character & 0xFFu);
  }
  return Position;
}

CHAR8 *ValueToText(CHAR8 *Scratch, UINT64 Value, UINT32 Base) { return WriteDigits(Scratch, Value, Base); }

UINTN FormatToBuffer(CHAR8 *Buffer, UINTN BufferSize, const CHAR8 *Format, PRINT_ARG_LIST *Args) {
  if (BufferSize == 0) {
    return 0;
  }
  ASSERT(Buffer != ((void *) 0));
  if (Buffer == nullptr) {
    return 0;  // only reached when a debugger ends the halt: there is nowhere to write
  }
  CHAR8 *const OriginalBuffer = Buffer;
  CHAR8 *const End = Buffer + BufferSize - 1;

  ASSERT(AsciiStrSize (Format) != 0);
  if (Format == nullptr) {
    Format = "";  // a null format was reported while measuring it; render nothing
  }

  FIELD_STORAGE Storage;
  FIELD Field = {};
  while (*Format != 0) {
    if (Buffer == End) {
      break;
    }
    if (!EndsLiteralRun(*Format)) {
      // A run of literal characters: each is a one-character text of itself,
      // which amounts to copying them until the run or the room ends.
      // The first character is known to be literal, and there is room for it.
      const UINTN Run = 1 + LiteralRunLength(Format + 1, static_cast<UINTN>(End - Buffer) - 1);
      CopyBytes(Buffer, Format, Run);
      Buffer += Run;
      Format += Run;
      continue;
    }
    Field = FIELD{0, 0, 1, 0, 0, false, 0, nullptr};
    if (*Format == '%') {
      Format = Directive(Format, &Field, Args, &Storage);
    } else {
      Format = LineEnd(Format, &Field);
    }
    Buffer = LayOutField(Buffer, End, &Field);
  }

  ASSERT(Buffer != ((void *) 0));
  FillChars(Buffer, End + 1, 1, 0);

  const UINT32 Flags = Field.Flags;
  ASSERT((((Flags & 0x00000040) != 0)) || (AsciiStrSize (OriginalBuffer) != 0));
  return static_cast<UINTN>(Buffer - OriginalBuffer);
}
