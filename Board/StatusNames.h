// The names of EFI status values as the board's summary shows them. The board
// judges the module, so it keeps its own table rather than asking the
// module's engine. The engine's test vectors take their expected names from
// here, so the engine and this table are held to the same names.
#ifndef BOARD_STATUS_NAMES_H_
#define BOARD_STATUS_NAMES_H_

#include <cstdint>
#include <string>

// "Not Found" for 0x8000000E; a status with no name as its 8 hex digits.
std::string StatusNameOf(std::uint32_t Status);

#endif  // BOARD_STATUS_NAMES_H_
