// pei-sim format: runs the format engine on a format and typed arguments and
// writes exactly the characters it produced.
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "Commands.h"
#include "FormatRun.h"
#include "GuardedFormat.h"
#include "Library/PrintLib.h"

namespace {

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

// Y-M-DTH:M, each field a number (decimal or 0x-hex) at the full width of its
// EFI_TIME field: the year 0 to 65535, the others 0 to 255.
EFI_TIME ParseTime(std::string_view Text) {
  const std::size_t Date = Text.find('T');
  const std::vector<std::string_view> Day = Split(Text.substr(0, Date), '-');
  const std::vector<std::string_view> Clock =
      Date == std::string_view::npos ? std::vector<std::string_view>{} : Split(Text.substr(Date + 1), ':');
  if (Day.size() != 3 || Clock.size() != 2) {
    throw UsageError("bad time: '" + std::string(Text) + "' (Y-M-DTH:M)");
  }
  EFI_TIME Time{};
  Time.Year = static_cast<UINT16>(ParseUnsigned(Day[0], 0xFFFF, "year"));
  Time.Month = static_cast<UINT8>(ParseUnsigned(Day[1], 0xFF, "month"));
  Time.Day = static_cast<UINT8>(ParseUnsigned(Day[2], 0xFF, "day"));
  Time.Hour = static_cast<UINT8>(ParseUnsigned(Clock[0], 0xFF, "hour"));
  Time.Minute = static_cast<UINT8>(ParseUnsigned(Clock[1], 0xFF, "minute"));
  return Time;
}

template <class T> FormatValue BytesOf(const T &Record) {
  const auto *Raw = reinterpret_cast<const std::uint8_t *>(&Record);
  return FormatValue{FormatValue::Kind::Bytes, 0, std::vector<std::uint8_t>(Raw, Raw + sizeof(T))};
}

}  // namespace

FormatValue ParseFormatValue(const std::string &Text) {
  const std::size_t Colon = Text.find(':');
  const std::string Kind = Text.substr(0, Colon);
  const std::string_view Value =
      Colon == std::string::npos ? std::string_view() : std::string_view(Text).substr(Colon + 1);
  if (Kind == "null" && Colon == std::string::npos) {
    return FormatValue{FormatValue::Kind::Null, 0, {}};
  }
  if (Colon == std::string::npos) {
    throw UsageError("bad argument: '" + Text + "'");
  }
  if (Kind == "u32") {
    return FormatValue{FormatValue::Kind::U32, ParseTwosComplement(Value, 32, "u32"), {}};
  }
  if (Kind == "u64") {
    return FormatValue{FormatValue::Kind::U64, ParseTwosComplement(Value, 64, "u64"), {}};
  }
  if (Kind == "str") {
    FormatValue Result{FormatValue::Kind::Bytes, 0, std::vector<std::uint8_t>(Value.begin(), Value.end())};
    Result.Bytes.push_back(0);
    return Result;
  }
  if (Kind == "wunits") {
    FormatValue Result{FormatValue::Kind::Bytes, 0, {}};
    std::vector<std::string_view> Units;
    if (!Value.empty()) {
      Units = Split(Value, ',');
    }
    for (std::string_view Unit : Units) {
      const auto Number = ParseUnsigned(Unit, 0xFFFF, "unit");
      Result.Bytes.push_back(static_cast<std::uint8_t>(Number));
      Result.Bytes.push_back(static_cast<std::uint8_t>(Number >> 8));
    }
    Result.Bytes.insert(Result.Bytes.end(), {0, 0});
    return Result;
  }
  if (Kind == "guid") {
    return BytesOf(ParseGuid(Value));
  }
  if (Kind == "time") {
    return BytesOf(ParseTime(Value));
  }
  throw UsageError("bad argument: '" + Text + "'");
}

std::vector<FormatValue> ParseFormatValues(const std::vector<std::string> &Texts) {
  std::vector<FormatValue> Values;
  for (const std::string &Text : Texts) {
    Values.push_back(ParseFormatValue(Text));
  }
  return Values;
}

ExitStatus FormatCommand(const std::vector<std::string> &Args) {
  UINTN BufferSize = 256;
  std::string Image;
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
    if (Args[Next] == "--image" && Next + 1 < Args.size()) {
      Image = Args[++Next];
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
  const std::vector<FormatValue> Values = ParseFormatValues({Args.begin() + static_cast<std::ptrdiff_t>(Next), Args.end()});

  FormatOutcome Outcome;
  if (Image.empty()) {
    Outcome = FormatValues(BufferSize, Format, Values);
  } else {
    std::string Error;
    if (!RunEngineImage(Image, BufferSize, Format, Values, Outcome, Error)) {
      std::fprintf(stderr, "pei-sim: %s\n", Error.c_str());
      return ExitStatus::CannotRun;
    }
  }
  if (Outcome.Halted) {
    const std::string Line = Outcome.Sink.empty() ? std::string() : Outcome.Sink.back();
    std::fwrite(Line.data(), 1, Line.size(), stderr);
    return ExitStatus::Halted;
  }
  std::fwrite(Outcome.Output.data(), 1, Outcome.Output.size(), stdout);
  return ExitStatus::Success;
}
