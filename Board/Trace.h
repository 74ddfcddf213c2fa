// The board's record of every platform operation, in program order, one line
// each: fields separated by one blank, uppercase hex, and an optional note
// after two blanks and '#'.
#ifndef BOARD_TRACE_H_
#define BOARD_TRACE_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "TextFields.h"

std::string EscapeC(std::string_view Bytes);       // C escapes: \r \n \" \\ \xNN

class Trace {
 public:
  // At most kMaxLines lines are kept; then one "trace truncated" line counts
  // the rest, so that a runaway image cannot grow the trace without bound.
  static constexpr std::size_t kMaxLines = 10000;
  void Add(std::string Line, std::string_view Note = {});
  const std::vector<std::string> &Lines() const { return Lines_; }
  std::string Text() const;  // every line, each ended by '\n'

 private:
  std::vector<std::string> Lines_;
  std::uint64_t Dropped_ = 0;
};

#endif  // BOARD_TRACE_H_
