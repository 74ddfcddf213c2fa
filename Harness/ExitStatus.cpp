#include "ExitStatus.h"

ExitStatus ExitStatusOf(const BoardState &State) {
  if (!State.NotDispatched.empty()) {
    return ExitStatus::NotDispatched;
  }
  if (State.Halted || !State.Return) {
    return ExitStatus::Halted;
  }
  return (*State.Return & 0x80000000u) != 0 ? ExitStatus::Failed : ExitStatus::Success;
}
