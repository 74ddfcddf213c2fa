// The foundation as a multiboot kernel after SeaBIOS: the PE32 image (or a
// volume holding its PEIM) is multiboot module 0, the options are the command
// line. The image is laid out at the load base with its relocations applied.
#include "LoaderCore.h"
#include "LoaderHardware.h"
#include "PeLoad.h"
#include "VolumeWalk.h"
#include "Library/PiLayoutLib.h"

#define MULTIBOOT_BOOT_MAGIC 0x2BADB002u
#define IMAGE_LOAD_LIMIT 0x00100000u  // largest image laid out at the load base

namespace {

struct MULTIBOOT_INFO {
  UINT32 Flags, MemLower, MemUpper, BootDevice, CommandLine, ModuleCount, Modules;
};
struct MULTIBOOT_MODULE {
  UINT32 Start, End, Text, Reserved;
};

}  // namespace

extern "C" void LoaderMain(UINT32 Magic, const MULTIBOOT_INFO *Info) {
  Print("peiloader start\n");
  if (Magic != MULTIBOOT_BOOT_MAGIC || (Info->Flags & 0x8u) == 0 || Info->ModuleCount < 1) {
    Print("error no multiboot module\n");
    ExitQemu(0);
  }
  const char *CommandLine = (Info->Flags & 0x4u) != 0 ? reinterpret_cast<const char *>(Info->CommandLine) : "";
  if (const char *Error = ParseLoaderOptions(CommandLine, gOptions)) {
    Print("error ");
    Print(Error);
    Print("\n");
    ExitQemu(0);
  }
  PrepareMachine();
  if (gOptions.Ppi == PPI_INSTALLED) {
    RecordPpi(BusInfoDescriptor());  // installed by earlier firmware, as far as the module can tell
  }

  const auto *Module = reinterpret_cast<const MULTIBOOT_MODULE *>(Info->Modules);
  const UINT32 LoadBase = gOptions.LoadBase;
  if (Module->End <= Module->Start || (Module->End > LoadBase && Module->Start < LoadBase + IMAGE_LOAD_LIMIT)) {
    Fail("module file overlaps the load area", Module->Start);
  }
  // A volume is walked as the PEI foundation walks the boot firmware volume:
  // its PEIM is called only when its dependency expression holds.
  const UINT8 *Pe32 = reinterpret_cast<const UINT8 *>(Module->Start);
  UINT32 Pe32Size = Module->End - Module->Start;
  if (LooksLikeVolume(Pe32, Pe32Size)) {
    VOLUME_PEIM Peim;
    if (const char *Error = FindPeimInVolume(Pe32, Pe32Size, Peim)) {
      Fail(Error, 0);
    }
    Print("volume peim found\n");
    if (Peim.Depex != nullptr) {
      LAYOUT_FAULT Fault;
      const INT32 Holds = EvaluateDepex(Peim.Depex, Peim.DepexSize, PpiInstalled, nullptr, nullptr, Fault);
      if (Holds < 0) {
        Fail(LayoutCheckText(Fault.Check), Fault.At);
      }
      if (Holds == 0) {
        Finish("notdispatched");
      }
    }
    Pe32 = Peim.Pe32;
    Pe32Size = Peim.Pe32Size;
  }
  LOADED_IMAGE Image;
  if (const char *Error = LoadPeImage(Pe32, Pe32Size, LoadBase, IMAGE_LOAD_LIMIT, Image)) {
    Fail(Error, 0);
  }
  Print("image ");
  PrintHex(Image.Base, 8);
  Print(" ");
  PrintHex(Image.Size, 8);
  Print(" ");
  PrintHex(Image.Entry, 8);
  Print("\n");

  ReportWord("return", CallPeim(Image.Entry, Image.Base));
  Print("registers preserved\n");
  Finish("returned");
}
