// Runs the host build of the module on a virtual board.
#ifndef HARNESS_HOST_RUN_H_
#define HARNESS_HOST_RUN_H_

#include "VirtualBoard.h"

// Calls ModuleEntry with a PEI services table whose LocatePpi is the board's,
// with the board installed as the host platform. Returns when the entry
// returns (the board records it) or a halt stops the run.
void RunModuleOnHost(VirtualBoard &Board);

#endif  // HARNESS_HOST_RUN_H_
