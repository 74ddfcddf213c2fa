// What the PEI foundation of SocPreInit.rom and pei-sim's QEMU runner agree
// on, written once for both sides: the settings the runner hands the
// foundation, the lines the foundation writes on QEMU's debug console, the
// marks it leaves in QEMU's trace, the devices QEMU is started with and the
// codes the foundation ends QEMU with. Freestanding: the foundation builds it
// for IA-32, the runner for the host.
#ifndef QEMU_INCLUDE_FOUNDATION_PROTOCOL_H_
#define QEMU_INCLUDE_FOUNDATION_PROTOCOL_H_

#include "Base.h"

namespace foundation_protocol {

// --- Settings: "WORD key=value ...", first from the ROM's options file, then
// from QEMU's fw_cfg file, each at most kMaxOptionsText bytes.
inline constexpr char kOptionsFile[] = "opt/socpreinit/options";
inline constexpr UINT32 kMaxOptionsText = 255;
inline constexpr char kDivisorKey[] = "divisor";   // the platform's serial divisor code, 0 to 255
inline constexpr char kBusKey[] = "bus";           // BUS_INFO_PPI's bus number, 0 to 255
inline constexpr char kReg40Key[] = "reg40";       // 00:1F.0 register 0x40 before the module, 0 to 255
inline constexpr char kReleaseKey[] = "release";   // 1: a halt returns to its caller, as a debugger's "return" does
inline constexpr char kDepexKey[] = "depex";       // 0: the module is dispatched last whatever its expression says
inline constexpr char kPpiKey[] = "ppi";           // "installed", "absent", or an error status LocatePpi returns
inline constexpr char kPpiInstalled[] = "installed";
inline constexpr char kPpiAbsent[] = "absent";
inline constexpr char kSinkKey[] = "sink";         // RVA of the module's SerialWrite (0: not watched)
inline constexpr char kHaltKey[] = "halt";         // RVA of the module's HaltProcessor (0: not watched)

// The defaults, where a run starts from: divisor code 3 (not QEMU's reset
// divisor 12, so that the run shows a write) and bus 0, where QEMU's devices sit.
inline constexpr UINT8 kDefaultDivisorCode = 3;
inline constexpr UINT8 kDefaultBus = 0;
inline constexpr UINT8 kDefaultReg40 = 0;

// --- Debug console lines, one fact each: "KEY value ...".
inline constexpr char kStartLine[] = "foundation start";
inline constexpr char kDoneLine[] = "foundation done";       // the report is complete
inline constexpr char kErrorKey[] = "error";                // what the foundation refused or caught
inline constexpr char kDispatchKey[] = "dispatch";          // GUID: a PEIM's entry is called
inline constexpr char kImageKey[] = "image";                // RVA 0, SizeOfImage, entry: where the module lies
inline constexpr char kPeimReturnKey[] = "peim return";     // status: another PEIM's entry returned
inline constexpr char kReturnKey[] = "return";              // status: the module's entry returned
inline constexpr char kRegistersLine[] = "registers preserved";
inline constexpr char kNeverDispatchedKey[] = "neverdispatched";  // GUID, expression bytes in hexadecimal
inline constexpr char kSinkLineKey[] = "sink";              // bytes in hexadecimal: what SerialWrite was given
inline constexpr char kHaltLine[] = "halt";
inline constexpr char kReleaseLine[] = "release";
inline constexpr char kOutcomeKey[] = "outcome";            // one of the outcomes below
inline constexpr char kOutcomeReturned[] = "returned";
inline constexpr char kOutcomeHalted[] = "halted";
inline constexpr char kOutcomeNotDispatched[] = "notdispatched";
inline constexpr char kOutcomeFailed[] = "failed";          // the foundation's own error
inline constexpr char kStackKey[] = "stack";                // decimal: the module's deepest stack use in bytes,
inline constexpr char kStackOver[] = "over";                // or "stack over N": deeper than the N bytes measured
inline constexpr char kTscKey[] = "tsc";                    // a point and the instructions since reset
inline constexpr char kTscFoundationEntry[] = "foundation-entry";  // its first instruction
inline constexpr char kTscPeimEntry[] = "peim-entry";      // another PEIM's, after its dispatch line
inline constexpr char kTscPeimReturn[] = "peim-return";
inline constexpr char kTscModuleEntry[] = "module-entry";
inline constexpr char kTscModuleReturn[] = "module-return";
inline constexpr char kTscDispatchEnd[] = "dispatch-end";
inline constexpr char kStateKey[] = "state";                // a register read back: name, value
inline constexpr char kDeviceKey[] = "device";              // a device's answer at its programmed base

// The registers the report reads back, by the name it gives each.
inline constexpr char kCom1[] = "com1";  // line control, divisor low, divisor high
inline constexpr char kCom2[] = "com2";
inline constexpr char kLpc40[] = "lpc40";
inline constexpr char kLpc50[] = "lpc50";
inline constexpr char kLpc80[] = "lpc80";
inline constexpr char kWindow88[] = "window88";

// --- The devices: QEMU's command line puts them at these PCI addresses on
// bus 0; the module gives each a base address; the report reads one
// register there, which answers only once the base is programmed and memory
// decode is on.
struct PROGRAMMED_DEVICE {
  const char *BaseName;     // on its "state" line: the base register read back
  const char *AnswerName;   // on its "device" line: the register read at the base
  const char *QemuDevice;   // -device ...
  UINT8 Device;             // on bus 0, function 0
  UINT8 BaseRegister;       // the base address register the module writes
  UINT32 Base;              // what it writes there
  UINT32 ProbeOffset;       // the register the report reads from the base
  UINT32 Answer;            // what that register holds
  const char *Description;  // in the runner's checks
};
inline constexpr PROGRAMMED_DEVICE kDevices[3] = {
    {"base22", "edu", "edu,addr=0x16", 22, 0x10, 0xF0100000u, 0x00, 0x010000EDu, "edu 00:16.0 identification"},
    {"base23", "ahci23", "ich9-ahci,addr=0x17", 23, 0x24, 0xF0200000u, 0x10, 0x00010000u, "AHCI 00:17.0 version"},
    {"base24", "ahci24", "ich9-ahci,addr=0x18", 24, 0x24, 0xF0300000u, 0x10, 0x00010000u, "AHCI 00:18.0 version"},
};

// --- QEMU's trace: the foundation's last set-up write (device 24's base
// register cleared) before the first PEIM, and a mark after the module (0
// into 00:1F.0 register 0x44, which is 0 at reset and never the module's):
// the configuration writes between the two are the module's.
inline constexpr UINT8 kSetUpMarkDevice = 24, kSetUpMarkRegister = 0x24;
inline constexpr UINT8 kAfterModuleMarkDevice = 31, kAfterModuleMarkRegister = 0x44;

// --- The ports QEMU is started with.
inline constexpr UINT16 kDebugConsolePort = 0xE9;  // -debugcon
inline constexpr UINT16 kDebugExitPort = 0xF4;     // -device isa-debug-exit,iobase=0xf4,iosize=0x04

// The codes the foundation writes to isa-debug-exit; QEMU then exits with
// status Code * 2 + 1.
inline constexpr UINT8 kExitSuccess = 0;          // the module returned EFI_SUCCESS: QEMU exits 1
inline constexpr UINT8 kExitModuleFailed = 1;     // it returned an error, halted or was never dispatched: 3
inline constexpr UINT8 kExitFoundationError = 2;  // the foundation refused or caught a fault: 5
constexpr int QemuExitStatus(UINT8 Code) { return Code * 2 + 1; }

}  // namespace foundation_protocol

#endif  // QEMU_INCLUDE_FOUNDATION_PROTOCOL_H_
