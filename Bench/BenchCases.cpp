#include "BenchCases.h"

#include <cstdio>

#define STB_SPRINTF_IMPLEMENTATION
#include <stb/stb_sprintf.h>

#include "Layout/Guids.h"
#include "Library/PrintLib.h"

namespace {

constexpr int kSize = 256;

constexpr char kPath[] = "MdePkg\\Library\\BaseLib\\Strings";        // 30 characters
constexpr char kCheck[] = "String != ((void *) 0)";                 // 22 characters
const EFI_GUID &kGuid = gBusInfoPpiGuid;
const EFI_TIME kTime = {2024, 7, 4, 13, 5, 0, 0, 0, 0, 0, 0};
const char16_t kWide[] = u"Boot0001 Firmware Ui";
constexpr char kPlain[] =
    "The quick brown fox jumps over the lazy dog while the firmware engineer measures "
    "the boot path of the pre-initialisation module on a virtual board, one port write "
    "after another, until every line is do";
constexpr char kText100[] =
    "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcdefghij"
    "klmnopqrstuvwxyz01";
static_assert(sizeof kPath - 1 == 30 && sizeof kCheck - 1 == 22);
static_assert(sizeof kPlain - 1 == 200 && sizeof kText100 - 1 == 100);

#define GUID_PEER_FORMAT "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X"
#define GUID_PEER_ARGS                                                                                          \
  kGuid.Data1, kGuid.Data2, kGuid.Data3, kGuid.Data4[0], kGuid.Data4[1], kGuid.Data4[2], kGuid.Data4[3], \
      kGuid.Data4[4], kGuid.Data4[5], kGuid.Data4[6], kGuid.Data4[7]

// The engine returns UINTN; the peers int. Every row returns the count.
#define ROW(Name, EngineCall, PeerFormat, ...)                                                          \
  BenchCase {                                                                                          \
    Name, [](char *Buffer) { return static_cast<int>(EngineCall); },                                   \
        [](char *Buffer) { return std::snprintf(Buffer, kSize, PeerFormat, __VA_ARGS__); },            \
        [](char *Buffer) { return stbsp_snprintf(Buffer, kSize, PeerFormat, __VA_ARGS__); }           \
  }
#define ENGINE_ROW(Name, EngineCall) \
  BenchCase { Name, [](char *Buffer) { return static_cast<int>(EngineCall); }, nullptr, nullptr }

}  // namespace

const std::vector<BenchCase> &BenchCases() {
  static const std::vector<BenchCase> Cases = {
      ROW("assertion line", PrintAscii(Buffer, kSize, "ASSERT %a(%d): %a\n", kPath, 1210, kCheck),
          "ASSERT %s(%d): %s\n", kPath, 1210, kCheck),
      ROW("status message", PrintAscii(Buffer, kSize, "\nASSERT_EFI_ERROR (Status = %r)\n", 0x8000000Eu),
          "\r\nASSERT_EFI_ERROR (Status = %s)\r\n", "Not Found"),
      ROW("guid", PrintAscii(Buffer, kSize, "%g", &kGuid), GUID_PEER_FORMAT, GUID_PEER_ARGS),
      ROW("%d", PrintAscii(Buffer, kSize, "%d", 123456789), "%d", 123456789),
      ROW("%ld", PrintAscii(Buffer, kSize, "%ld", -9223372036854775807LL), "%lld", -9223372036854775807LL),
      ROW("%08X", PrintAscii(Buffer, kSize, "%08X", 0xDEADBEEFu), "%08X", 0xDEADBEEFu),
      ROW("widths", PrintAscii(Buffer, kSize, "%5d|%-5d|%05d", 42, -42, 7), "%5d|%-5d|%05d", 42, -42, 7),
      BenchCase{"200 plain", [](char *Buffer) { return static_cast<int>(PrintAscii(Buffer, kSize, kPlain)); },
                [](char *Buffer) { return std::snprintf(Buffer, kSize, kPlain); },
                [](char *Buffer) { return stbsp_snprintf(Buffer, kSize, kPlain); }},
      ROW("%a 100", PrintAscii(Buffer, kSize, "%a", kText100), "%s", kText100),
      ENGINE_ROW("%r", PrintAscii(Buffer, kSize, "%r", 0x8000000Eu)),
      ENGINE_ROW("%,d", PrintAscii(Buffer, kSize, "%,d", 1234567)),
      ENGINE_ROW("%S", PrintAscii(Buffer, kSize, "%S", kWide)),
      ENGINE_ROW("%t", PrintAscii(Buffer, kSize, "%t", &kTime)),
  };
  return Cases;
}
