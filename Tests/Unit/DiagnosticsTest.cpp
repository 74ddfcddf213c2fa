// Assertion reports, halts and their release, debug messages and the
// string-length limit.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <string>
#include <vector>

#include "AssertionText.h"
#include "HostPlatform.h"
#include "Library/BaseLib.h"
#include "Library/DebugLib.h"
#include "RenderHelpers.h"

namespace {

using Action = HostPlatform::HaltAction;

// Runs Body with a capture installed; returns whether it finished.
template <class FUNCTION> bool RunCaptured(DiagnosticsCapture &Capture, FUNCTION &&Body) {
  ScopedHostPlatform Installed(Capture);
  return RunStoppableAtHalt(Body);
}

TEST(Diagnostics, ReportFormatsTheLineHandsItToTheSinkAndHalts) {
  DiagnosticsCapture Capture(Action::Stop);
  bool After = false;
  EXPECT_FALSE(RunCaptured(Capture, [&] {
    ReportAssertion("MdePkg\\Library\\BaseIoLibIntrinsic\\IoLibMsc", 223, "(Port & 3) == 0");
    After = true;
  }));
  EXPECT_FALSE(After);
  EXPECT_EQ(Capture.Halts, 1);
  ASSERT_EQ(Capture.Sink.size(), 1u);
  // The sink gets the measured length: the line without its terminating NUL.
  EXPECT_EQ(Capture.Sink[0], "ASSERT MdePkg\\Library\\BaseIoLibIntrinsic\\IoLibMsc(223): (Port & 3) == 0\r\n");
}

TEST(Diagnostics, ReleasedHaltReturnsToTheCaller) {
  DiagnosticsCapture Capture(Action::Release);
  bool After = false;
  EXPECT_TRUE(RunCaptured(Capture, [&] {
    ReportAssertion("f", 1, "x");
    After = true;
  }));
  EXPECT_TRUE(After);
  EXPECT_EQ(Capture.Halts, 1);
}

TEST(Diagnostics, LongAssertionLinesKeepTheirFirst255Characters) {
  DiagnosticsCapture Capture(Action::Release);
  // "ASSERT f(1): " is 13 characters; with CR LF a 241-character text makes 256.
  const std::string Exact(241, 'e');
  const std::string Longer(300, 'l');
  RunCaptured(Capture, [&] {
    ReportAssertion("f", 1, Exact.c_str());
    ReportAssertion("f", 1, Longer.c_str());
  });
  ASSERT_EQ(Capture.Sink.size(), 2u);
  EXPECT_EQ(Capture.Sink[0], "ASSERT f(1): " + Exact + "\r");
  EXPECT_EQ(Capture.Sink[1], "ASSERT f(1): " + std::string(242, 'l'));
}

// A check that fails while a report is on its way halts in its own loop;
// releasing it returns into the outer report, which then halts in turn.
TEST(Diagnostics, NestedReportHaltsInsideTheFirst) {
  struct Nesting : DiagnosticsCapture {
    Nesting() : DiagnosticsCapture(Action::Release) {}
    void SinkWrite(std::string_view Bytes) override {
      DiagnosticsCapture::SinkWrite(Bytes);
      if (Sink.size() == 1) {
        AsciiStrLength(nullptr);
      }
    }
    HaltAction OnHalt() override {
      HaltOrder.push_back(Sink.size());
      return DiagnosticsCapture::OnHalt();
    }
    std::vector<std::size_t> HaltOrder;
  } Capture;
  EXPECT_TRUE(RunCaptured(Capture, [] { ReportAssertion("outer", 7, "first"); }));
  ASSERT_EQ(Capture.Sink.size(), 2u);
  EXPECT_EQ(Capture.Sink[0], "ASSERT outer(7): first\r\n");
  EXPECT_EQ(WithoutLine(Capture.Sink[1]), "ASSERT MdePkg\\Library\\BaseLib\\String(N): String != ((void *) 0)\r\n");
  EXPECT_EQ(Capture.HaltOrder, (std::vector<std::size_t>{2, 2}));
}

TEST(Diagnostics, EveryCheckNamesItsOwnSourceLine) {
  struct Check {
    std::function<void()> Trigger;
    const char *Expected;
  };
  char Buffer[4];
  const std::vector<Check> Checks = {
      {[] { AsciiStrLength(nullptr); }, "ASSERT MdePkg\\Library\\BaseLib\\String(N): String != ((void *) 0)\r\n"},
      {[] { DivU64x32Remainder(5, 0, nullptr); },
       "ASSERT MdePkg\\Library\\BaseLib\\DivU64x32Remainder(N): Divisor != 0\r\n"},
      {[] { LoadUnaligned16(nullptr); }, "ASSERT MdePkg\\Library\\BaseLib\\Unaligned(N): Buffer != ((void *) 0)\r\n"},
      {[] { FormatToBuffer(nullptr, 4, "x", nullptr); },
       "ASSERT MdePkg\\Library\\BasePrintLib\\PrintLibInternal(N): Buffer != ((void *) 0)\r\n"},
      {[&] { FormatToBuffer(Buffer, 4, nullptr, nullptr); },
       "ASSERT MdePkg\\Library\\BaseLib\\String(N): String != ((void *) 0)\r\n"},
      {[] { PrintDebugMessage(LEVEL_ERROR, RUNTIME_FORMAT(nullptr)); },
       "ASSERT MdePkg\\Library\\BaseDebugLibSerialPort\\DebugLib(N): Format != ((void *) 0)\r\n"},
  };
  for (const Check &Each : Checks) {
    DiagnosticsCapture Capture(Action::Stop);
    EXPECT_FALSE(RunCaptured(Capture, Each.Trigger));
    ASSERT_EQ(Capture.Sink.size(), 1u) << Each.Expected;
    EXPECT_EQ(WithoutLine(Capture.Sink[0]), Each.Expected);
    EXPECT_TRUE(PointsAtItsCheck(Capture.Sink[0])) << Capture.Sink[0];
  }
}

// After a released halt the checked routines return sound results instead of
// using the null or zero they were given.
TEST(Diagnostics, ReleasedChecksReturnSafely) {
  DiagnosticsCapture Capture(Action::Release);
  UINT32 Remainder = 99;
  char Buffer[4] = {'.', '.', '.', '.'};
  RunCaptured(Capture, [&] {
    EXPECT_EQ(AsciiStrLength(nullptr), 0u);
    EXPECT_EQ(DivU64x32Remainder(5, 0, &Remainder), 0u);
    EXPECT_EQ(LoadUnaligned16(nullptr), 0u);
    EXPECT_EQ(FormatToBuffer(nullptr, 4, "x", nullptr), 0u);
    EXPECT_EQ(FormatToBuffer(Buffer, 4, nullptr, nullptr), 0u);
    PrintDebugMessage(LEVEL_ERROR, RUNTIME_FORMAT(nullptr));
  });
  EXPECT_EQ(Remainder, 0u);
  EXPECT_EQ(Buffer[0], 0);
  EXPECT_EQ(Capture.Halts, 6);
}

TEST(Diagnostics, StringLengthLimit) {
  const std::string AtLimit(1000000, 'a');
  const std::string OverLimit(1000001, 'a');
  EXPECT_EQ(AsciiStrLength(""), 0u);
  EXPECT_EQ(AsciiStrSize(""), 1u);
  DiagnosticsCapture Capture(Action::Stop);
  UINTN Length = 0;
  EXPECT_TRUE(RunCaptured(Capture, [&] { Length = AsciiStrLength(AtLimit.c_str()); }));
  EXPECT_EQ(Length, 1000000u);
  EXPECT_FALSE(RunCaptured(Capture, [&] { AsciiStrLength(OverLimit.c_str()); }));
  ASSERT_EQ(Capture.Sink.size(), 1u);
  EXPECT_EQ(WithoutLine(Capture.Sink[0]),
            "ASSERT MdePkg\\Library\\BaseLib\\String(N): Length < _gPcd_FixedAtBuild_PcdMaximumAsciiStringLength\r\n");
  EXPECT_TRUE(PointsAtItsCheck(Capture.Sink[0]));

  DiagnosticsCapture Released(Action::Release);
  EXPECT_TRUE(RunCaptured(Released, [&] { Length = AsciiStrSize(OverLimit.c_str()); }));
  EXPECT_EQ(Length, 1000002u);
  EXPECT_EQ(Released.Halts, 1);
}

// The format and the output text are both measured with the limit.
TEST(Diagnostics, EngineMeasuresFormatAndOutput) {
  const std::string LongFormat(1000001, 'f');
  EXPECT_TRUE(Render(8, LongFormat.c_str()).Halted);
  EXPECT_FALSE(Render(8, std::string(1000000, 'f').c_str()).Halted);
  const Rendered AtLimit = Render(1000001, "%1000000d", 1);
  EXPECT_FALSE(AtLimit.Halted);
  EXPECT_EQ(AtLimit.Count, 1000000u);
  const Rendered OverLimit = Render(1000002, "%1000001d", 1);
  EXPECT_TRUE(OverLimit.Halted);
  ASSERT_EQ(OverLimit.Sink.size(), 1u);
  EXPECT_NE(OverLimit.Sink[0].find("Length < _gPcd_FixedAtBuild_PcdMaximumAsciiStringLength"), std::string::npos);
}

TEST(Diagnostics, DebugMessagesAreGatedByTheLevelMask) {
  EXPECT_EQ(PcdDebugPrintLevel, 0x00000001u);
  DiagnosticsCapture Capture(Action::Stop);
  RunCaptured(Capture, [] { PrintDebugMessage(LEVEL_ERROR, "\nASSERT_EFI_ERROR (Status = %r)\n", 0x8000000Eu); });
  EXPECT_TRUE(Capture.Sink.empty());
  RunCaptured(Capture, [] { PrintDebugMessage(0x00000001u, "info %d", 5); });
  ASSERT_EQ(Capture.Sink.size(), 1u);
  EXPECT_EQ(Capture.Sink[0], "info 5");

  Capture.Sink.clear();
  Capture.Level = 0x80000001u;
  RunCaptured(Capture, [] { PrintDebugMessage(LEVEL_ERROR, "\nASSERT_EFI_ERROR (Status = %r)\n", 0x8000000Eu); });
  ASSERT_EQ(Capture.Sink.size(), 1u);
  EXPECT_EQ(Capture.Sink[0], "\r\nASSERT_EFI_ERROR (Status = Not Found)\r\n");
  EXPECT_EQ(Capture.Halts, 0);
}

TEST(Diagnostics, NullFormatHaltsEvenWhenTheLevelIsOff) {
  DiagnosticsCapture Capture(Action::Stop);
  EXPECT_FALSE(RunCaptured(Capture, [] { PrintDebugMessage(0x00000100u, RUNTIME_FORMAT(nullptr)); }));
  EXPECT_EQ(Capture.Halts, 1);
}

TEST(Diagnostics, DivisionAndUnalignedReads) {
  UINT32 Remainder = 0;
  EXPECT_EQ(DivU64x32Remainder(0xFFFFFFFFFFFFFFFFULL, 10, &Remainder), 1844674407370955161ULL);
  EXPECT_EQ(Remainder, 5u);
  EXPECT_EQ(DivU64x32Remainder(0x123456789ABCDEF0ULL, 0xFFFFFFFFu, &Remainder), 0x12345678ULL);
  EXPECT_EQ(Remainder, 0xACF13568u);
  EXPECT_EQ(DivU64x32Remainder(7, 7, nullptr), 1u);
  const unsigned char Bytes[] = {0x11, 0x22, 0x33};
  EXPECT_EQ(LoadUnaligned16(Bytes + 1), 0x3322u);
}

// The halt is a real loop on a word read from memory every pass: it keeps
// the processor until something outside writes the word, and then returns.
// (Every other harness ends a halt at its entry, so only this test sees the
// loop itself.)
TEST(Diagnostics, HaltSpinsUntilItsWordIsWrittenFromOutside) {
  struct Debugger : HostPlatform {
    std::atomic<volatile UINT32 *> Word{nullptr};
    void HaltWordAt(volatile UINT32 *At) override { Word = At; }
    HaltAction OnHalt() override { return HaltAction::Spin; }
  } Outside;
  ScopedHostPlatform Installed(Outside);
  std::atomic<bool> Returned{false};
  std::thread Processor([&] {
    HaltProcessor();
    Returned = true;
  });
  for (int Wait = 0; Wait < 5000 && Outside.Word == nullptr; Wait++) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_NE(Outside.Word.load(), nullptr);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(Returned) << "the halt returned without its word being written";
  __atomic_store_n(const_cast<UINT32 *>(Outside.Word.load()), 1u, __ATOMIC_SEQ_CST);
  for (int Wait = 0; Wait < 5000 && !Returned; Wait++) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_TRUE(Returned) << "the halt did not see its word change";
  if (Returned) {
    Processor.join();
  } else {
    Processor.detach();  // still spinning: ends with the process
  }
}

// The limit is tested before each character is counted: one character below
// it and at it pass; released, every character past it is reported once.
TEST(Diagnostics, StringLengthLimitFromBothSides) {
  for (const std::size_t Length : {999999u, 1000000u}) {
    const std::string Text(Length, 'a');
    DiagnosticsCapture Capture(Action::Stop);
    UINTN Measured = 0;
    EXPECT_TRUE(RunCaptured(Capture, [&] { Measured = AsciiStrSize(Text.c_str()); }));
    EXPECT_EQ(Measured, Length + 1);
  }
  const std::string ThreeOver(1000003, 'a');
  DiagnosticsCapture Released(Action::Release);
  UINTN Measured = 0;
  EXPECT_TRUE(RunCaptured(Released, [&] { Measured = AsciiStrLength(ThreeOver.c_str()); }));
  EXPECT_EQ(Measured, 1000003u);
  EXPECT_EQ(Released.Halts, 3);
}

// A message longer than its 256-byte buffer reaches the sink cut to 255
// characters; a null format, released, is reported once and formats nothing.
TEST(Diagnostics, DebugMessageBoundsAndNullFormatReleased) {
  DiagnosticsCapture Capture(Action::Stop);
  Capture.Level = 0xFFFFFFFFu;
  const std::string Long(300, 'm');
  EXPECT_TRUE(RunCaptured(Capture, [&] { PrintDebugMessage(1, RUNTIME_FORMAT(Long.c_str())); }));
  ASSERT_EQ(Capture.Sink.size(), 1u);
  EXPECT_EQ(Capture.Sink[0], std::string(255, 'm'));

  DiagnosticsCapture Released(Action::Release);
  Released.Level = 0xFFFFFFFFu;
  EXPECT_TRUE(RunCaptured(Released, [] { PrintDebugMessage(1, RUNTIME_FORMAT(nullptr)); }));
  EXPECT_EQ(Released.Halts, 1);
  ASSERT_EQ(Released.Sink.size(), 1u);
  EXPECT_EQ(WithoutLine(Released.Sink[0]),
            "ASSERT MdePkg\\Library\\BaseDebugLibSerialPort\\DebugLib(N): Format != ((void *) 0)\r\n");
}

// A run-time format reads the records a caller made: a signed 32-bit zero
// under a 64-bit directive is 0, a signed -1 is -1, an unsigned one is not.
TEST(Diagnostics, RuntimeFormatsReadSignedValuesAtTheirWidth) {
  DiagnosticsCapture Capture(Action::Stop);
  Capture.Level = 0xFFFFFFFFu;
  RunCaptured(Capture, [] {
    PrintDebugMessage(1, RUNTIME_FORMAT("%ld|%ld|%ld|%lx"), static_cast<INT32>(0), static_cast<INT32>(-1),
                      static_cast<UINT32>(0xFFFFFFFFu), static_cast<INT32>(0));
  });
  ASSERT_EQ(Capture.Sink.size(), 1u);
  EXPECT_EQ(Capture.Sink[0], "0|-1|4294967295|0");
}

}  // namespace
