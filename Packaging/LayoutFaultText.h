// The words for every fault the layout library finds (Library/PiLayoutLib.h
// gives each check a short text; the host tools word it in full from the
// fault's record): "file at 0x48: Size 0x10 is out of range (0x18 to
// 0x1FB8)", "section .text's file offset 0x140 is not its RVA 0x120".
#ifndef PACKAGING_LAYOUT_FAULT_TEXT_H_
#define PACKAGING_LAYOUT_FAULT_TEXT_H_

#include <cstdint>
#include <string>
#include <vector>

#include "Library/PiLayoutLib.h"

// Bytes: the file the fault is in, when a section's name should be read from it.
std::string LayoutFaultText(const LAYOUT_FAULT &Fault, const std::vector<std::uint8_t> *Bytes = nullptr);

// A name or text from a file: anything but a printable character is shown as
// '?', so that no message or listing carries control bytes or a line break.
std::string PrintableText(const std::vector<std::uint8_t> &Bytes, std::uint64_t Offset, std::size_t Limit);

// The name in a PE32 section header at Header.
std::string SectionName(const std::vector<std::uint8_t> &Bytes, std::uint64_t Header);

#endif  // PACKAGING_LAYOUT_FAULT_TEXT_H_
