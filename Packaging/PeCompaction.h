// The post-link step of every IA-32 image (pe-compact): it shrinks the headers
// lld-link writes, keeps the image able to execute in place and makes it
// reproducible:
//   - the DOS header is the bare 64-byte MZ header (no DOS program), so the
//     PE signature follows at 0x40;
//   - only the data directories up to the debug directory are kept (the
//     image uses none of the others), so the optional header shrinks by 72 bytes;
//   - the section table follows, SizeOfHeaders becomes the smaller size
//     rounded to the file alignment, and each section moves down by the bytes
//     saved: its raw data in the file and its RVA alike, so that every
//     section's file offset still equals its RVA and the file runs as it
//     lies in flash. Every RVA in the headers moves with it, and so does
//     every address the base relocations name (the image base is 0, so each
//     such address is an RVA);
//   - the link map's addresses move the same way;
//   - TimeDateStamp is 0.
// lld-link 14 has no /stub and always writes 16 directories; a loader reads
// NumberOfRvaAndSizes, so fewer directories are an ordinary PE32 image.
#ifndef PACKAGING_PE_COMPACTION_H_
#define PACKAGING_PE_COMPACTION_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct CompactedImage {
  std::vector<std::uint8_t> Image;
  std::uint32_t Saved = 0;  // how far every section and RVA moved down
};

// The compacted image, or nothing with Error naming the first thing that
// cannot be moved (and the image is not written).
std::optional<CompactedImage> CompactImage(const std::vector<std::uint8_t> &Linked, std::string &Error);

// An lld-link map with every address of a symbol moved down by Saved (lines
// "<section>:<offset> <name> <RVA, 16 digits> <object>"); the other lines as
// they are. Nothing, with Error set, when no symbol line is found or an
// address lies below Saved.
std::optional<std::string> MoveLinkMapDown(const std::string &Map, std::uint32_t Saved, std::string &Error);

#endif  // PACKAGING_PE_COMPACTION_H_
