// Names of the status values the engine renders with 'r'.
#ifndef MDEPKG_LIBRARY_BASE_PRINT_LIB_STATUS_TEXT_H_
#define MDEPKG_LIBRARY_BASE_PRINT_LIB_STATUS_TEXT_H_

#include "Base.h"

#define WARNING_STATUS_COUNT 6u
#define ERROR_STATUS_COUNT 33u

extern const CHAR8 *const WarningStatusText[WARNING_STATUS_COUNT];  // by status value 0..5
extern const CHAR8 *const ErrorStatusText[ERROR_STATUS_COUNT];      // by error code - 1

#endif  // MDEPKG_LIBRARY_BASE_PRINT_LIB_STATUS_TEXT_H_
