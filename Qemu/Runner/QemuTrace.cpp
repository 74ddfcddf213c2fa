#include "QemuTrace.h"

#include <cctype>
#include <cstdio>

#include "FoundationProtocol.h"
#include "TextFields.h"

namespace {

using namespace foundation_protocol;

constexpr std::string_view kSerialWrite = "memory_region_ops_write";
constexpr std::string_view kSerialParameters = "serial_update_parameters ";
constexpr std::string_view kConfigWrite = "pci_cfg_write ";

// "pci_cfg_write ich9-lpc 00:1f.0 @0x50 <- 0xfed08002": the function, the
// register and the value; nothing for a line of another shape.
std::optional<QemuConfigWrite> ConfigWrite(std::string_view Rest) {
  const std::vector<std::string_view> W = WordsOf(Rest);
  if (W.size() != 5 || W[2].size() < 2 || W[2][0] != '@' || W[3] != "<-") {
    return std::nullopt;
  }
  const auto Register = Number32FromText(W[2].substr(1)), Value = Number32FromText(W[4]);
  if (!Register || !Value) {
    return std::nullopt;
  }
  return QemuConfigWrite{std::string(W[1]), *Register, *Value};
}

bool IsMark(const QemuConfigWrite &Write, unsigned Device, unsigned Register) {
  return Write.Function == TraceFunction(Device) && Write.Register == Register && Write.Value == 0;
}

}  // namespace

std::string QemuConfigWrite::Text() const {
  std::string Upper = Function;
  // QEMU writes the function in lower case; the summary's hexadecimal is upper case throughout.
  for (char &C : Upper) {
    C = static_cast<char>(std::toupper(static_cast<unsigned char>(C)));
  }
  return Upper + " @" + Hex(Register) + " <- " + Hex(Value);
}

std::string TraceFunction(unsigned Device, unsigned Function) {
  char Text[16];
  std::snprintf(Text, sizeof Text, "00:%02x.%x", Device & 0xFF, Function & 0xF);
  return Text;
}

QemuTraceReport ParseQemuTrace(std::string_view Text) {
  QemuTraceReport Report;
  std::optional<std::string> *LastUart = nullptr;
  bool Between = false;
  for (std::size_t At = 0; At < Text.size();) {
    const std::size_t End = std::min(Text.find('\n', At), Text.size());
    const std::string_view Line = Text.substr(At, End - At);
    At = End + 1;
    if (Line.find(kSerialWrite) != std::string_view::npos && Line.find("name 'serial'") != std::string_view::npos) {
      const std::size_t Addr = Line.find(" addr ");
      const std::vector<std::string_view> After = WordsOf(Addr == std::string_view::npos ? "" : Line.substr(Addr + 6));
      const auto Port = After.empty() ? std::nullopt : Number32FromText(After.front());
      LastUart = !Port                   ? nullptr
                 : (*Port & ~7u) == 0x3F8 ? &Report.Com1Parameters
                 : (*Port & ~7u) == 0x2F8 ? &Report.Com2Parameters
                                          : nullptr;
    } else if (const std::size_t Parameters = Line.find(kSerialParameters); Parameters != std::string_view::npos) {
      if (LastUart != nullptr) {
        *LastUart = std::string(Line.substr(Parameters + kSerialParameters.size()));
      }
    } else if (const std::size_t Config = Line.find(kConfigWrite); Config != std::string_view::npos) {
      const std::optional<QemuConfigWrite> Write = ConfigWrite(Line.substr(Config + kConfigWrite.size()));
      if (!Write) {
        continue;
      }
      if (IsMark(*Write, kSetUpMarkDevice, kSetUpMarkRegister) && !Report.AfterModuleMark) {
        // The last set-up write: what came before it was the foundation's.
        Report.SetUpMark = Between = true;
        Report.ModuleWrites.clear();
      } else if (Between && IsMark(*Write, kAfterModuleMarkDevice, kAfterModuleMarkRegister)) {
        Report.AfterModuleMark = true;
        Between = false;
      } else if (Between) {
        Report.ModuleWrites.push_back(*Write);
      }
    }
  }
  return Report;
}
