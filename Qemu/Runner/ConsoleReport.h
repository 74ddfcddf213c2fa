// What the foundation wrote on QEMU's debug console, read line by line (the
// keys are FoundationProtocol.h's). The reader takes any text, a cut or a
// foreign one included: it never throws, keeps only what parses, and leaves
// absent what was not reported, so that a check on it fails instead of
// passing on a zero.
#ifndef QEMU_RUNNER_CONSOLE_REPORT_H_
#define QEMU_RUNNER_CONSOLE_REPORT_H_

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "BoardSummary.h"

struct ConsoleReport {
  bool Started = false;  // the foundation's first line
  bool Done = false;     // its last: the report is complete
  std::string Outcome;   // returned, halted, notdispatched, failed; empty when not reported
  std::vector<std::string> Errors;
  // Each PEIM dispatched, in order (its name, or its GUID when it is not one
  // of ours), and the status its entry returned, once it did.
  std::vector<std::pair<std::string, std::optional<std::uint32_t>>> Dispatched;
  // Each PEIM never dispatched and its dependency expression.
  std::vector<std::pair<std::string, std::vector<std::uint8_t>>> NeverDispatched;
  std::vector<std::string> SinkTexts;
  std::optional<std::uint32_t> Return;  // the module's entry
  std::optional<std::uint32_t> ImageBase, ImageSize, ImageEntry;
  bool RegistersPreserved = false;
  std::optional<std::uint32_t> StackBytes;
  std::optional<std::uint32_t> StackBeyond;  // "stack over N": used deeper than the N bytes measured
  std::optional<std::uint64_t> ToModuleEntry, ToModuleReturn, ToDispatchEnd;
  // Every point the foundation timed, in its order, with the instructions
  // since reset: "foundation entry", "BusInfoPei entry", "BusInfoPei
  // return", "SocPreInit entry", "SocPreInit return", "end of dispatch".
  std::vector<std::pair<std::string, std::uint64_t>> BootPoints;
  std::optional<UartState> Com1, Com2;
  std::map<std::string, std::uint32_t> States;   // "lpc40" -> value
  std::map<std::string, std::uint32_t> Devices;  // "edu" -> what it answered
};

ConsoleReport ParseConsoleReport(std::string_view Text);

// "SocPreInit" or "BusInfoPei" for their file names, else the GUID's text.
std::string PeimName(const std::string &Guid);

#endif  // QEMU_RUNNER_CONSOLE_REPORT_H_
