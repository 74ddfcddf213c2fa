// The state a run leaves behind, as the summary of `pei-sim run` shows it. The
// virtual board fills it from its devices; the QEMU run fills it from what the
// foundation read back from QEMU's devices. One text for both, so the two machines
// can be compared line for line.
#ifndef BOARD_BOARD_SUMMARY_H_
#define BOARD_BOARD_SUMMARY_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct UartState {
  std::uint8_t LineControl = 0;
  std::uint16_t Divisor = 0;
};

struct BoardState {
  UartState Com1, Com2;
  std::uint32_t Lpc40 = 0, Lpc50 = 0, Lpc80 = 0;  // 00:1F.0 registers 0x40, 0x50, 0x80
  std::uint32_t Window88 = 0;                      // the chipset window word at 0xFED08088
  std::uint8_t Bus = 0;                            // the bus BUS_INFO_PPI names
  std::uint32_t Bases[3] = {};                     // devices 22, 23, 24 of that bus
  std::vector<std::string> Unexpected;
  bool Halted = false;
  std::string LastSink;                 // what reached the sink last
  std::optional<std::uint32_t> Return;  // ModuleEntry's status, when it returned
  std::string NotDispatched;            // why a dispatcher did not call the module, if it did not
};

// The base-address registers the module programs: device and register.
inline constexpr std::uint32_t kDeviceBaseRegisters[3][2] = {{22, 0x10}, {23, 0x24}, {24, 0x24}};

// "9600 bit/s (divisor 12), 8 data bits, no parity, 2 stop bits, break off, divisor latch closed".
std::string UartSettingsText(const UartState &Uart);

// The summary lines, the outcome last.
std::string BoardSummaryText(const BoardState &State);

#endif  // BOARD_BOARD_SUMMARY_H_
