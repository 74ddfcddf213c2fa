#include "FwCfg.h"

#include "PortIo.h"

#define FW_CFG_SELECTOR 0x510  // a 16-bit write selects an item
#define FW_CFG_DATA 0x511      // each byte read advances
#define FW_CFG_DMA_HIGH 0x514  // a DMA descriptor's address, big-endian: its high half,
#define FW_CFG_DMA_LOW 0x518   // then its low half, whose write starts the transfer
#define FW_CFG_SIGNATURE 0x0000
#define FW_CFG_FEATURES 0x0001
#define FW_CFG_FEATURE_DMA 0x2u
#define FW_CFG_DIRECTORY 0x0019
#define FW_CFG_DMA_ERROR 0x1u
#define FW_CFG_DMA_READ 0x2u
#define FW_CFG_DMA_SELECT 0x8u
#define FW_CFG_NAME_SIZE 56
#define FW_CFG_MAX_FILES 256

namespace {

UINT32 BigEndian32(UINT32 Value) { return __builtin_bswap32(Value); }

// One file of the directory, as fw_cfg keeps it (big-endian numbers).
struct FW_CFG_FILE {
  UINT32 Size;
  UINT16 Select;
  UINT16 Reserved;
  char Name[FW_CFG_NAME_SIZE];
};
static_assert(sizeof(FW_CFG_FILE) == 64);

// The DMA descriptor: control, length and address, big-endian.
struct FW_CFG_DMA_ACCESS {
  UINT32 Control;
  UINT32 Length;
  UINT32 AddressHigh;
  UINT32 AddressLow;
};

// Reads Length bytes into Buffer by DMA: from the start of item Select, or
// on from where the last read of the selected item ended (Select 0 and
// Continue). One transfer, whatever the length: each byte through the data
// port would be an instruction of its own. False when the device reports an
// error.
bool DmaRead(UINT16 Select, bool Continue, void *Buffer, UINT32 Length) {
  volatile FW_CFG_DMA_ACCESS Access = {
      BigEndian32((Continue ? 0u : static_cast<UINT32>(Select) << 16 | FW_CFG_DMA_SELECT) | FW_CFG_DMA_READ),
      BigEndian32(Length), 0, BigEndian32(reinterpret_cast<UINT32>(Buffer))};
  __asm__ volatile("" : : : "memory");  // the descriptor is in memory before the device reads it
  OutDword(FW_CFG_DMA_HIGH, 0);
  OutDword(FW_CFG_DMA_LOW, BigEndian32(reinterpret_cast<UINT32>(&Access)));
  __asm__ volatile("" : : : "memory");  // and the buffer is read after the device wrote it
  return (BigEndian32(Access.Control) & FW_CFG_DMA_ERROR) == 0;
}

// Item Select's first four bytes through the data port, least significant first.
UINT32 ReadPortWord(UINT16 Select) {
  OutWord(FW_CFG_SELECTOR, Select);
  UINT32 Value = 0;
  for (UINT32 Index = 0; Index < 4; Index++) {
    Value |= static_cast<UINT32>(InByte(FW_CFG_DATA)) << (8 * Index);
  }
  return Value;
}

bool SameName(const char *Stored, const char *Name) {
  for (UINT32 Index = 0; Index < FW_CFG_NAME_SIZE; Index++) {
    if (Stored[Index] != Name[Index]) {
      return false;
    }
    if (Name[Index] == 0) {
      return true;
    }
  }
  return false;
}

}  // namespace

FW_CFG_READ ReadFwCfgFile(const char *Name, char *Buffer, UINT32 Capacity) {
  if (ReadPortWord(FW_CFG_SIGNATURE) != 0x554D4551u) {  // "QEMU"
    return FW_CFG_ABSENT;  // no fw_cfg device
  }
  if ((ReadPortWord(FW_CFG_FEATURES) & FW_CFG_FEATURE_DMA) == 0) {
    return FW_CFG_NO_DMA;
  }
  UINT32 Count = 0;
  if (!DmaRead(FW_CFG_DIRECTORY, false, &Count, sizeof Count)) {
    return FW_CFG_DEVICE_ERROR;
  }
  Count = BigEndian32(Count);
  for (UINT32 File = 0; File < Count && File < FW_CFG_MAX_FILES; File++) {
    FW_CFG_FILE Entry;
    if (!DmaRead(0, true, &Entry, sizeof Entry)) {
      return FW_CFG_DEVICE_ERROR;
    }
    if (!SameName(Entry.Name, Name)) {
      continue;
    }
    const UINT32 Size = BigEndian32(Entry.Size);
    if (Size >= Capacity) {
      return FW_CFG_TOO_LONG;  // cut, the settings would say something else
    }
    if (!DmaRead(static_cast<UINT16>(__builtin_bswap16(Entry.Select)), false, Buffer, Size)) {
      return FW_CFG_DEVICE_ERROR;
    }
    Buffer[Size] = 0;
    return FW_CFG_READ_WHOLE;
  }
  return FW_CFG_ABSENT;
}
