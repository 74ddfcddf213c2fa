// Register access and its alignment checks, called directly.
#include <gtest/gtest.h>

#include "AssertionText.h"
#include "HostPlatform.h"
#include "Library/IoLib.h"
#include "VirtualBoard.h"

namespace {

struct Outcome {
  bool Finished;
  std::vector<std::string> Trace;
};

template <class FUNCTION> Outcome OnBoard(bool Release, FUNCTION &&Body) {
  BoardSettings Settings;
  Settings.ReleaseHalts = Release;
  VirtualBoard Board(Settings);
  ScopedHostPlatform Installed(Board);
  const bool Finished = RunStoppableAtHalt(Body);
  return {Finished, Board.Log().Lines()};
}

TEST(IoLib, AlignedAccessesReturnTheirValue) {
  UINT32 Port = 0;
  UINT32 Mmio = 0;
  const Outcome Result = OnBoard(false, [&] {
    Port = PortWrite32(0x10CF8, 0x8000F840);  // only the low 16 bits address the port
    Mmio = MmioStore32(0xE00F8044, 0x12345678);
    PortWrite8(0x3FB, 0x03);
  });
  EXPECT_TRUE(Result.Finished);
  EXPECT_EQ(Port, 0x8000F840u);
  EXPECT_EQ(Mmio, 0x12345678u);
  ASSERT_EQ(Result.Trace.size(), 3u);
  EXPECT_EQ(Result.Trace[0].substr(0, 23), "out32 0x0CF8 0x8000F840");
  EXPECT_EQ(Result.Trace[1].substr(0, 29), "store32 0xE00F8044 0x12345678");
  EXPECT_EQ(Result.Trace[2].substr(0, 16), "out8 0x03FB 0x03");
}

TEST(IoLib, MisalignedPortWriteHaltsBeforeTheWrite) {
  const Outcome Halted = OnBoard(false, [] { PortWrite32(0xCFA, 1); });
  EXPECT_FALSE(Halted.Finished);
  ASSERT_EQ(Halted.Trace.size(), 2u);
  EXPECT_EQ(WithoutLine(Halted.Trace[0].substr(6, Halted.Trace[0].size() - 7)),
            "ASSERT MdePkg\\\\Library\\\\BaseIoLibIntrinsic\\\\IoLibMsc(N): (Port & 3) == 0\\r\\n");
  EXPECT_EQ(Halted.Trace[1], "halt");

  // Released, the write goes ahead as if the check had passed.
  UINT32 Returned = 0;
  const Outcome Released = OnBoard(true, [&] { Returned = PortWrite32(0xCFA, 7); });
  EXPECT_TRUE(Released.Finished);
  EXPECT_EQ(Returned, 7u);
  EXPECT_EQ(Released.Trace.back().substr(0, 23), "out32 0x0CFA 0x00000007");
}

TEST(IoLib, MisalignedMmioStoreHaltsBeforeTheStore) {
  const Outcome Halted = OnBoard(false, [] { MmioStore32(0xE00F8042, 1); });
  EXPECT_FALSE(Halted.Finished);
  ASSERT_EQ(Halted.Trace.size(), 2u);
  EXPECT_NE(Halted.Trace[0].find("BaseIoLibIntrinsic\\\\IoLib("), std::string::npos);
  EXPECT_NE(Halted.Trace[0].find("(Address & 3) == 0"), std::string::npos);

  const Outcome Released = OnBoard(true, [] { MmioStore32(0xE00F8042, 0xAABBCCDD); });
  EXPECT_EQ(Released.Trace.back().substr(0, 29), "store32 0xE00F8042 0xAABBCCDD");
}

// Every misaligned address and port, bit 0 as well as bit 1, halts before
// the access; every aligned one, high ports included, goes through with its
// own port number.
TEST(IoLib, AlignmentChecksTakeBothLowBits) {
  for (const UINT32 Low : {1u, 2u, 3u}) {
    const Outcome Port = OnBoard(false, [&] { PortWrite32(0xCF8 + Low, 1); });
    EXPECT_FALSE(Port.Finished) << Low;
    EXPECT_EQ(Port.Trace.back(), "halt") << Low;
    EXPECT_EQ(Port.Trace.size(), 2u) << Low;
    const Outcome Store = OnBoard(false, [&] { MmioStore32(0xE00F8040 + Low, 1); });
    EXPECT_FALSE(Store.Finished) << Low;
    EXPECT_EQ(Store.Trace.size(), 2u) << Low;
  }
  const Outcome High = OnBoard(false, [] {
    PortWrite32(0x8000, 1);
    PortWrite32(0xFFFC, 2);
    PortWrite8(0x8001, 3);
  });
  EXPECT_TRUE(High.Finished);
  ASSERT_EQ(High.Trace.size(), 3u);
  EXPECT_EQ(High.Trace[0].substr(0, 23), "out32 0x8000 0x00000001");
  EXPECT_EQ(High.Trace[1].substr(0, 23), "out32 0xFFFC 0x00000002");
  EXPECT_EQ(High.Trace[2].substr(0, 16), "out8 0x8001 0x03");
}

}  // namespace
