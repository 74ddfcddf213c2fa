// Runs the host build's format engine into a buffer with guard bytes on both
// sides, with halts stopped and the sink captured: the one harness that the
// tests, pei-sim and the fuzzers share. Built once per form of the engine
// (guarded_format and guarded_format_compact).
#ifndef HARNESS_GUARDED_FORMAT_H_
#define HARNESS_GUARDED_FORMAT_H_

#include <vector>

#include "FormatRunTypes.h"
#include "Library/PrintLib.h"

FIRMWARE_ROUTINES_BEGIN

// Argument records as a C++ caller makes them (pointers into host memory).
FormatOutcome FormatGuarded(UINTN BufferSize, const CHAR8 *Format, const std::vector<PRINT_ARG> &Args);

// Arguments as values: their bytes are laid out on the host first, each in
// an allocation of its own at its misalignment.
FormatOutcome FormatValues(UINTN BufferSize, const std::string &Format, const std::vector<FormatValue> &Args);

FIRMWARE_ROUTINES_END

#if !PRINT_COMPACT
// The compact form's harness, for a program that links both forms.
namespace compact_form {
FormatOutcome FormatGuarded(UINTN BufferSize, const CHAR8 *Format, const std::vector<PRINT_ARG> &Args);
FormatOutcome FormatValues(UINTN BufferSize, const std::string &Format, const std::vector<FormatValue> &Args);
}  // namespace compact_form
#endif

#endif  // HARNESS_GUARDED_FORMAT_H_
