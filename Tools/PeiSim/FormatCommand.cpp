// pei-sim format: runs the format engine on a format and typed arguments and
// writes exactly the characters it produced.
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "Commands.h"
#include "HostPlatform.h"
#include "Library/PrintLib.h"

namespace {

// Keeps the texts and records that pointer arguments point at.
struct ArgumentStore {
  std::deque<std::string> Texts;
  std::deque<std::vector<CHAR16>> WideTexts;
  std::deque<EFI_GUID> Guids;
  std::deque<EFI_TIME> Times;
};

std::vector<std::string_view> Split(std::string_view Text, char Separator) {
  std::vector<std::string_view> Parts;
  for (std::size_t Start = 0;;) {
    const std::size_t At = Text.find(Separator, Start);
    Parts.push_back(Text.substr(Start, At == std::string_view::npos ? std::string_view::npos : At - Start));
    if (At == std::string_view::npos) {
      return Parts;
    }
    Start = At + 1;
  }
}

EFI_GUID ParseGuid(std::string_view Text) {
  const std::vector<std::string_view> Parts = Split(Text, '-');
  const std::size_t Widths[] = {8, 4, 4, 4, 12};
  if (Parts.size() != 5) {
    throw UsageError("bad guid: '" + std::string(Text) + "'");
  }
  for (std::size_t Index = 0; Index < 5; Index++) {
    if (Parts[Index].size() != Widths[Index]) {
      throw UsageError("bad guid: '" + std::string(Text) + "'");
    }
  }
  auto HexField = [](std::string_view Digits) { return ParseUnsigned("0x" + std::string(Digits), ~0ull, "guid"); };
  EFI_GUID Guid{};
  Guid.Data1 = static_cast<UINT32>(HexField(Parts[0]));
  Guid.Data2 = static_cast<UINT16>(HexField(Parts[1]));
  Guid.Data3 = static_cast<UINT16>(HexField(Parts[2]));
  const std::string Tail = std::string(Parts[3]) + std::string(Parts[4]);
  for (int Index = 0; Index < 8; Index++) {
    Guid.Data4[Index] = static_cast<UINT8>(HexField(std::string_view(Tail).substr(2 * Index, 2)));
  }
  return Guid;
}

EFI_TIME ParseTime(std::string_view Text) {
  // YYYY-MM-DDTHH:MM
  if (Text.size() != 16 || Text[4] != '-' || Text[7] != '-' || Text[10] != 'T' || Text[13] != ':') {
    throw UsageError("bad time: '" + std::string(Text) + "'");
  }
  EFI_TIME Time{};
  Time.Year = static_cast<UINT16>(ParseUnsigned(Text.substr(0, 4), 9999, "year"));
  Time.Month = static_cast<UINT8>(ParseUnsigned(Text.substr(5, 2), 99, "month"));
  Time.Day = static_cast<UINT8>(ParseUnsigned(Text.substr(8, 2), 99, "day"));
  Time.Hour = static_cast<UINT8>(ParseUnsigned(Text.substr(11, 2), 99, "hour"));
  Time.Minute = static_cast<UINT8>(ParseUnsigned(Text.substr(14, 2), 99, "minute"));
  return Time;
}

PRINT_ARG ParseArgument(const std::string &Text, ArgumentStore &Store) {
  const std::size_t Colon = Text.find(':');
  const std::string Kind = Text.substr(0, Colon);
  const std::string_view Value =
      Colon == std::string::npos ? std::string_view() : std::string_view(Text).substr(Colon + 1);
  if (Kind == "null" && Colon == std::string::npos) {
    return MakePrintArg(nullptr);
  }
  if (Colon == std::string::npos) {
    throw UsageError("bad argument: '" + Text + "'");
  }
  if (Kind == "u32") {
    return MakePrintArg(static_cast<UINT32>(ParseTwosComplement(Value, 32, "u32")));
  }
  if (Kind == "u64") {
    return MakePrintArg(static_cast<UINT64>(ParseTwosComplement(Value, 64, "u64")));
  }
  if (Kind == "str") {
    return MakePrintArg(Store.Texts.emplace_back(Value).c_str());
  }
  if (Kind == "wunits") {
    std::vector<CHAR16> &Units = Store.WideTexts.emplace_back();
    if (!Value.empty()) {
      for (std::string_view Unit : Split(Value, ',')) {
        Units.push_back(static_cast<CHAR16>(ParseUnsigned(Unit, 0xFFFF, "unit")));
      }
    }
    Units.push_back(0);
    return MakePrintArg(Units.data());
  }
  if (Kind == "guid") {
    return MakePrintArg(&Store.Guids.emplace_back(ParseGuid(Value)));
  }
  if (Kind == "time") {
    return MakePrintArg(&Store.Times.emplace_back(ParseTime(Value)));
  }
  throw UsageError("bad argument: '" + Text + "'");
}

}  // namespace

int FormatCommand(const std::vector<std::string> &Args) {
  UINTN BufferSize = 256;
  std::size_t Next = 0;
  for (; Next < Args.size(); Next++) {
    if (Args[Next] == "--") {
      Next++;
      break;
    }
    if (Args[Next] == "--size" && Next + 1 < Args.size()) {
      BufferSize = static_cast<UINTN>(ParseUnsigned(Args[++Next], 0xFFFFFFFFu, "size"));
      continue;
    }
    if (Args[Next].size() > 1 && Args[Next][0] == '-') {
      throw UsageError("unknown option '" + Args[Next] + "'");
    }
    break;
  }
  if (Next >= Args.size()) {
    throw UsageError("format: no FORMAT given");
  }
  const std::string &Format = Args[Next++];
  ArgumentStore Store;
  std::vector<PRINT_ARG> Records;
  for (; Next < Args.size(); Next++) {
    Records.push_back(ParseArgument(Args[Next], Store));
  }

  std::vector<CHAR8> Buffer(BufferSize == 0 ? 1 : BufferSize);
  PRINT_ARG_LIST Cursor{Records.data(), Records.data() + Records.size()};
  DiagnosticsCapture Capture(HostPlatform::HaltAction::Stop);
  ScopedHostPlatform Installed(Capture);
  UINTN Count = 0;
  CHAR8 *Output = Buffer.data();
  const CHAR8 *FormatText = Format.c_str();
  const bool Finished =
      RunStoppableAtHalt([&] { Count = FormatToBuffer(Output, BufferSize, FormatText, &Cursor); });
  if (!Finished) {
    const std::string Line = Capture.Sink.empty() ? std::string() : Capture.Sink.back();
    std::fwrite(Line.data(), 1, Line.size(), stderr);
    return 3;
  }
  std::fwrite(Buffer.data(), 1, Count, stdout);
  return 0;
}
