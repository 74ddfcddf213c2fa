// Names of the status values the engine renders with 'r'.
#ifndef MDEPKG_LIBRARY_BASE_PRINT_LIB_STATUS_TEXT_H_
#define MDEPKG_LIBRARY_BASE_PRINT_LIB_STATUS_TEXT_H_

#include "Base.h"

#define WARNING_STATUS_COUNT 6u
#define ERROR_STATUS_COUNT 33u

FIRMWARE_ROUTINES_BEGIN

// The name of a status: WarningStatusText entry Status for 0..5,
// ErrorStatusText entry Code - 1 for the errors 0x80000001..0x80000021; null
// for every other status.
const CHAR8 *StatusName(UINT32 Status);

FIRMWARE_ROUTINES_END

#endif  // MDEPKG_LIBRARY_BASE_PRINT_LIB_STATUS_TEXT_H_
