#include "Console.h"

#include "FoundationProtocol.h"
#include "PortIo.h"

namespace {

const char kDigits[] = "0123456789ABCDEF";

}  // namespace

void PrintChar(char Character) { OutByte(foundation_protocol::kDebugConsolePort, static_cast<UINT8>(Character)); }

void Print(const char *Text) {
  while (*Text != 0) {
    PrintChar(*Text++);
  }
}

void PrintHex(UINT32 Value, int Digits) {
  Print("0x");
  for (int Shift = (Digits - 1) * 4; Shift >= 0; Shift -= 4) {
    PrintChar(kDigits[(Value >> Shift) & 0xF]);
  }
}

void PrintDecimal(UINT32 Value) {
  char Digits[10];
  int Count = 0;
  do {
    Digits[Count++] = static_cast<char>('0' + Value % 10);
    Value /= 10;
  } while (Value != 0);
  while (Count > 0) {
    PrintChar(Digits[--Count]);
  }
}

void PrintHexBytes(const UINT8 *Bytes, UINT32 Count) {
  for (UINT32 Index = 0; Index < Count; Index++) {
    PrintChar(kDigits[Bytes[Index] >> 4]);
    PrintChar(kDigits[Bytes[Index] & 0xF]);
  }
}

void PrintGuid(const UINT8 *Guid) {
  // Data1, Data2 and Data3 are stored little-endian; Data4 as it is.
  const UINT8 Order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  for (UINT32 Index = 0; Index < 16; Index++) {
    if (Index == 4 || Index == 6 || Index == 8 || Index == 10) {
      PrintChar('-');
    }
    PrintHexBytes(Guid + Order[Index], 1);
  }
}

void ReportWord(const char *Name, UINT32 Value) {
  Print(Name);
  Print(" ");
  PrintHex(Value, 8);
  Print("\n");
}

void ExitQemu(UINT8 Code) {
  OutDword(foundation_protocol::kDebugExitPort, Code);
  for (;;) {
    __asm__ volatile("cli; hlt");
  }
}

extern "C" void *memset(void *Destination, int Value, __SIZE_TYPE__ Size) {
  auto *Bytes = static_cast<UINT8 *>(Destination);
  for (__SIZE_TYPE__ Index = 0; Index < Size; Index++) {
    Bytes[Index] = static_cast<UINT8>(Value);
  }
  return Destination;
}

extern "C" void *memcpy(void *Destination, const void *Source, __SIZE_TYPE__ Size) {
  auto *To = static_cast<UINT8 *>(Destination);
  const auto *From = static_cast<const UINT8 *>(Source);
  for (__SIZE_TYPE__ Index = 0; Index < Size; Index++) {
    To[Index] = From[Index];
  }
  return Destination;
}
