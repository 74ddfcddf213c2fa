// Names of the status values the engine renders with 'r'.
#ifndef MDEPKG_LIBRARY_BASE_PRINT_LIB_STATUS_TEXT_H_
#define MDEPKG_LIBRARY_BASE_PRINT_LIB_STATUS_TEXT_H_

#include "Base.h"

#define WARNING_STATUS_COUNT 6u
#define ERROR_STATUS_COUNT 33u

// Entry Status (0..5) of the warning names.
const CHAR8 *WarningStatusText(UINT32 Status);
// Entry Code - 1 of the error names, for error codes 1..33.
const CHAR8 *ErrorStatusText(UINT32 Code);

#endif  // MDEPKG_LIBRARY_BASE_PRINT_LIB_STATUS_TEXT_H_
