// A test-only PEIM that does, one at a time, what the ROM's foundation must
// refuse, catch or serve: the case is a byte of its own image (gProbeCase),
// which a test patches before it runs the probe on QEMU in place of the
// module. What the probe sees of the PEI services it reports through
// SerialWrite, which the foundation watches; what the foundation catches, it
// reports itself.
#include "Library/DebugLib.h"
#include "Library/PrintLib.h"
#include "Pi/PeiServices.h"

#define PPI_FLAG 0x00000010u
#define TERMINATE_FLAG 0x80000000u
#define DATABASE_SIZE 16u

enum PROBE_CASE : UINT8 {
  PROBE_RETURN = 0,               // return EFI_SUCCESS, nothing else
  PROBE_UNEXPECTED_SERVICE = 1,   // call GetBootMode, a service the foundation does not serve
  PROBE_EXCEPTION = 2,            // an invalid opcode
  PROBE_CHANGED_EBX = 3,          // return with EBX not what it was
  PROBE_INVALID_LIST = 4,         // a list whose second descriptor is no PPI
  PROBE_FULL_DATABASE = 5,        // a list larger than the room left, then one at a time
  PROBE_SECOND_INSTANCE = 6,      // two PPIs of one GUID, located by instance
  PROBE_STORE_INTO_IMAGE = 7,     // a store into its own image, in flash
  PROBE_STACK_TOUCH = 8,          // a store far below its stack
  PROBE_STACK_PUSH = 9,           // a push off the bottom of its stack
  PROBE_BAD_SINK_BUFFER = 10,     // SerialWrite given a buffer outside RAM
  PROBE_SERVICES_TABLE = 11,      // the table's header, and a distinct entry in each of its slots
  PROBE_DEEP_STACK = 12,          // 2 KiB of stack: deeper than the foundation measures, well inside the stack
};

extern "C" volatile UINT8 gProbeCase = PROBE_RETURN;
extern "C" volatile UINT32 gProbeWord = 0;  // in the image: in flash when the probe runs in place

namespace {

const EFI_GUID kFirst = {0x0D15EA5E, 0x0001, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 1}};
const EFI_GUID kSecond = {0x0D15EA5E, 0x0002, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 2}};

using INSTALL_PPI = EFI_STATUS(EFIAPI *)(const EFI_PEI_SERVICES **, const EFI_PEI_PPI_DESCRIPTOR *);
using SERVICE = EFI_STATUS(EFIAPI *)(const EFI_PEI_SERVICES **);

EFI_STATUS Install(const EFI_PEI_SERVICES **Services, const EFI_PEI_PPI_DESCRIPTOR *List) {
  return reinterpret_cast<INSTALL_PPI>((*Services)->InstallPpi)(Services, List);
}

EFI_STATUS Locate(const EFI_PEI_SERVICES **Services, const EFI_GUID &Guid, UINTN Instance, void **Ppi) {
  return (*Services)->LocatePpi(Services, &Guid, Instance, nullptr, Ppi);
}

// One line to the sink: what the probe saw.
void Report(const CHAR8 *Text) {
  UINTN Length = 0;
  while (Text[Length] != 0) {
    Length++;
  }
  SerialWrite(reinterpret_cast<const UINT8 *>(Text), Length);
}

// The probe's image lies in flash: what it builds at run time lives on its
// stack, what it only reads may lie in the image.
const UINT32 kOne = 1, kTwo = 2;

EFI_STATUS InvalidList(const EFI_PEI_SERVICES **Services) {
  static const EFI_PEI_PPI_DESCRIPTOR List[2] = {{PPI_FLAG, &kFirst, const_cast<UINT32 *>(&kOne)},
                                                 {TERMINATE_FLAG, &kSecond, const_cast<UINT32 *>(&kOne)}};
  const EFI_STATUS Installed = Install(Services, List);
  void *Found = nullptr;
  const EFI_STATUS Located = Locate(Services, kFirst, 0, &Found);
  CHAR8 Text[64];
  PrintAscii(Text, sizeof Text, "install %08X locate %08X", Installed, Located);
  Report(Text);
  return EFI_SUCCESS;
}

EFI_STATUS FullDatabase(const EFI_PEI_SERVICES **Services) {
  UINT32 Ppi = 0;
  EFI_PEI_PPI_DESCRIPTOR Whole[DATABASE_SIZE];
  for (UINT32 Index = 0; Index < DATABASE_SIZE; Index++) {
    Whole[Index] = {PPI_FLAG | (Index + 1 == DATABASE_SIZE ? TERMINATE_FLAG : 0), &kFirst, &Ppi};
  }
  const EFI_STATUS WholeStatus = Install(Services, Whole);
  void *Found = nullptr;
  const EFI_STATUS Located = Locate(Services, kFirst, 0, &Found);
  EFI_PEI_PPI_DESCRIPTOR Single[DATABASE_SIZE + 1];
  UINT32 Taken = 0;
  EFI_STATUS Status = EFI_SUCCESS;
  for (; Taken <= DATABASE_SIZE; Taken++) {
    Single[Taken] = {PPI_FLAG | TERMINATE_FLAG, &kSecond, &Ppi};
    Status = Install(Services, &Single[Taken]);
    if (EFI_ERROR(Status)) {
      break;
    }
  }
  CHAR8 Text[96];
  PrintAscii(Text, sizeof Text, "whole %08X locate %08X singles %d then %08X", WholeStatus, Located, Taken, Status);
  Report(Text);
  return EFI_SUCCESS;
}

EFI_STATUS SecondInstance(const EFI_PEI_SERVICES **Services) {
  static const EFI_PEI_PPI_DESCRIPTOR List[2] = {{PPI_FLAG, &kSecond, const_cast<UINT32 *>(&kOne)},
                                                 {PPI_FLAG | TERMINATE_FLAG, &kSecond, const_cast<UINT32 *>(&kTwo)}};
  const EFI_STATUS Installed = Install(Services, List);
  void *Found[3] = {};
  EFI_STATUS Located[3];
  for (UINTN Instance = 0; Instance < 3; Instance++) {
    Located[Instance] = Locate(Services, kSecond, Instance, &Found[Instance]);
  }
  CHAR8 Text[96];
  PrintAscii(Text, sizeof Text, "install %08X instance 0 %08X %d instance 1 %08X %d instance 2 %08X", Installed,
             Located[0], Found[0] != nullptr ? *static_cast<UINT32 *>(Found[0]) : 0, Located[1],
             Found[1] != nullptr ? *static_cast<UINT32 *>(Found[1]) : 0, Located[2]);
  Report(Text);
  return EFI_SUCCESS;
}

// The table as PEI foundations lay it out: its header, then 28 slots
// (InstallPpi to FreePages), each a routine of its own.
EFI_STATUS ServicesTable(const EFI_PEI_SERVICES **Services) {
  const EFI_TABLE_HEADER &Header = (*Services)->Hdr;
  void *const *Slots = &(*Services)->InstallPpi;
  const UINT32 Count = (Header.HeaderSize - sizeof Header) / sizeof(void *);
  UINT32 Distinct = 0;
  for (UINT32 Index = 0; Index < Count && Index < 64; Index++) {
    bool Unique = Slots[Index] != nullptr;
    for (UINT32 Other = 0; Other < Index && Unique; Other++) {
      Unique = Slots[Other] != Slots[Index];
    }
    Distinct += Unique ? 1 : 0;
  }
  CHAR8 Text[96];
  PrintAscii(Text, sizeof Text, "signature %08X%08X revision %08X size %d slots %d distinct %d",
             static_cast<UINT32>(Header.Signature >> 32), static_cast<UINT32>(Header.Signature), Header.Revision,
             Header.HeaderSize, Count, Distinct);
  Report(Text);
  return EFI_SUCCESS;
}

// Far below the stack in one step, as a large local array would take it.
__attribute__((noinline)) void TouchFarBelow() {
  volatile UINT8 *Below;
  __asm__ volatile("lea -0x8000(%%esp), %0" : "=r"(Below));
  *Below = 1;
}

// 2 KiB of stack written word by word, as a large local array filled.
__attribute__((noinline)) void TouchDeep() {
  volatile UINT32 Words[512];
  for (UINT32 Index = 0; Index < 512; Index++) {
    Words[Index] = Index;
  }
}

}  // namespace

extern "C" __attribute__((used)) EFI_STATUS EFIAPI ProbeBody(EFI_PEI_FILE_HANDLE, const EFI_PEI_SERVICES **Services) {
  switch (gProbeCase) {
    case PROBE_UNEXPECTED_SERVICE:
      return reinterpret_cast<SERVICE>((*Services)->GetBootMode)(Services);
    case PROBE_EXCEPTION:
      __builtin_trap();
    case PROBE_INVALID_LIST:
      return InvalidList(Services);
    case PROBE_FULL_DATABASE:
      return FullDatabase(Services);
    case PROBE_SECOND_INSTANCE:
      return SecondInstance(Services);
    case PROBE_STORE_INTO_IMAGE:
      gProbeWord = 0x5A5A5A5Au;
      return EFI_SUCCESS;
    case PROBE_STACK_TOUCH:
      TouchFarBelow();
      return EFI_SUCCESS;
    case PROBE_STACK_PUSH:
      // The stack pointer at the very bottom of the PEIM stack, then a push.
      __asm__ volatile("movl %%esp, %%eax; movl $0x00800000, %%esp; pushl $0; movl %%eax, %%esp" : : : "eax", "memory");
      return EFI_SUCCESS;
    case PROBE_SERVICES_TABLE:
      return ServicesTable(Services);
    case PROBE_DEEP_STACK:
      TouchDeep();
      return EFI_SUCCESS;
    case PROBE_BAD_SINK_BUFFER:
      SerialWrite(reinterpret_cast<const UINT8 *>(0xFFFFF000u), 16);
      return EFI_SUCCESS;
    default:
      return EFI_SUCCESS;
  }
}

// The entry: the changed-EBX case before any compiled code could save and
// restore EBX, every other case in the body.
extern "C" __attribute__((naked)) EFI_STATUS EFIAPI FoundationProbeEntry(EFI_PEI_FILE_HANDLE, const EFI_PEI_SERVICES **) {
  __asm__ volatile(
      "cmpb $3, _gProbeCase\n"
      "jne _ProbeBody\n"
      "movl $0x12345678, %ebx\n"
      "xorl %eax, %eax\n"
      "ret\n");
}
