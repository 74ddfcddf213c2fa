#include "QemuChecks.h"

#include "Trace.h"

std::vector<QemuCheck> DeviceChecks(const QemuOutcome &Outcome) {
  struct Device {
    const char *Name;
    std::uint32_t Base, Offset, Expected, Seen;
  };
  const Device Devices[] = {
      {"edu 00:16.0 identification", 0xF0100000, 0x00, 0x010000ED, Outcome.EduIdentification},
      {"AHCI 00:17.0 version", 0xF0200000, 0x10, 0x00010000, Outcome.Ahci23Version},
      {"AHCI 00:18.0 version", 0xF0300000, 0x10, 0x00010000, Outcome.Ahci24Version},
  };
  std::vector<QemuCheck> Checks;
  for (int Row = 0; Row < 3; Row++) {
    const Device &D = Devices[Row];
    const bool Programmed = Outcome.State.Bus == 0 && Outcome.State.Bases[Row] == D.Base;
    const std::uint32_t Expected = Programmed ? D.Expected : 0;
    std::string Text = std::string(D.Name) + " at " + Hex(D.Base + D.Offset, 8) + ": " + Hex(D.Seen, 8);
    Text += Programmed ? " (expected " + Hex(Expected, 8) + ")" : " (base not programmed: nothing may answer)";
    Checks.push_back({Text, D.Seen == Expected});
  }
  return Checks;
}

std::vector<QemuCheck> TraceChecks(const QemuSettings &Settings, const QemuOutcome &Outcome) {
  std::vector<QemuCheck> Checks;
  if (Outcome.NotDispatched) {
    std::string Seen;
    for (const QemuConfigWrite &Write : Outcome.ModuleConfigWrites) {
      Seen += "\n    " + Write.Text();
    }
    Checks.push_back({"no configuration write once the loader's set-up was done (not dispatched)" + Seen,
                      Outcome.ModuleConfigWrites.empty()});
    return Checks;
  }
  const std::string Line = ExpectedLineParameters(Settings.Board.DivisorCode);
  Checks.push_back({"COM1 last line parameters: " + Outcome.Com1Parameters, Outcome.Com1Parameters == Line});
  Checks.push_back({"COM2 last line parameters: " + Outcome.Com2Parameters, Outcome.Com2Parameters == Line});
  const std::vector<QemuConfigWrite> Expected = ExpectedConfigWrites(Settings);
  bool Same = Expected.size() == Outcome.ModuleConfigWrites.size();
  std::string Seen;
  for (std::size_t Index = 0; Index < Outcome.ModuleConfigWrites.size(); Index++) {
    Seen += "\n    " + Outcome.ModuleConfigWrites[Index].Text();
    Same = Same && Index < Expected.size() && Expected[Index].Text() == Outcome.ModuleConfigWrites[Index].Text();
  }
  Checks.push_back({std::string("configuration writes in the described order") + Seen, Same});
  return Checks;
}

