// PEI dependency expression opcodes. PUSH is followed by a 16-byte GUID.
#ifndef MDEPKG_LAYOUT_DEPEX_H_
#define MDEPKG_LAYOUT_DEPEX_H_

#include "Base.h"

namespace depex {
inline constexpr UINT8 kBefore = 0x00;  // not allowed in PEI
inline constexpr UINT8 kAfter = 0x01;   // not allowed in PEI
inline constexpr UINT8 kPush = 0x02;
inline constexpr UINT8 kAnd = 0x03;
inline constexpr UINT8 kOr = 0x04;
inline constexpr UINT8 kNot = 0x05;
inline constexpr UINT8 kTrue = 0x06;
inline constexpr UINT8 kFalse = 0x07;
inline constexpr UINT8 kEnd = 0x08;
inline constexpr UINT8 kSor = 0x09;  // not allowed in PEI
inline constexpr UINT32 kPushSize = 17;
inline constexpr UINT32 kMaxDepth = 64;  // values an evaluator keeps on its stack
}  // namespace depex

#endif  // MDEPKG_LAYOUT_DEPEX_H_
