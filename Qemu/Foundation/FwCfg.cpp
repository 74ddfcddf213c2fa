#include "FwCfg.h"

#include "PortIo.h"

#define FW_CFG_SELECTOR 0x510  // a 16-bit write selects an item
#define FW_CFG_DATA 0x511      // each byte read advances
#define FW_CFG_SIGNATURE 0x0000
#define FW_CFG_DIRECTORY 0x0019
#define FW_CFG_NAME_SIZE 56
#define FW_CFG_MAX_FILES 256

namespace {

UINT32 ReadBigEndian(UINT32 Bytes) {
  UINT32 Value = 0;
  for (UINT32 Index = 0; Index < Bytes; Index++) {
    Value = Value << 8 | InByte(FW_CFG_DATA);
  }
  return Value;
}

}  // namespace

FW_CFG_READ ReadFwCfgFile(const char *Name, char *Buffer, UINT32 Capacity) {
  OutWord(FW_CFG_SELECTOR, FW_CFG_SIGNATURE);
  const char Signature[4] = {'Q', 'E', 'M', 'U'};
  for (char Expected : Signature) {
    if (InByte(FW_CFG_DATA) != static_cast<UINT8>(Expected)) {
      return FW_CFG_ABSENT;  // no fw_cfg device
    }
  }
  OutWord(FW_CFG_SELECTOR, FW_CFG_DIRECTORY);
  const UINT32 Count = ReadBigEndian(4);
  for (UINT32 File = 0; File < Count && File < FW_CFG_MAX_FILES; File++) {
    const UINT32 Size = ReadBigEndian(4);
    const UINT16 Select = static_cast<UINT16>(ReadBigEndian(2));
    ReadBigEndian(2);  // reserved
    bool Same = true, Ended = false;
    for (UINT32 Index = 0; Index < FW_CFG_NAME_SIZE; Index++) {
      const char Character = static_cast<char>(InByte(FW_CFG_DATA));
      Same = Same && (Ended ? Character == 0 : Character == Name[Index]);
      Ended = Ended || Name[Index] == 0;
    }
    if (Same && Ended) {
      if (Size >= Capacity) {
        return FW_CFG_TOO_LONG;  // cut, the settings would say something else
      }
      OutWord(FW_CFG_SELECTOR, Select);
      for (UINT32 Index = 0; Index < Size; Index++) {
        Buffer[Index] = static_cast<char>(InByte(FW_CFG_DATA));
      }
      Buffer[Size] = 0;
      return FW_CFG_READ_WHOLE;
    }
  }
  return FW_CFG_ABSENT;
}
