#include "QemuChecks.h"

#include "FoundationProtocol.h"
#include "TextFields.h"
#include "Q35Registers.h"

namespace {

using namespace foundation_protocol;

// What the module must write into the LPC bridge: the window at 0xFED08000
// enabled, both legacy serial ranges decoded, and the I/O base enabled.
constexpr std::uint32_t kWindowEnabled = 0xFED08002, kSerialDecode = 0x3, kIoBaseEnabled = 0x402;

bool ModuleWroteBases(const QemuSettings &Settings) {
  return Settings.Board.PpiInstalled && !Settings.Board.PpiStatus && Settings.Board.Bus == 0;
}

}  // namespace

std::vector<QemuConfigWrite> ExpectedConfigWrites(const QemuSettings &Settings) {
  const std::string Lpc = TraceFunction(q35::kLpcDevice);
  std::vector<QemuConfigWrite> Writes = {{Lpc, q35::kLpcWindowBase, kWindowEnabled}, {Lpc, q35::kLpcDecode, kSerialDecode}};
  if ((Settings.Board.Reg40 & q35::kLpcIoBaseEnabled) == 0) {
    Writes.push_back({Lpc, q35::kLpcIoBase, kIoBaseEnabled});
  }
  if (ModuleWroteBases(Settings)) {
    for (const PROGRAMMED_DEVICE &Device : kDevices) {
      Writes.push_back({TraceFunction(Device.Device), Device.BaseRegister, Device.Base});
    }
  }
  return Writes;
}

std::string ExpectedLineParameters(std::uint8_t DivisorCode) {
  const std::uint8_t Listed[] = {1, 2, 3, 6, 12, 24, 48, 96};
  unsigned Divisor = 1;
  for (std::uint8_t Code : Listed) {
    Divisor = Code == DivisorCode ? Code : Divisor;
  }
  return "baudrate=" + std::to_string(115200 / Divisor) + " parity='N' data=8 stop=2";
}

std::vector<QemuCheck> DeviceChecks(const QemuOutcome &Outcome) {
  std::vector<QemuCheck> Checks;
  for (std::size_t Row = 0; Row < 3; Row++) {
    const PROGRAMMED_DEVICE &Device = kDevices[Row];
    const bool Programmed = Outcome.State.Bus == 0 && Outcome.State.Bases[Row] == Device.Base;
    const std::uint32_t Expected = Programmed ? Device.Answer : 0;
    const auto Seen = Outcome.Console.Devices.find(Device.AnswerName);
    std::string Text = std::string(Device.Description) + " at " + Hex(Device.Base + Device.ProbeOffset, 8) + ": ";
    if (Seen == Outcome.Console.Devices.end()) {
      Checks.push_back({Text + "not reported by the foundation", false});
      continue;
    }
    Text += Hex(Seen->second, 8);
    Text += Programmed ? " (expected " + Hex(Expected, 8) + ")" : " (base not programmed: nothing may answer)";
    Checks.push_back({Text, Seen->second == Expected});
  }
  return Checks;
}

std::vector<QemuCheck> TraceChecks(const QemuSettings &Settings, const QemuOutcome &Outcome) {
  const QemuTraceReport &Trace = Outcome.Trace;
  std::vector<QemuCheck> Checks;
  Checks.push_back({"the foundation's marks before and after the module: " +
                        std::string(Trace.SetUpMark ? "set-up seen" : "set-up missing") + ", " +
                        (Trace.AfterModuleMark ? "after-module seen" : "after-module missing"),
                    Trace.SetUpMark && Trace.AfterModuleMark});
  std::string Seen;
  for (const QemuConfigWrite &Write : Trace.ModuleWrites) {
    Seen += "\n    " + Write.Text();
  }
  if (Outcome.NotDispatched) {
    Checks.push_back({"no configuration write between the foundation's marks (not dispatched)" + Seen,
                      Trace.SetUpMark && Trace.AfterModuleMark && Trace.ModuleWrites.empty()});
    return Checks;
  }
  const std::string Line = ExpectedLineParameters(Settings.Board.DivisorCode);
  for (const auto &[Name, Parameters] : {std::pair{"COM1", &Trace.Com1Parameters}, std::pair{"COM2", &Trace.Com2Parameters}}) {
    Checks.push_back({std::string(Name) + " last line parameters: " + Parameters->value_or("none traced"),
                      Parameters->has_value() && *Parameters == Line});
  }
  const std::vector<QemuConfigWrite> Expected = ExpectedConfigWrites(Settings);
  bool Same = Expected.size() == Trace.ModuleWrites.size();
  for (std::size_t Index = 0; Same && Index < Expected.size(); Index++) {
    Same = Expected[Index].Text() == Trace.ModuleWrites[Index].Text();
  }
  Checks.push_back({std::string("configuration writes in the described order") + Seen,
                    Same && Trace.SetUpMark && Trace.AfterModuleMark});
  return Checks;
}

std::vector<QemuCheck> RunChecks(const QemuSettings &Settings, const QemuOutcome &Outcome) {
  std::vector<QemuCheck> Checks;
  if (Outcome.Console.ImageBase) {
    const std::string Assumed = Settings.Gdb ? " (the gdb command's)" : " (the ROM's layout)";
    Checks.push_back({"the foundation found the module at " + Hex(*Outcome.Console.ImageBase, 8) + ", expected " +
                          Hex(Outcome.ModuleBase, 8) + Assumed,
                      Outcome.ModuleBase != 0 && *Outcome.Console.ImageBase == Outcome.ModuleBase});
  }
  const bool Succeeded = Outcome.Console.Outcome == kOutcomeReturned && Outcome.Console.Return &&
                         (*Outcome.Console.Return & 0x80000000u) == 0;
  const std::uint8_t Code = Outcome.Console.Outcome == kOutcomeFailed ? kExitFoundationError
                            : Succeeded                                ? kExitSuccess
                                                                       : kExitModuleFailed;
  const int Expected = QemuExitStatus(Code);
  Checks.push_back({"QEMU's exit status: " +
                        (Outcome.QemuExitStatus ? std::to_string(*Outcome.QemuExitStatus) : std::string("none")) +
                        " (expected " + std::to_string(Expected) + ")",
                    Outcome.QemuExitStatus == Expected});
  if (Outcome.Console.StackBeyond) {
    // The foundation paints only what it measures; a use past it is not known.
    Checks.push_back({"the module's stack use: more than the " + std::to_string(*Outcome.Console.StackBeyond) +
                          " bytes the foundation measures",
                      false});
  }
  return Checks;
}
