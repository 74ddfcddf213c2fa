// The format engine. One pass over the format: each format character (a
// literal, a line end or a whole directive) becomes a field, and every field
// is laid out against the end position, so output stops exactly there
// wherever it falls.
//
// Written for size: the image carries one form of each step. Bulk work goes
// through memchr and memcpy, which the host's C library does quickly and the
// image's runtime does in a few bytes.
#include "Library/BaseLib.h"
#include "Library/DebugLib.h"
#include "Library/PrintLib.h"
#include "StatusText.h"

namespace {

// Explicit alignments keep the compiler from padding constants of 16 bytes
// and more to 16 in the image.
alignas(1) const CHAR8 mDigits[] = "0123456789ABCDEF";

// Directive flag characters, and the flag bit each sets as a shift count.
const CHAR8 mFlagCharacters[] = "-+ ,Ll.";
const UINT8 mFlagShifts[] = {0, 1, 2, 3, 4, 4, 11};
static_assert(1u << 0 == PF_ALIGN_LEFT && 1u << 1 == PF_SHOW_PLUS && 1u << 2 == PF_SHOW_SPACE &&
              1u << 3 == PF_GROUP_THOUSANDS && 1u << 4 == PF_VALUE_64 && 1u << 11 == PF_HAS_PRECISION);

// Records rendered through a nested PrintAscii into the scratch area. Each
// byte describes one value: its offset in the record times 4, plus 0 for a
// byte, 1 for a 16-bit field read with LoadUnaligned16, 2 for one 32-bit read.
#define RECORD_FIELD(Offset, Size) static_cast<UINT8>((Offset) << 2 | (Size))
const UINT8 mGuidFields[] = {RECORD_FIELD(0, 2),  RECORD_FIELD(4, 1),  RECORD_FIELD(6, 1),  RECORD_FIELD(8, 0),
                             RECORD_FIELD(9, 0),  RECORD_FIELD(10, 0), RECORD_FIELD(11, 0), RECORD_FIELD(12, 0),
                             RECORD_FIELD(13, 0), RECORD_FIELD(14, 0), RECORD_FIELD(15, 0)};
// Month, Day, Year, Hour, Minute.
const UINT8 mTimeFields[] = {RECORD_FIELD(2, 0), RECORD_FIELD(3, 0), RECORD_FIELD(0, 1), RECORD_FIELD(4, 0),
                             RECORD_FIELD(5, 0)};
const UINT8 mStatusFields[] = {RECORD_FIELD(0, 2)};
#define RECORD_VALUES_MAX (sizeof mGuidFields)

// Format characters that are not literal text: the terminator, line ends and
// the start of a directive.
bool EndsLiteralRun(CHAR8 Character) {
  return Character == '%' || Character == '\n' || Character == '\r' || Character == 0;
}

// The values of Record, as Fields describes them, formatted by Format into
// Scratch as 32-bit unsigned arguments. Out of line, so that its records
// take stack only while it runs.
__attribute__((noinline)) const CHAR8 *RecordText(const UINT8 *Record, const UINT8 *Fields, UINTN Count,
                                                  const CHAR8 *Format, CHAR8 *Scratch) {
  PRINT_ARG Values[RECORD_VALUES_MAX];
  for (UINTN Index = 0; Index < Count; Index++) {
    const UINT8 *Field = Record + (Fields[Index] >> 2);
    UINT32 Value = Field[0];
    if ((Fields[Index] & 3) == 1) {
      Value = LoadUnaligned16(Field);
    } else if ((Fields[Index] & 3) == 2) {
      __builtin_memcpy(&Value, Field, sizeof Value);
    }
    Values[Index] = PRINT_ARG{Value, 0, PRINT_ARG_UINT32};
  }
  PRINT_ARG_LIST Cursor = {Values, Values + Count};
  FormatToBuffer(Scratch, PRINT_SCRATCH_SIZE, Format, &Cursor);
  return Scratch;
}

// The name of a status, or null when it has none.
const CHAR8 *StatusName(EFI_STATUS Status) {
  if ((Status & 0x80000000u) != 0) {
    const UINT32 Code = Status & 0x7FFFFFFFu;
    return Code - 1 < ERROR_STATUS_COUNT ? ErrorStatusText(Code) : nullptr;
  }
  return Status < WARNING_STATUS_COUNT ? WarningStatusText(Status) : nullptr;
}

// Per-character state, reset at the start of every format character, with
// the storage a field's text may point at.
struct FIELD {
  UINT32 Flags;
  UINTN Width;
  UINTN Precision;
  UINTN Count;        // characters of the field proper, the prefix included
  const CHAR8 *Text;  // first unit of the field's text
  CHAR8 Prefix;       // 0 for none, else '-', '+' or ' '
  CHAR8 Units[4];     // a one-character text or a line end, with its terminator
  CHAR8 Digits[28];   // a number's digits, most significant first, with commas
  CHAR8 Scratch[PRINT_SCRATCH_SIZE];
};

void SetWidthOrPrecision(FIELD *Field, UINTN Value) {
  if ((Field->Flags & PF_HAS_PRECISION) != 0) {
    Field->Precision = Value;
  } else {
    Field->Width = Value;
    Field->Flags |= PF_HAS_WIDTH;
  }
}

// Reads the flags, width and precision of the directive whose '%' is at
// Format; returns the position of its conversion character (or of the
// format's 0).
__attribute__((noinline)) const CHAR8 *ParseDirective(const CHAR8 *Format, FIELD *Field, PRINT_ARG_LIST *Args) {
  for (;;) {
    const CHAR8 Character = *++Format;
    if (Character >= '0' && Character <= '9') {
      // A number; a leading '0' before any '.' also asks for zero fill.
      // The first non-digit is read next as a directive character.
      if (Character == '0' && (Field->Flags & PF_HAS_PRECISION) == 0) {
        Field->Flags |= PF_FILL_ZEROS;
      }
      UINTN Value = 0;
      for (; *Format >= '0' && *Format <= '9'; Format++) {
        Value = Value * 10 + static_cast<UINTN>(*Format - '0');
      }
      Format--;
      SetWidthOrPrecision(Field, Value);
    } else if (Character == '*') {
      SetWidthOrPrecision(Field, static_cast<UINT32>(PrintArgTakeAs(Args, false)));
    } else {
      const CHAR8 *Flag = mFlagCharacters;
      while (*Flag != 0 && *Flag != Character) {
        Flag++;
      }
      if (*Flag == 0) {
        return Format;  // the conversion character, the format's 0 included
      }
      Field->Flags |= 1u << mFlagShifts[Flag - mFlagCharacters];
    }
  }
}

// Turns a number conversion into a digit-string field: ValueToText gives the
// digits least significant first; they are laid down most significant first,
// with a comma after every group of three when grouping, so that the layout
// copies them like any text.
__attribute__((noinline)) void PrepareNumber(FIELD *Field, UINT64 Value) {
  UINT32 Flags = Field->Flags;
  if ((Flags & PF_SHOW_SPACE) != 0) {
    Field->Prefix = ' ';
  }
  if ((Flags & PF_SHOW_PLUS) != 0) {
    Field->Prefix = '+';
  }
  bool Grouping = false;
  UINT32 Base = 16;
  if ((Flags & PF_BASE_16) == 0) {
    Base = 10;
    if ((Flags & PF_GROUP_THOUSANDS) != 0) {
      Grouping = true;
      Flags &= ~PF_FILL_ZEROS;
      Field->Precision = 1;
    }
    if (static_cast<INT64>(Value) < 0) {
      Field->Prefix = '-';
      Value = 0 - Value;
    }
  }
  const CHAR8 *Digit = ValueToText(Field->Scratch, Value, Base);
  UINTN Digits = static_cast<UINTN>(Digit - Field->Scratch);
  if (Value == 0 && Field->Precision == 0) {
    Digits = 0;
  }
  // The group counter starts so that the first comma follows the leading group.
  UINTN GroupCounter = (3 - Digits % 3) % 3;
  CHAR8 *Out = Field->Digits;
  for (; Digits != 0; Digits--) {
    *Out++ = *Digit--;
    if (Grouping && ++GroupCounter == 3 && Digits != 1) {
      GroupCounter = 0;
      *Out++ = ',';
    }
  }
  Field->Text = Field->Digits;
  Field->Count = static_cast<UINTN>(Out - Field->Digits);
  if (Field->Prefix != 0) {
    Field->Count++;
    Field->Precision++;
  }
  Flags |= PF_NUMBER_LAYOUT;
  const UINT32 ZeroFillMask = PF_FILL_ZEROS | PF_HAS_WIDTH | PF_ALIGN_LEFT | PF_HAS_PRECISION;
  if ((Flags & ZeroFillMask) == (PF_FILL_ZEROS | PF_HAS_WIDTH)) {
    Field->Precision = Field->Width;
  }
  Field->Flags = Flags;
}

// Conversion characters by class: numbers, texts, records, 'c', 'r', line
// ends. Any other character is a one-character text of itself.
alignas(1) const CHAR8 mConversions[] = "dxXpaSsgtcr\n\r";
enum CONVERSION : UINTN {
  CONVERT_D, CONVERT_X, CONVERT_UPPER_X, CONVERT_P,  // numbers
  CONVERT_A, CONVERT_UPPER_S, CONVERT_S,             // texts
  CONVERT_G, CONVERT_T,                              // records
  CONVERT_C, CONVERT_R,
  CONVERT_LINE_FEED, CONVERT_CARRIAGE_RETURN,
  CONVERT_OTHER
};

// Prepares the field of the conversion character at Format; returns the
// position after the format characters it consumed.
__attribute__((noinline)) const CHAR8 *Convert(const CHAR8 *Format, FIELD *Field, PRINT_ARG_LIST *Args) {
  const CHAR8 Conversion = *Format;
  Field->Units[0] = Conversion;
  Field->Units[1] = 0;
  if (Conversion == 0) {
    // The format ended inside the directive: an empty text.
    Field->Precision = 0;
    return Format;
  }
  Format++;
  const void *Found = __builtin_memchr(mConversions, Conversion, sizeof mConversions - 1);
  const UINTN Class = Found == nullptr ? CONVERT_OTHER : static_cast<UINTN>(static_cast<const CHAR8 *>(Found) - mConversions);
  // Every conversion up to 'r' takes one argument; texts and records a pointer.
  UINT64 Argument = 0;
  if (Class <= CONVERT_R) {
    Argument = PrintArgTakeAs(Args, Class - CONVERT_A <= CONVERT_T - CONVERT_A);
  }
  const auto *Pointer = reinterpret_cast<const CHAR8 *>(static_cast<__UINTPTR_TYPE__>(Argument));

  if (Class <= CONVERT_P) {
    if (Class != CONVERT_D) {
      Field->Flags |= PF_BASE_16;
      if (Class != CONVERT_X) {
        Field->Flags |= PF_FILL_ZEROS;
      }
      if (Class == CONVERT_P) {
        Field->Flags &= ~(PF_SHOW_PLUS | PF_SHOW_SPACE | PF_VALUE_64);
      }
    }
    if ((Field->Flags & PF_VALUE_64) == 0) {
      Argument = Class == CONVERT_D ? static_cast<UINT64>(static_cast<INT64>(static_cast<INT32>(Argument)))
                                    : static_cast<UINT32>(Argument);
    }
    PrepareNumber(Field, Argument);
  } else if (Class <= CONVERT_S) {
    Field->Text = Pointer;
    if (Class != CONVERT_A) {
      Field->Flags |= PF_TEXT_CHAR16;
    }
    if (Pointer == nullptr) {
      Field->Text = "<null string>";
      Field->Flags &= ~PF_TEXT_CHAR16;
    }
    if ((Field->Flags & PF_HAS_PRECISION) == 0) {
      Field->Precision = 0;
    }
  } else if (Class == CONVERT_C) {
    Field->Flags |= PF_TEXT_CHAR16;
    Field->Units[0] = static_cast<CHAR8>(Argument);
    Field->Units[1] = static_cast<CHAR8>(Argument >> 8);
    Field->Units[2] = 0;
    Field->Units[3] = 0;
  } else if (Class <= CONVERT_R) {
    // The GUID, time and unnamed-status texts: a nested PrintAscii into the
    // scratch area. A named status is its name.
    const UINT8 *Fields = mGuidFields;
    UINTN Count = sizeof mGuidFields;
    const CHAR8 *RecordFormat = "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x";
    Field->Text = "<null guid>";
    if (Class == CONVERT_T) {
      Fields = mTimeFields;
      Count = sizeof mTimeFields;
      RecordFormat = "%02d/%02d/%04d  %02d:%02d";
      Field->Text = "<null time>";
    }
    const UINT32 Status = static_cast<UINT32>(Argument);
    if (Class == CONVERT_R) {
      Field->Text = StatusName(Status);
      Pointer = Field->Text == nullptr ? reinterpret_cast<const CHAR8 *>(&Status) : nullptr;
      Fields = mStatusFields;
      Count = sizeof mStatusFields;
      RecordFormat = "%08X";
    }
    if (Pointer != nullptr) {
      Field->Text = RecordText(reinterpret_cast<const UINT8 *>(Pointer), Fields, Count, RecordFormat, Field->Scratch);
    }
  } else if (Class != CONVERT_OTHER) {
    // "\n", "\r\n" and "\n\r" are one line end; a lone "\r" stays itself.
    Field->Units[0] = '\r';
    Field->Units[1] = '\n';
    Field->Units[2] = 0;
    if (*Format == (Conversion ^ '\n' ^ '\r')) {
      Format++;
    } else if (Conversion == '\r') {
      Field->Units[1] = 0;
    }
  }
  return Format;
}

// One character at Position, unless it has reached End.
inline CHAR8 *PutChar(CHAR8 *Position, CHAR8 *End, CHAR8 Character) {
  if (Position < End) {
    *Position++ = Character;
  }
  return Position;
}

// Lays the field out at Buffer. A text's units are counted up to its
// terminator and, with a precision, no further than the precision: nothing
// beyond either is read.
__attribute__((noinline)) CHAR8 *LayOutField(CHAR8 *Buffer, CHAR8 *End, FIELD *Field) {
  const UINT32 Flags = Field->Flags;
  const CHAR8 *Text = Field->Text;
  const bool Wide = (Flags & PF_TEXT_CHAR16) != 0;
  UINTN Count = Field->Count;
  if ((Flags & PF_NUMBER_LAYOUT) == 0) {
    const UINTN Limit = (Flags & PF_HAS_PRECISION) != 0 ? Field->Precision : ~static_cast<UINTN>(0);
    if (!Wide) {
      const void *Zero = __builtin_memchr(Text, 0, Limit);
      Count = Zero == nullptr ? Limit : static_cast<UINTN>(static_cast<const CHAR8 *>(Zero) - Text);
    } else {
      while (Count < Limit && (Text[2 * Count] | Text[2 * Count + 1]) != 0) {
        Count++;
      }
    }
  }
  const UINTN Precision = Field->Precision < Count ? Count : Field->Precision;
  const INT32 WidthFill = (Flags & PF_HAS_WIDTH) != 0 ? static_cast<INT32>(Field->Width - Precision) : 0;
  if ((Flags & PF_ALIGN_LEFT) == 0) {
    Buffer = FillChars(Buffer, End, WidthFill, ' ');
  }
  UINTN Units = Count;
  if (Field->Prefix != 0) {
    Buffer = PutChar(Buffer, End, Field->Prefix);
    Units--;
  }
  Buffer = FillChars(Buffer, End, static_cast<INT32>(Precision - Count), (Flags & PF_NUMBER_LAYOUT) != 0 ? '0' : ' ');
  if (!Wide) {
    // What fits of a 1-byte text (or of a number's digits), at once.
    const UINTN Room = static_cast<UINTN>(End - Buffer);
    Units = Units < Room ? Units : Room;
    __builtin_memcpy(Buffer, Text, Units);
    Buffer += Units;
  } else {
    for (UINTN Unit = 0; Unit < Units; Unit++) {
      Buffer = PutChar(Buffer, End, Text[2 * Unit]);  // the low byte of each unit
    }
  }
  if ((Flags & PF_ALIGN_LEFT) != 0) {
    Buffer = FillChars(Buffer, End, WidthFill, ' ');
  }
  return Buffer;
}

}  // namespace

CHAR8 *FillChars(CHAR8 *Position, CHAR8 *End, INT32 Count, UINT16 Character) {
  for (; Count > 0 && Position < End; Count--) {
    *Position++ = static_cast<CHAR8>(Character);
  }
  return Position;
}

CHAR8 *ValueToText(CHAR8 *Scratch, UINT64 Value, UINT32 Base) {
  *Scratch = 0;
  do {
    UINT32 Remainder;
    if ((Value >> 32) == 0 && Base != 0) {
      // A 32-bit dividend needs no 64-bit division: the same digits.
      const UINT32 Low = static_cast<UINT32>(Value);
      Remainder = Low % Base;
      Value = Low / Base;
    } else {
      Value = DivU64x32Remainder(Value, Base, &Remainder);
    }
    *++Scratch = mDigits[Remainder & 0xF];
  } while (Value != 0);
  return Scratch;
}

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

  FIELD Field;
  Field.Flags = 0;
  while (*Format != 0 && Buffer != End) {
    if (!EndsLiteralRun(*Format)) {
      *Buffer++ = *Format++;  // a literal is a one-character text of itself
      continue;
    }
    __builtin_memset(&Field, 0, __builtin_offsetof(FIELD, Units));
    Field.Precision = 1;
    Field.Text = Field.Units;
    if (*Format == '%') {
      Format = ParseDirective(Format, &Field, Args);
    }
    Format = Convert(Format, &Field, Args);
    Buffer = LayOutField(Buffer, End, &Field);
  }

  ASSERT(Buffer != ((void *) 0));
  FillChars(Buffer, End + 1, 1, 0);

  const UINT32 Flags = Field.Flags;
  ASSERT((((Flags & 0x00000040) != 0)) || (AsciiStrSize (OriginalBuffer) != 0));
  return static_cast<UINTN>(Buffer - OriginalBuffer);
}
