// The packed argument records and their bounded readers.
#include <gtest/gtest.h>

#include "Library/PrintArgs.h"

namespace {

TEST(PrintArgs, RecordsKeepWidthSignednessAndPointers) {
  EXPECT_EQ(MakePrintArg(-1).Kind, PRINT_ARG_INT32);
  EXPECT_EQ(MakePrintArg(1u).Kind, PRINT_ARG_UINT32);
  EXPECT_EQ(MakePrintArg(static_cast<UINT8>(200)).Kind, PRINT_ARG_UINT32);
  EXPECT_EQ(MakePrintArg(-1LL).Kind, PRINT_ARG_INT64);
  EXPECT_EQ(MakePrintArg(1ULL).Kind, PRINT_ARG_UINT64);
  EXPECT_EQ(MakePrintArg("x").Kind, PRINT_ARG_POINTER);
  EXPECT_EQ(MakePrintArg(nullptr).Kind, PRINT_ARG_POINTER);
}

TEST(PrintArgs, ReadersConvertAsDescribed) {
  static const char Text[] = "t";
  const PRINT_ARG Records[] = {MakePrintArg(-2), MakePrintArg(0xFFFFFFFEu), MakePrintArg(0x1122334455667788ULL),
                               MakePrintArg(Text), MakePrintArg(7)};
  PRINT_ARG_LIST Cursor{Records, Records + 5};
  EXPECT_EQ(PrintArgTake64(&Cursor), 0xFFFFFFFFFFFFFFFEULL);  // signed 32 -> sign-extended
  EXPECT_EQ(PrintArgTake64(&Cursor), 0x00000000FFFFFFFEULL);  // unsigned 32 -> zero-extended
  EXPECT_EQ(PrintArgTake32(&Cursor), 0x55667788u);            // 64 -> low half
  EXPECT_EQ(PrintArgTake64(&Cursor), reinterpret_cast<std::uintptr_t>(Text));  // pointer as number: its address
  EXPECT_EQ(PrintArgTakePointer(&Cursor), nullptr);           // integer as pointer: null
  EXPECT_EQ(PrintArgTake32(&Cursor), 0u);                     // past the end: 0, and no read beyond
  EXPECT_EQ(PrintArgTakePointer(&Cursor), nullptr);
  EXPECT_EQ(Cursor.Next, Records + 5);
  EXPECT_EQ(PrintArgTake32(nullptr), 0u);
}

}  // namespace
