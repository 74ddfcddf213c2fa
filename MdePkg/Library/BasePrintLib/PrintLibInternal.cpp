// The format engine. One pass over the format: each format character (a
// literal, a line end or a whole directive) becomes a field, and every field
// is laid out against the end position, so output stops exactly there
// wherever it falls.
//
// Written for size. Bulk work goes through memchr and memcpy, which the
// host's C library does quickly and the image's runtime in a few bytes.
#include "Library/BaseLib.h"
#include "Library/DebugLib.h"
#include "Library/PrintLib.h"
#include "PrintSteps.h"
#include "StatusText.h"

FIRMWARE_ROUTINES_BEGIN

namespace {

using namespace print_steps;

using namespace print_grammar;

// A record rendered through a nested PrintAscii into the scratch area ('g',
// 't' and an unnamed 'r'): where its format, null text and value list lie in
// the engine's constants. A value byte is the field's offset in the record
// times 4, plus 0 for a byte, 1 for a 16-bit field read with
// LoadUnaligned16, 2 for one 32-bit read.
struct RECORD_KIND {
  UINT8 FormatAt, NullAt, FieldsAt, Count;
};
#define RECORD_FIELD(Offset, Size) static_cast<UINT8>((Offset) << 2 | (Size))
#define FIELD_OF(Record, Member, Size) RECORD_FIELD(__builtin_offsetof(Record, Member), Size)
#define GUID_BYTE(Index) RECORD_FIELD(__builtin_offsetof(EFI_GUID, Data4) + (Index), 0)

// Every constant of the engine in one block, the most used first.
struct ENGINE_DATA {
  CHAR8 Digits[sizeof "0123456789ABCDEF"];
  FLAG_TABLES Flags;     // the flag characters and the bit each sets
  UINT8 NumberFlags[4];  // what 'd', 'x', 'X' and 'p' add to the flags
  CONVERSION_CHARACTERS Conversions;
  RECORD_KIND Records[3];  // 'g', 't', 'r'
  UINT8 GuidFields[11];    // Data1, Data2, Data3, Data4[0..7]
  UINT8 TimeFields[5];     // Month, Day, Year, Hour, Minute
  UINT8 StatusFields[1];
  CHAR8 NullString[sizeof "<null string>"];
  CHAR8 NullGuid[sizeof "<null guid>"];
  CHAR8 NullTime[sizeof "<null time>"];
  CHAR8 StatusFormat[sizeof "%08X"];
  CHAR8 TimeFormat[sizeof "%02d/%02d/%04d  %02d:%02d"];
  CHAR8 GuidFormat[sizeof "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x"];
};
#define DATA_AT(Member) static_cast<UINT8>(__builtin_offsetof(ENGINE_DATA, Member))

// The status record has no null text: its pointer is the status's own
// address, never null, so its NullAt is never used; 0 merely names the start
// of the block.
alignas(1) constexpr ENGINE_DATA mEngineData = {
    "0123456789ABCDEF",
    kFlagTables,
    {kConversions[CONVERT_D].Sets, kConversions[CONVERT_X].Sets, kConversions[CONVERT_UPPER_X].Sets,
     kConversions[CONVERT_P].Sets},
    kConversionCharacters,
    {{DATA_AT(GuidFormat), DATA_AT(NullGuid), DATA_AT(GuidFields), 11},
     {DATA_AT(TimeFormat), DATA_AT(NullTime), DATA_AT(TimeFields), 5},
     {DATA_AT(StatusFormat), 0, DATA_AT(StatusFields), 1}},
    {FIELD_OF(EFI_GUID, Data1, 2), FIELD_OF(EFI_GUID, Data2, 1), FIELD_OF(EFI_GUID, Data3, 1), GUID_BYTE(0),
     GUID_BYTE(1), GUID_BYTE(2), GUID_BYTE(3), GUID_BYTE(4), GUID_BYTE(5), GUID_BYTE(6), GUID_BYTE(7)},
    {FIELD_OF(EFI_TIME, Month, 0), FIELD_OF(EFI_TIME, Day, 0), FIELD_OF(EFI_TIME, Year, 1), FIELD_OF(EFI_TIME, Hour, 0),
     FIELD_OF(EFI_TIME, Minute, 0)},
    {RECORD_FIELD(0, 2)},  // the status, one 32-bit read
    "<null string>",
    "<null guid>",
    "<null time>",
    "%08X",
    "%02d/%02d/%04d  %02d:%02d",
    "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x",
};
static_assert(sizeof(ENGINE_DATA) < 256, "the record kinds reach their texts by 8-bit offsets");
static_assert(sizeof(EFI_GUID) << 2 <= 256 && sizeof(EFI_TIME) << 2 <= 256, "a field offset fits a value byte");
static_assert(CONVERT_T == CONVERT_G + 1 && CONVERT_R == CONVERT_G + 2, "Records follows the record classes");
#define RECORD_VALUES_MAX (sizeof mEngineData.GuidFields)

inline const ENGINE_DATA *EngineData() { return PinInRegister(&mEngineData); }

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
  CHAR8 Digits[27];   // a number's digits, most significant first, with commas (26 at most)
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

// The field's one-character text (or line end, or CHAR16 unit), the bytes of
// Units little-endian, and its terminator: one 32-bit store.
inline void SetUnits(FIELD *Field, UINT32 Units) { __builtin_memcpy(Field->Units, &Units, sizeof Units); }

// Reads the flags, width and precision of the directive whose '%' is at
// Format; returns the position of its conversion character (or of the
// format's 0).
const CHAR8 *ParseDirective(const CHAR8 *Format, FIELD *Field, PRINT_ARG_LIST *Args) {
  for (;;) {
    const CHAR8 Character = *++Format;
    if (Character >= '0' && Character <= '9') {
      // A number; a leading '0' before any '.' also asks for zero fill.
      // The first non-digit is read next as a directive character.
      if (Character == '0' && (Field->Flags & PF_HAS_PRECISION) == 0) {
        Field->Flags |= PF_FILL_ZEROS;
      }
      UINTN Value = static_cast<UINTN>(Character - '0');
      for (UINTN Digit; (Digit = static_cast<UINTN>(Format[1] - '0')) <= 9; Format++) {
        Value = Value * 10 + Digit;
      }
      SetWidthOrPrecision(Field, Value);
    } else if (Character == '*') {
      SetWidthOrPrecision(Field, static_cast<UINT32>(PrintArgTakeAs(Args, false)));
    } else {
      const ENGINE_DATA *Data = EngineData();
      const UINT32 Flag = FlagOf(Character, Data->Flags.Characters, Data->Flags.Shifts);
      if (Flag == 0) {
        return Format;  // the conversion character, the format's 0 included
      }
      Field->Flags |= Flag;
    }
  }
}

// Turns a number conversion into a digit-string field. The digits are laid
// down from the right end of the field's digit store, so that they read most
// significant first, with a comma in front of every further group of three
// when grouping; the layout then copies them like any text.
PRINT_PART void PrepareNumber(FIELD *Field, UINT64 Value) {
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
  CHAR8 *const Right = Field->Digits + sizeof Field->Digits;
  CHAR8 *Out = Right;
  if (Value != 0 || Field->Precision != 0) {  // 0 with precision 0 has no digit
    const CHAR8 *Digits = EngineData()->Digits;
    Out = LayDigits(Right, Value, Base, Grouping, Digits);
  }
  Field->Text = Out;
  Field->Count = static_cast<UINTN>(Right - Out);
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

// The conversion classes that take a pointer, as a mask.
consteval UINT32 PointerClasses() {
  UINT32 Mask = 0;
  for (UINTN Class = 0; Class < kConversionCount; Class++) {
    Mask |= TakesPointer(Class) ? 1u << Class : 0;
  }
  return Mask;
}
constexpr UINT32 kTakesPointer = PointerClasses();

// Prepares the field of the conversion character at Format; returns the
// position after the format characters it consumed.
PRINT_PART const CHAR8 *Convert(const CHAR8 *Format, FIELD *Field, PRINT_ARG_LIST *Args) {
  const CHAR8 Conversion = *Format;
  SetUnits(Field, static_cast<UINT8>(Conversion));
  if (Conversion == 0) {
    // The format ended inside the directive: an empty text.
    Field->Precision = 0;
    return Format;
  }
  Format++;
  const ENGINE_DATA *Data = EngineData();
  const UINTN Class = ClassOf(Data->Conversions.Of, Conversion);
  // Every conversion up to 'r' takes one argument: a pointer for the texts,
  // 'g' and 't', a number for the others.
  UINT64 Argument = 0;
  if (Class <= CONVERT_R) {
    Argument = PrintArgTakeAs(Args, ((kTakesPointer >> Class) & 1) != 0);
  }
  const auto *Pointer = reinterpret_cast<const CHAR8 *>(static_cast<__UINTPTR_TYPE__>(Argument));

  if (Class <= CONVERT_P) {
    Field->Flags |= Data->NumberFlags[Class];
    if (Class == CONVERT_P) {
      Field->Flags &= ~(PF_SHOW_PLUS | PF_SHOW_SPACE | PF_VALUE_64);
    }
    if ((Field->Flags & PF_VALUE_64) == 0) {
      Argument = Class == CONVERT_D ? static_cast<UINT64>(static_cast<INT64>(static_cast<INT32>(Argument)))
                                    : static_cast<UINT32>(Argument);
    }
    PrepareNumber(Field, Argument);
  } else if (Class <= CONVERT_S) {
    // A null pointer gives "<null string>", a 1-byte text also for 's' and 'S'.
    Field->Text = Pointer;
    if (Pointer == nullptr) {
      Field->Text = Data->NullString;
    } else if (Class != CONVERT_A) {
      Field->Flags |= PF_TEXT_CHAR16;
    }
    if ((Field->Flags & PF_HAS_PRECISION) == 0) {
      Field->Precision = 0;
    }
  } else if (Class == CONVERT_C) {
    Field->Flags |= PF_TEXT_CHAR16;
    SetUnits(Field, static_cast<UINT16>(Argument));  // the unit, then a 0 unit
  } else if (Class <= CONVERT_R) {
    // The GUID, time and unnamed-status texts: a nested PrintAscii into the
    // scratch area. A named status is its name.
    const RECORD_KIND &Kind = Data->Records[Class - CONVERT_G];
    const auto *Texts = reinterpret_cast<const CHAR8 *>(Data);
    Field->Text = Texts + Kind.NullAt;
    const UINT32 Status = static_cast<UINT32>(Argument);
    if (Class == CONVERT_R) {
      Field->Text = StatusName(Status);
      Pointer = Field->Text == nullptr ? reinterpret_cast<const CHAR8 *>(&Status) : nullptr;
    }
    if (Pointer != nullptr) {
      Field->Text = RecordText(reinterpret_cast<const UINT8 *>(Pointer), reinterpret_cast<const UINT8 *>(Texts) + Kind.FieldsAt,
                               Kind.Count, Texts + Kind.FormatAt, Field->Scratch);
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
PRINT_PART CHAR8 *LayOutField(CHAR8 *Buffer, CHAR8 *End, FIELD *Field) {
  const UINT32 Flags = Field->Flags;
  const CHAR8 *Text = Field->Text;
  const bool Wide = (Flags & PF_TEXT_CHAR16) != 0;
  UINTN Count = Field->Count;
  if ((Flags & PF_NUMBER_LAYOUT) == 0) {
    Count = 0;
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
  if ((Flags & PF_ALIGN_LEFT) == 0 && SHOULD_FILL(WidthFill)) {
    Buffer = FillChars(Buffer, End, WidthFill, ' ');
  }
  UINTN Units = Count;
  if (Field->Prefix != 0) {
    Buffer = PutChar(Buffer, End, Field->Prefix);
    Units--;
  }
  if (SHOULD_FILL(Precision - Count)) {
    Buffer = FillChars(Buffer, End, static_cast<INT32>(Precision - Count), (Flags & PF_NUMBER_LAYOUT) != 0 ? '0' : ' ');
  }
  if (!Wide) {
    // What fits of a 1-byte text (or of a number's digits), at once.
    const UINTN Room = static_cast<UINTN>(End - Buffer);
    Units = Units < Room ? Units : Room;
    CopyText(Buffer, Text, Units);
    Buffer += Units;
  } else {
    for (UINTN Unit = 0; Unit < Units; Unit++) {
      Buffer = PutChar(Buffer, End, Text[2 * Unit]);  // the low byte of each unit
    }
  }
  if ((Flags & PF_ALIGN_LEFT) != 0 && SHOULD_FILL(WidthFill)) {
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
    Value = DivU64x32Remainder(Value, Base, &Remainder);
    *++Scratch = EngineData()->Digits[Remainder & 0xF];
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
  FIELD Field;
  Field.Flags = 0;
  Field.Units[0] = 0;
  if (Format == nullptr) {
    Format = Field.Units;  // a null format was reported while measuring it; render nothing
  }
  while (*Format != 0 && Buffer != End) {
    const CHAR8 Character = *Format;
    if (Character != '%' && Character != '\n' && Character != '\r') {
      // Literals are one-character texts of themselves: copied as they come.
      const UINTN Run = CopyLiteralRun(Buffer, End, Format);
      Buffer += Run;
      Format += Run;
      continue;
    }
    // The width is read only with PF_HAS_WIDTH and the count only with
    // PF_NUMBER_LAYOUT, which set them.
    Field.Flags = 0;
    Field.Precision = 1;
    Field.Text = Field.Units;
    Field.Prefix = 0;
    if (Character == '%') {
      Format = ParseDirective(Format, &Field, Args);
    } else if (const UINTN Taken = WriteLineEnd(Buffer, End, Format)) {
      Format += Taken;
      continue;
    }
    Format = Convert(Format, &Field, Args);
    Buffer = LayOutField(Buffer, End, &Field);
  }

  ASSERT(Buffer != ((void *) 0));
  *Buffer = 0;  // the terminator: there is always room for it at or before End

  const UINT32 Flags = Field.Flags;
  ASSERT((((Flags & 0x00000040) != 0)) || (AsciiStrSize (OriginalBuffer) != 0));
  return static_cast<UINTN>(Buffer - OriginalBuffer);
}

FIRMWARE_ROUTINES_END
