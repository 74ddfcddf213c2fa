// The symbol file of an IA-32 image: the same objects linked once more with
// DWARF (lines, types, variable locations, call frames), never run, only read
// by a debugger. lld-link's DWARF link lays the code out exactly as the image
// but at another RVA (its extra section headers move .text up); a debugger
// loads it with an offset that puts its .text where the image's .text lies.
#ifndef PACKAGING_SYMBOL_FILE_H_
#define PACKAGING_SYMBOL_FILE_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The symbol file made from DwarfLink (the DWARF link of Image's objects):
//   - it must hold the image's code and data byte for byte, the 32-bit
//     addresses at the base-relocation sites moved by the difference of the
//     two .text RVAs, and the same relocation sites; otherwise Error names the
//     first difference (the objects or the link flags changed the code);
//   - the routines and variables lose their linkage names: the target's names
//     are MSVC-mangled, which gdb cannot demangle, so gdb would know each
//     routine only by that name; without it gdb names them as the source
//     does ("LegacyUartInit", "(anonymous namespace)::WriteLineControl"),
//     inlined copies included. The mangled text stays in each entry as its
//     description, and in the COFF symbol table.
std::optional<std::vector<std::uint8_t>> MakeSymbolFile(const std::vector<std::uint8_t> &DwarfLink,
                                                        const std::vector<std::uint8_t> &Image, std::string &Error);

// The check MakeSymbolFile makes, on a symbol file made earlier: it holds
// Image's code (false with Error naming the first difference).
bool SymbolFileDescribes(const std::vector<std::uint8_t> &SymbolFile, const std::vector<std::uint8_t> &Image,
                         std::string &Error);

// The RVA of the .text section of a PE32 or TE image, or of a symbol file.
std::optional<std::uint32_t> TextRva(const std::vector<std::uint8_t> &Image, std::string &Error);

// The offset gdb adds to the symbol file's addresses (add-symbol-file FILE -o
// OFFSET) when the image's RVA 0 lies at ImageBase: whatever base the symbol
// file was linked at, its .text lands where the image's .text lies.
std::optional<std::uint32_t> SymbolOffset(const std::vector<std::uint8_t> &SymbolFile, const std::vector<std::uint8_t> &Image,
                                          std::uint32_t ImageBase, std::string &Error);

#endif  // PACKAGING_SYMBOL_FILE_H_
