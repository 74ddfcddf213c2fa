#include "Trace.h"

#include <cstdio>

std::string EscapeC(std::string_view Bytes) {
  std::string Out;
  for (unsigned char Byte : Bytes) {
    switch (Byte) {
      case '\r': Out += "\\r"; break;
      case '\n': Out += "\\n"; break;
      case '"': Out += "\\\""; break;
      case '\\': Out += "\\\\"; break;
      default:
        if (Byte >= 0x20 && Byte < 0x7F) {
          Out += static_cast<char>(Byte);
        } else {
          char Escape[8];
          std::snprintf(Escape, sizeof Escape, "\\x%02X", Byte);
          Out += Escape;
        }
    }
  }
  return Out;
}

void Trace::Add(std::string Line, std::string_view Note) {
  if (Lines_.size() >= kMaxLines) {
    Dropped_++;
    return;
  }
  if (!Note.empty()) {
    Line += "  # ";
    Line += Note;
  }
  Lines_.push_back(std::move(Line));
}

std::string Trace::Text() const {
  std::string Out;
  for (const std::string &Line : Lines_) {
    Out += Line;
    Out += '\n';
  }
  if (Dropped_ != 0) {
    Out += "trace truncated: " + std::to_string(Dropped_) + " more lines\n";
  }
  return Out;
}
