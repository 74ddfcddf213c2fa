// Basic types of the module. The module runs on 32-bit x86: UINTN, EFI_STATUS
// and every physical address are 32 bits wide, on every machine that builds it.
#ifndef MDEPKG_BASE_H_
#define MDEPKG_BASE_H_

#include "EngineForm.h"

using UINT8 = unsigned char;
using UINT16 = unsigned short;
using UINT32 = unsigned int;
using UINT64 = unsigned long long;
using INT8 = signed char;
using INT16 = short;
using INT32 = int;
using INT64 = long long;
using UINTN = UINT32;
using INTN = INT32;
using CHAR8 = char;
using CHAR16 = char16_t;
using BOOLEAN = bool;
using EFI_STATUS = UINTN;

static_assert(sizeof(UINT8) == 1 && sizeof(UINT16) == 2 && sizeof(UINT32) == 4 && sizeof(UINT64) == 8);
static_assert(sizeof(CHAR16) == 2 && sizeof(UINTN) == 4);

// The PI calling convention on IA-32 is cdecl; on the host the native one.
#if defined(__i386__)
#define EFIAPI __attribute__((cdecl))
#else
#define EFIAPI
#endif

#define EFI_SUCCESS 0x00000000u
#define EFI_INVALID_PARAMETER 0x80000002u
#define EFI_OUT_OF_RESOURCES 0x80000009u
#define EFI_NOT_FOUND 0x8000000Eu
#define EFI_ERROR(Status) (((Status) & 0x80000000u) != 0)

struct EFI_GUID {
  UINT32 Data1;
  UINT16 Data2;
  UINT16 Data3;
  UINT8 Data4[8];
};
static_assert(sizeof(EFI_GUID) == 16);

struct EFI_TIME {
  UINT16 Year;
  UINT8 Month;
  UINT8 Day;
  UINT8 Hour;
  UINT8 Minute;
  UINT8 Second;
  UINT8 Pad1;
  UINT32 Nanosecond;
  INT16 TimeZone;
  UINT8 Daylight;
  UINT8 Pad2;
};
static_assert(sizeof(EFI_TIME) == 16);

// Physical address of something the platform hands over as a pointer. On the
// 32-bit target this is the pointer itself; on a host the board only hands out
// addresses below 4 GiB, so the low 32 bits carry all of it.
inline UINTN PhysicalAddressOf(const void *Pointer) {
  return static_cast<UINTN>(reinterpret_cast<__UINTPTR_TYPE__>(Pointer));
}

#endif  // MDEPKG_BASE_H_
