// The forms a module image takes on its way into flash: the TE form of a PE32
// image, and an image rebased to the address it runs at, with its base
// relocations applied at build time (a PEIM that executes in place is never
// relocated at run time).
#ifndef PACKAGING_IMAGE_FORMS_H_
#define PACKAGING_IMAGE_FORMS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Library/PiLayoutLib.h"

// The headers of a PE32 or TE image of at most 16 MiB, or false with Error set.
bool ReadImageHeaders(const std::vector<std::uint8_t> &Image, PE32_INFO &Info, std::string &Error);

// The TE form of a PE32 image that executes in place: a TE header in place of
// the headers before the section table, the rest byte for byte. It executes
// in place too: each section lies at RVA - StrippedSize + 40 in the file,
// where RVA 0 lies at the file's address + 40 - StrippedSize.
std::optional<std::vector<std::uint8_t>> ToTe(const std::vector<std::uint8_t> &Pe32, std::string &Error);

// A PE32 or TE image rebased to run with its first byte at Address: every
// HIGHLOW site moved by the change of base, and the image base set. An image
// with another kind of relocation, a site that does not lie whole in the
// file, or no relocations at all while its base moves is refused.
std::optional<std::vector<std::uint8_t>> RebaseImage(std::vector<std::uint8_t> Image, std::uint32_t Address,
                                                     std::string &Error);

#endif  // PACKAGING_IMAGE_FORMS_H_
