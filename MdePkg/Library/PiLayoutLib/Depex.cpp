// PEI dependency expressions: a stack of truth values, PUSH looks a PPI up.
#include "Layout/Depex.h"
#include "Library/PiLayoutLib.h"

INT32 EvaluateDepex(const UINT8 *Expression, UINT32 Size, PPI_PRESENT Installed, DEPEX_STEP Step, void *Context,
                    LAYOUT_FAULT &Fault) {
  BOOLEAN Stack[depex::kMaxDepth];
  UINT32 Depth = 0;
  for (UINT32 At = 0; At < Size;) {
    const UINT8 Op = Expression[At];
    Fault = {LAYOUT_OK, At, 0, Op, Depth, 0};
    if (Op == depex::kPush) {
      if (Size - At < depex::kPushSize) {
        Fault.Check = DEPEX_PUSH_CUT;
        return -1;
      }
      const UINT8 *Guid = Expression + At + 1;
      const BOOLEAN Present = Installed(Guid, Context);
      if (Step != nullptr) {
        Step(Op, Guid, Present, Context);
      }
      if (Depth == depex::kMaxDepth) {
        Fault.Check = DEPEX_OVERFLOW;
        return -1;
      }
      Stack[Depth++] = Present;
      At += depex::kPushSize;
      continue;
    }
    if (Op == depex::kAnd || Op == depex::kOr) {
      if (Depth < 2) {
        Fault.Check = DEPEX_UNDERFLOW;
        return -1;
      }
      Depth--;
      Stack[Depth - 1] = Op == depex::kAnd ? (Stack[Depth - 1] && Stack[Depth]) : (Stack[Depth - 1] || Stack[Depth]);
    } else if (Op == depex::kNot) {
      if (Depth < 1) {
        Fault.Check = DEPEX_UNDERFLOW;
        return -1;
      }
      Stack[Depth - 1] = !Stack[Depth - 1];
    } else if (Op == depex::kTrue || Op == depex::kFalse) {
      if (Depth == depex::kMaxDepth) {
        Fault.Check = DEPEX_OVERFLOW;
        return -1;
      }
      Stack[Depth++] = Op == depex::kTrue;
    } else if (Op == depex::kEnd) {
      if (Step != nullptr) {
        Step(Op, nullptr, false, Context);
      }
      if (Depth != 1) {
        Fault.Check = DEPEX_END_DEPTH;
        return -1;
      }
      return Stack[0] ? 1 : 0;
    } else {
      const BOOLEAN NotInPei = Op == depex::kBefore || Op == depex::kAfter || Op == depex::kSor;
      Fault.Check = NotInPei ? DEPEX_NOT_IN_PEI : DEPEX_UNKNOWN;
      return -1;
    }
    if (Step != nullptr) {
      Step(Op, nullptr, false, Context);
    }
    At++;
  }
  Fault = {DEPEX_NO_END, Size, 0, 0, Depth, 0};
  return -1;
}
