// What a run of the module starts from: the platform's settings as the
// virtual board takes them, and as a QEMU run hands them to the foundation.
#ifndef BOARD_BOARD_SETTINGS_H_
#define BOARD_BOARD_SETTINGS_H_

#include <cstdint>
#include <optional>

struct BoardSettings {
  std::uint8_t DivisorCode = 1;  // PLATFORM_CONFIG.SerialDivisorCode
  std::uint8_t Bus = 1;          // BUS_INFO_PPI.BusNumber
  std::uint8_t Reg40 = 0x00;     // initial low byte of 00:1F.0 register 0x40
  bool PpiInstalled = true;
  std::optional<std::uint32_t> PpiStatus;   // LocatePpi fails with this status
  bool ReleaseHalts = false;                // end each halt as a debugger would
  std::optional<std::uint32_t> DebugLevel;  // host build only: overrides the built level mask
};

#endif  // BOARD_BOARD_SETTINGS_H_
