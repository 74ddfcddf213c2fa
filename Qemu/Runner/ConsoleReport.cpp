#include "ConsoleReport.h"

#include "FirmwarePacking.h"
#include "FoundationProtocol.h"
#include "TextFields.h"

namespace {

using namespace foundation_protocol;

int HexDigit(char C) {
  return C >= '0' && C <= '9' ? C - '0' : C >= 'A' && C <= 'F' ? C - 'A' + 10 : C >= 'a' && C <= 'f' ? C - 'a' + 10 : -1;
}

std::optional<std::uint32_t> Word32(std::string_view Word) { return Number32FromText(Word); }

// Bytes written as pairs of hexadecimal digits; nothing for an odd count or
// another character.
std::optional<std::vector<std::uint8_t>> HexBytes(std::string_view Text) {
  std::vector<std::uint8_t> Bytes;
  if (Text.size() % 2 != 0) {
    return std::nullopt;
  }
  for (std::size_t At = 0; At < Text.size(); At += 2) {
    const int High = HexDigit(Text[At]), Low = HexDigit(Text[At + 1]);
    if (High < 0 || Low < 0) {
      return std::nullopt;
    }
    Bytes.push_back(static_cast<std::uint8_t>(High << 4 | Low));
  }
  return Bytes;
}

std::optional<std::uint8_t> Byte(std::string_view Word) {
  const auto Value = Number32FromText(Word, 0xFF);
  return Value ? std::optional<std::uint8_t>(static_cast<std::uint8_t>(*Value)) : std::nullopt;
}

// "error ..." with every GUID of ours named after it.
std::string ErrorText(std::string_view Rest) {
  std::string Text(Rest);
  for (const Guid16 &Guid : {kSocPreInitFileGuid, ToGuid16(gBusInfoPeiFileGuid)}) {
    const std::string Id = GuidText(Guid);
    const std::size_t At = Text.find(Id);
    if (At != std::string::npos) {
      Text.insert(At + Id.size(), " (" + PeimName(Id) + ")");
    }
  }
  return Text;
}

void TakeLine(std::string_view Line, ConsoleReport &Report) {
  const std::vector<std::string_view> W = WordsOf(Line);
  const std::size_t N = W.size();
  if (N == 0) {
    return;
  }
  const auto Is = [&](std::size_t Index, std::string_view Word) { return Index < N && W[Index] == Word; };
  if (Line == kStartLine) {
    Report.Started = true;
  } else if (Line == kDoneLine) {
    Report.Done = true;
  } else if (Is(0, kErrorKey)) {
    Report.Errors.push_back(ErrorText(Line.substr(std::min(Line.size(), sizeof kErrorKey))));
  } else if (Is(0, kDispatchKey) && N == 2) {
    Report.Dispatched.push_back({PeimName(std::string(W[1])), std::nullopt});
  } else if (Line.rfind(kPeimReturnKey, 0) == 0 && N == 3 && !Report.Dispatched.empty()) {
    Report.Dispatched.back().second = Word32(W[2]);
  } else if (Is(0, kReturnKey) && N == 2 && Word32(W[1])) {
    Report.Return = Word32(W[1]);
    if (!Report.Dispatched.empty()) {
      Report.Dispatched.back().second = Report.Return;
    }
  } else if (Is(0, kNeverDispatchedKey) && (N == 2 || N == 3)) {
    const auto Depex = N == 3 ? HexBytes(W[2]) : std::optional<std::vector<std::uint8_t>>(std::vector<std::uint8_t>{});
    if (Depex) {
      Report.NeverDispatched.push_back({PeimName(std::string(W[1])), *Depex});
    }
  } else if (Is(0, kSinkLineKey) && N <= 2) {
    if (const auto Bytes = HexBytes(N == 2 ? W[1] : std::string_view())) {
      Report.SinkTexts.emplace_back(Bytes->begin(), Bytes->end());
    }
  } else if (Is(0, kImageKey) && N == 4 && Word32(W[1]) && Word32(W[2]) && Word32(W[3])) {
    Report.ImageBase = Word32(W[1]);
    Report.ImageSize = Word32(W[2]);
    Report.ImageEntry = Word32(W[3]);
  } else if (Line == kRegistersLine) {
    Report.RegistersPreserved = true;
  } else if (Is(0, kOutcomeKey) && N == 2) {
    Report.Outcome = W[1];
  } else if (Is(0, kStackKey) && N == 2) {
    Report.StackBytes = Word32(W[1]);
  } else if (Is(0, kStackKey) && Is(1, kStackOver) && N == 3) {
    Report.StackBeyond = Word32(W[2]);
  } else if (Is(0, kTscKey) && N == 3 && NumberFromText(W[2])) {
    const std::uint64_t Count = *NumberFromText(W[2]);
    const std::string Peim = Report.Dispatched.empty() ? "a PEIM" : Report.Dispatched.back().first;
    const std::string Point = W[1] == kTscFoundationEntry ? "foundation entry"
                              : W[1] == kTscPeimEntry || W[1] == kTscModuleEntry   ? Peim + " entry"
                              : W[1] == kTscPeimReturn || W[1] == kTscModuleReturn ? Peim + " return"
                              : W[1] == kTscDispatchEnd                            ? "end of dispatch"
                                                                                   : "";
    if (!Point.empty()) {
      Report.BootPoints.push_back({Point, Count});
    }
    std::optional<std::uint64_t> *Named = W[1] == kTscModuleEntry    ? &Report.ToModuleEntry
                                          : W[1] == kTscModuleReturn ? &Report.ToModuleReturn
                                          : W[1] == kTscDispatchEnd  ? &Report.ToDispatchEnd
                                                                     : nullptr;
    if (Named != nullptr) {
      *Named = Count;
    }
  } else if (Is(0, kStateKey) && (Is(1, kCom1) || Is(1, kCom2)) && N == 5) {
    const auto LineControl = Byte(W[2]), Low = Byte(W[3]), High = Byte(W[4]);
    if (LineControl && Low && High) {
      (Is(1, kCom1) ? Report.Com1 : Report.Com2) =
          UartState{*LineControl, static_cast<std::uint16_t>(*High << 8 | *Low)};
    }
  } else if (Is(0, kStateKey) && N == 3 && Word32(W[2])) {
    Report.States[std::string(W[1])] = *Word32(W[2]);
  } else if (Is(0, kDeviceKey) && N == 3 && Word32(W[2])) {
    Report.Devices[std::string(W[1])] = *Word32(W[2]);
  }
}

}  // namespace

std::string PeimName(const std::string &Guid) {
  return Guid == GuidText(kSocPreInitFileGuid)              ? "SocPreInit"
         : Guid == GuidText(ToGuid16(gBusInfoPeiFileGuid)) ? "BusInfoPei"
                                                            : Guid;
}

ConsoleReport ParseConsoleReport(std::string_view Text) {
  ConsoleReport Report;
  for (std::size_t At = 0; At < Text.size();) {
    const std::size_t End = std::min(Text.find('\n', At), Text.size());
    TakeLine(Text.substr(At, End - At), Report);
    At = End + 1;
  }
  return Report;
}
