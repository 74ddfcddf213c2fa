#include "EngineVectors.h"

#include <string>

#include "Layout/Guids.h"
#include "StatusNames.h"

namespace {

using namespace std::string_literals;

const EFI_GUID kGuid = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
const EFI_GUID &kBusInfo = gBusInfoPpiGuid;
const EFI_TIME kTime = {2024, 7, 4, 13, 5, 59, 0, 123, 60, 1, 0};
const EFI_TIME kTimeExtremes = {65535, 255, 255, 255, 255, 0, 0, 0, 0, 0, 0};

std::vector<EngineVector> Build() {
  std::vector<EngineVector> Table = {
      // Decimal numbers: flags, widths and precisions.
      {"decimal", 256, "%d", A(0), "0"},
      {"decimal", 256, "%.0d", A(0), ""},
      {"decimal", 256, "%+.0d", A(0), "+"},
      {"decimal", 256, "% .0d", A(0), " "},
      {"decimal", 256, "%.d", A(0), "0"},
      {"decimal", 256, "%.0d|%.0d|%+.0d", A(5, -5, 7), "5|-5|+7"},  // precision 0 drops only a 0
      {"decimal", 256, "%.0x|%.0X|%.0p", A(10u, 0u, 0u), "A||"},
      {"decimal", 256, "%5d", A(-42), "  -42"},
      {"decimal", 256, "%05d", A(-42), "-0042"},
      {"decimal", 256, "%-5d", A(-42), "-42  "},
      {"decimal", 256, "%.5d", A(-42), "-00042"},
      {"decimal", 256, "% d", A(-42), "-42"},
      {"decimal", 256, "%+ d", A(42), "+42"},
      {"decimal", 256, "% d", A(42), " 42"},
      {"decimal", 256, "% +d", A(42), "+42"},
      {"decimal", 256, "%5.3d", A(7), "  007"},
      {"decimal", 256, "%-05d", A(7), "7    "},
      {"decimal", 256, "%08.3d", A(7), "     007"},
      {"decimal", 256, "%0.3d|%03.d", A(7, 7), "007|  7"},  // a '0' after '.' sets no fill
      {"decimal", 256, "%+05d|% 05d", A(7, 7), "+0007| 0007"},
      {"decimal", 256, "%d", A(-2147483647 - 1), "-2147483648"},
      {"decimal", 256, "%d|%d", A(2147483647, 1000000000), "2147483647|1000000000"},
      {"decimal", 256, "%ld", A(-9223372036854775807LL - 1), "-9223372036854775808"},
      {"decimal", 256, "%ld", A(18446744073709551615ULL), "-1"},
      {"decimal", 256, "%Ld", A(1234567890123LL), "1234567890123"},
      {"decimal", 256, "%ld|%ld", A(9223372036854775807LL, 4294967296LL), "9223372036854775807|4294967296"},
      {"decimal", 256, "%ld|%ld", A(999999999999999999LL, 1000000000000000000LL),
       "999999999999999999|1000000000000000000"},
      {"decimal", 256, "%d", A(4294967295u), "-1"},
      {"decimal", 256, "%05d %d", A(-0, 3), "00000 3"},
      {"decimal", 256, "%d|%d|%d|%d", A(9, 10, 99, 100), "9|10|99|100"},

      // Grouping of thousands.
      {"grouping", 256, "%,d", A(1234567), "1,234,567"},
      {"grouping", 256, "%,d", A(-1234), "-1,234"},
      {"grouping", 256, "%,d", A(123), "123"},
      {"grouping", 256, "%,d", A(1000), "1,000"},
      {"grouping", 256, "%,d|%,d|%,d", A(999, 12345, 1), "999|12,345|1"},
      {"grouping", 256, "%,d", A(0), "0"},
      {"grouping", 256, "%,d", A(100000), "100,000"},
      {"grouping", 256, "%+,d", A(1234), "+1,234"},
      {"grouping", 256, "%,08d", A(1234), "   1,234"},
      {"grouping", 256, "%,.5d", A(42), "42"},
      {"grouping", 256, "%,x", A(0x12345), "12345"},
      {"grouping", 256, "%,ld", A(-9223372036854775807LL - 1), "-9,223,372,036,854,775,808"},
      {"grouping", 256, "%-10,d|", A(12345), "12,345    |"},
      {"grouping", 256, "[%,.0d|%+,.0d]", A(0, 0), "[0|+0]"},  // grouping drops the precision: a 0 keeps its digit
      {"grouping", 256, "%8,d|", A(-1234567), "-1,234,567|"},

      // Hexadecimal numbers and pointers.
      {"hex", 256, "%x", A(255), "FF"},
      {"hex", 256, "%X", A(255), "FF"},
      {"hex", 256, "%4x", A(255), "  FF"},
      {"hex", 256, "%4X", A(255), "00FF"},
      {"hex", 256, "%-4X|", A(255), "FF  |"},
      {"hex", 256, "%x", A(-1), "FFFFFFFF"},
      {"hex", 256, "%x|%x", A(0x0123ABCDu, 0u), "123ABCD|0"},
      {"hex", 256, "%lx", A(0x123456789ABCDEF0ULL), "123456789ABCDEF0"},
      {"hex", 256, "%lX", A(0xFEDCBA9876543210ULL), "FEDCBA9876543210"},
      {"hex", 256, "%+x", A(5), "+5"},
      {"hex", 256, "% x", A(5), " 5"},
      {"hex", 256, "%x", A(0x1234567887654321ULL), "87654321"},  // 32-bit directive: the low half
      {"hex", 256, "%p", A(0x1234), "1234"},
      {"hex", 256, "%8p", A(0x1234), "00001234"},
      {"hex", 256, "%+p", A(0x1234), "1234"},
      {"hex", 256, "% p|% 4p", A(0x12, 0x12), "12|0012"},  // 'p' drops ' ' as it drops '+'
      {"hex", 256, "%lp|%d", A(0x1234, 9), "1234|9"},      // 'l' does not make 'p' take 64 bits
      {"hex", 256, "%p|%d", A(0x1122334455667788ULL, 9), "55667788|9"},
      {"hex", 256, "%08X", A(0xDEADBEEF), "DEADBEEF"},
      {"hex", 256, "%-08X|", A(0xBEEFu), "BEEF    |"},

      // Texts and characters.
      {"texts", 256, "%a", A("hello"), "hello"},
      {"texts", 256, "%.2a", A("hello"), "he"},
      {"texts", 256, "%.a", A("hello"), "h"},
      {"texts", 256, "%.5a|%.6a", A("abcdefg", "abcde"), "abcde| abcde"},
      {"texts", 256, "%.5a", A("ab"), "   ab"},
      {"texts", 256, "%6a", A("ab"), "    ab"},
      {"texts", 256, "%-6a", A("ab"), "ab    "},
      {"texts", 256, "%-6.4a", A("ab"), "  ab  "},
      {"texts", 256, "[%a|%5a|%-3a|%.0a]", A("", "", "", "abc"), "[|     |   |]"},  // empty texts
      {"texts", 256, "[%S|%3s]", {Units({}), Units({})}, "[|   ]"},
      {"texts", 256, "%a", A(nullptr), "<null string>"},
      {"texts", 256, "%s", A(nullptr), "<null string>"},
      {"texts", 256, "%S", A(nullptr), "<null string>"},
      {"texts", 256, "%.4S", A(nullptr), "<nul"},
      {"texts", 256, "%s|%S|%a", A(7, 8u, 9), "<null string>|<null string>|<null string>"},  // integers are no texts
      {"texts", 256, "%S", {Units({0x41, 0x141, 0x42})}, "AAB"},
      {"texts", 256, "%S", {Units({0x41, 0x100, 0x42})}, "A\0B"s},
      {"texts", 256, "%.2s", {Units({0x41, 0x141, 0x42})}, "AA"},
      {"texts", 256, "%5S|%-4s|", {Units({0x70, 0x71}), Misaligned(Units({0x72}), 1)}, "   pq|r   |"},
      {"texts", 256, "%c", A(65), "A"},
      {"texts", 256, "%c", A(0), " "},
      {"texts", 256, "%3c", A(65), "  A"},
      {"texts", 256, "%.3c", A(65), "  A"},
      {"texts", 256, "%-3c|", A(66), "B  |"},
      {"texts", 256, "%c", A(0x141), "A"},
      {"texts", 256, "%c|%c|%c", A(0x10041, 0x100, 0x10000), "A|\0| "s},  // the low 16 bits decide; a unit is cut to its low byte

      // Status names: every name, and the values on each side of the named ranges.
      {"status", 256, "%r", A(6), "00000006"},
      {"status", 256, "%r", A(0x21), "00000021"},
      {"status", 256, "%r", A(0x80000000u), "80000000"},
      {"status", 256, "%r", A(0x80000022u), "80000022"},
      {"status", 256, "%r", A(0x7FFFFFFFu), "7FFFFFFF"},
      {"status", 256, "%r", A(0xFFFFFFFFu), "FFFFFFFF"},
      {"status", 256, "%r", A(0x80000005ull | 0x100000000ull), "Buffer Too Small"},  // 32 bits are read
      {"status", 256, "%12r", A(0x8000000Eu), "   Not Found"},
      {"status", 256, "%-12r|", A(0x8000000Eu), "Not Found   |"},
      {"status", 256, "%.3r|%12r|", A(0x8000000Eu, 0x8000FFFFu), "Not|    8000FFFF|"},

      // GUID and time records, also at odd addresses.
      {"records", 256, "%g", A(&kGuid), "00000001-0002-0003-0405-060708090A0B"},
      {"records", 256, "%g", {Misaligned(V(&kGuid), 1)}, "00000001-0002-0003-0405-060708090A0B"},
      {"records", 256, "%g", {Misaligned(V(&kGuid), 3)}, "00000001-0002-0003-0405-060708090A0B"},
      {"records", 256, "%g", A(&kBusInfo), "4B0165A9-61D6-4E23-A0B5-3EC79C2E30D5"},
      {"records", 256, "%g", A(nullptr), "<null guid>"},
      {"records", 256, "%t", A(&kTime), "07/04/2024  13:05"},
      {"records", 256, "%t", {Misaligned(V(&kTime), 1)}, "07/04/2024  13:05"},
      {"records", 256, "%t", A(&kTimeExtremes), "255/255/65535  255:255"},
      {"records", 256, "%t", A(nullptr), "<null time>"},
      {"records", 256, "%40g|", A(&kGuid), "    00000001-0002-0003-0405-060708090A0B|"},
      {"records", 256, "%.8g", A(&kGuid), "00000001"},  // a precision cuts every text
      {"records", 256, "%-12t|", A(nullptr), "<null time> |"},

      // Line ends and literals.
      {"line ends", 256, "a\nb", {}, "a\r\nb"},
      {"line ends", 256, "a\r\nb", {}, "a\r\nb"},
      {"line ends", 256, "a\n\rb", {}, "a\r\nb"},
      {"line ends", 256, "a\rb", {}, "a\rb"},
      {"line ends", 256, "a\r\r\nb", {}, "a\r\r\nb"},
      {"line ends", 256, "a\n\nb\r\rc", {}, "a\r\n\r\nb\r\rc"},
      {"line ends", 256, "%%", {}, "%"},
      {"line ends", 256, "%q", {}, "q"},
      {"line ends", 256, "%5%", {}, "    %"},
      {"line ends", 256, "ab%", {}, "ab"},
      {"line ends", 256, "ab%5", {}, "ab     "},
      {"line ends", 256, "ab%-5", {}, "ab     "},
      {"line ends", 256, "ab%.5", {}, "ab"},
      {"line ends", 256, "%-5\n", {}, "\r\n   "},
      {"line ends", 256, "%5\n\r|", {}, "   \r\n|"},
      {"line ends", 256, "%3\r|%\r\n|", {}, "  \r|\r\n|"},
      {"line ends", 256, "\xE9\xFF", {}, "\xE9\xFF"},
      {"line ends", 256, "%\xE9|%3\xFF|%-3\x80|", {}, "\xE9|  \xFF|\x80  |"},  // conversions above 0x7F are texts
      {"line ends", 256, "abcd%%efgh\nijkl", {}, "abcd%efgh\r\nijkl"},
      {"line ends", 256, "%y%Z%P%D", A(1, 2), "yZPD"},  // no argument taken by a character without a meaning

      // '*' widths and precisions.
      {"star", 256, "%*d", A(6, 42), "    42"},
      {"star", 256, "%-*d", A(6, 42), "42    "},
      {"star", 256, "%*d", A(-6, 42), "42"},
      {"star", 256, "%.*a", A(3, "hello"), "hel"},
      {"star", 256, "%*.*d", A(8, 4, 42), "    0042"},
      {"star", 256, "%5*d", A(3, 42), " 42"},  // a later width replaces an earlier one
      {"star", 256, "%*5d|%.*3d", A(9, 1, 9, 1), "    1|001"},

      // Arguments stay in step across kinds and widths.
      {"in step", 256, "%d %ld %d %lx %d", A(1, -5000000000LL, 3, 0xFFFFFFFF00000000ULL, 5),
       "1 -5000000000 3 FFFFFFFF00000000 5"},
      {"in step", 256, "%d %d", A(7), "7 0"},              // a missing argument reads as 0
      {"in step", 256, "%ld|%lx|%-1d", A(), "0|0|0"},      // missing 64-bit ones too
      {"in step", 256, "%a|%g|%t", A(1, 2, 3), "<null string>|<null guid>|<null time>"},
      {"in step", 256, "%ld", A(-1), "-1"},                // 32-bit signed read as 64: sign-extended
      {"in step", 256, "%ld|%lx|%ld", A(0, 0, -2147483647 - 1), "0|0|-2147483648"},
      {"in step", 256, "%lx", A(-1), "FFFFFFFFFFFFFFFF"},
      {"in step", 256, "%lx", A(0xFFFFFFFFu), "FFFFFFFF"},  // 32-bit unsigned read as 64: zero-extended
      {"in step", 256, "%lx|%ld", A(0x80000000u, 0x80000000u), "80000000|2147483648"},
      {"in step", 256, "%a %g %d %d", {V(7u), V(8ull), V(9u)}, "<null string> <null guid> 9 0"},

      // The assertion line.
      {"assertion", 256, "ASSERT %a(%d): %a\n", A("MdePkg\\Library\\BaseLib\\String", 1210u, "String != ((void *) 0)"),
       "ASSERT MdePkg\\Library\\BaseLib\\String(1210): String != ((void *) 0)\r\n"},

      // Bounded output: cut at Size - 1 wherever that falls, padding included.
      {"bounded", 3, "abc", {}, "ab"},
      {"bounded", 1, "abc%d", A(5), ""},
      {"bounded", 8, "%d", A(123456789), "1234567"},
      {"bounded", 6, "%,d", A(1234567), "1,234"},
      {"bounded", 5, "%,d", A(1234567), "1,23"},
      {"bounded", 3, "a\n", {}, "a\r"},
      {"bounded", 2, "\n", {}, "\r"},
      {"bounded", 1, "%d%s", A(5), ""},
      {"bounded", 2, "%10d", A(5), " "},
      {"bounded", 3, "%5d", A(7), "  "},            // inside the width's blanks
      {"bounded", 4, "%05d", A(7), "000"},          // inside the zero fill
      {"bounded", 4, "%+05d", A(7), "+00"},         // after the prefix
      {"bounded", 2, "%+5d", A(7), " "},
      {"bounded", 3, "%-5d|", A(7), "7 "},          // inside the trailing blanks
      {"bounded", 5, "%-10d|", A(5), "5   "},
      {"bounded", 4, "%.5a", A("ab"), "   "},       // inside a text's precision blanks
      {"bounded", 6, "%-6.4a|", A("ab"), "  ab "},
      {"bounded", 3, "%S", {Units({0x41, 0x42, 0x43})}, "AB"},
      {"bounded", 2, "%3c", A(65), " "},
      {"bounded", 4, "%g", A(&kGuid), "000"},
      {"bounded", 6, "%.40a", A("ab"), "     "},
      {"bounded", 40, "%1000001d", A(1), std::string(39, ' ')},
      {"bounded", 16, "%2147483647d|", A(1), "               "},
      {"bounded", 16, "%-2147483648d|", A(1), "1              "},  // 2^31 - 1 blanks after
      {"bounded", 16, "%2147483649d|", A(1), "1|"},                // a difference of 2^31 is negative
      {"bounded", 16, "%4294967295d|", A(1), "1|"},
      {"bounded", 16, "%*d|", A(0x7FFFFFFF, 1), "               "},
      {"bounded", 16, "%*d|", A(0x80000000u, 1), "               "},
      {"bounded", 16, "%*d|", A(0xFFFFFFFFu, 1), "1|"},
      {"bounded", 16, "%.2147483647d", A(1), "000000000000000"},
      {"bounded", 16, "%.4294967295d|", A(1), "1|"},
      {"bounded", 16, "%.*a|", A(0xFFFFFFFFu, "xy"), "xy|"},

      // Faults that have bitten other formatters.
      {"bug classes", 0, "%d", A(5u), ""},
      {"bug classes", 1, "%d%a", A(5u, "x"), ""},
      {"bug classes", 256, "[% .0d]", A(0u), "[ ]"},
      {"bug classes", 256, "[%+.0d]", A(0u), "[+]"},
      {"bug classes", 12, "%2147483647d|", A(1u), "           "},
      {"bug classes", 12, "%2147483648d|", A(1u), "           "},
      {"bug classes", 12, "%4294967295d|", A(1u), "1|"},
      {"bug classes", 12, "%*d|", A(0x7FFFFFFFu, 1u), "           "},
      {"bug classes", 12, "%*d|", A(0x80000000u, 1u), "           "},
      {"bug classes", 12, "%*d|", A(0xFFFFFFFFu, 1u), "1|"},
      {"bug classes", 12, "%.2147483647d|", A(1u), "00000000000"},
      {"bug classes", 12, "%.2147483648d|", A(1u), "00000000000"},
      {"bug classes", 12, "%.4294967295d|", A(1u), "1|"},
      {"bug classes", 12, "%.*a|", A(0x7FFFFFFFu, "ab"), "           "},
      {"bug classes", 12, "%.*a|", A(0x80000000u, "ab"), "           "},
      {"bug classes", 12, "%.*a|", A(0xFFFFFFFFu, "ab"), "ab|"},
      {"bug classes", 8, "%.2147483647a|", A("ab"), "       "},
      {"bug classes", 256, "%ld", A(0x8000000000000000ull), "-9223372036854775808"},
      {"bug classes", 256, "%,ld", A(0x8000000000000000ull), "-9,223,372,036,854,775,808"},
      {"bug classes", 256, "%d|%lx|%d|%ld|%a|%d", A(1u, 0xFEDCBA9876543210ull, 2u, 0xFFFFFFFFFFFFFFFFull, "ok", 3u),
       "1|FEDCBA9876543210|2|-1|ok|3"},
      {"bug classes", 256, "%x|%d", A(0x1122334455667788ull, 9u), "55667788|9"},
  };
  for (unsigned Value = 0; Value < 6; Value++) {
    Table.push_back({"status", 256, "%r", A(Value), StatusNameOf(Value)});
  }
  for (unsigned Code = 1; Code <= 33; Code++) {
    Table.push_back({"status", 256, "%r", A(0x80000000u | Code), StatusNameOf(0x80000000u | Code)});
  }
  return Table;
}

}  // namespace

const std::vector<EngineVector> &EngineVectors() {
  static const std::vector<EngineVector> kTable = Build();
  return kTable;
}
