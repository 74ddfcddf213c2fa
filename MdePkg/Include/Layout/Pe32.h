// The PE32 image layout as far as the module, its loaders and its tools use
// it: DOS header, PE signature, COFF file header, PE32 optional header with
// its data directories, section headers and base relocation blocks. Offsets
// are in bytes from the start of the structure named by the namespace.
#ifndef MDEPKG_LAYOUT_PE32_H_
#define MDEPKG_LAYOUT_PE32_H_

#include "Base.h"

namespace pe32 {

namespace dos {
inline constexpr UINT32 Magic = 0x00;  // "MZ"
inline constexpr UINT32 Lfanew = 0x3C;  // file offset of the PE signature
inline constexpr UINT32 Size = 0x40;
inline constexpr UINT16 kMagic = 0x5A4D;
}  // namespace dos

inline constexpr UINT32 kSignature = 0x00004550;  // "PE\0\0"
inline constexpr UINT32 kSignatureSize = 4;

namespace file_header {  // COFF file header, after the signature
inline constexpr UINT32 Machine = 0;
inline constexpr UINT32 NumberOfSections = 2;
inline constexpr UINT32 TimeDateStamp = 4;
inline constexpr UINT32 PointerToSymbolTable = 8;  // COFF symbols; the string table follows them
inline constexpr UINT32 NumberOfSymbols = 12;
inline constexpr UINT32 SizeOfOptionalHeader = 16;
inline constexpr UINT32 Characteristics = 18;
inline constexpr UINT32 Size = 20;
}  // namespace file_header

inline constexpr UINT32 kCoffSymbolSize = 18;  // one entry of the COFF symbol table

// The signature and the file header: the optional header follows.
inline constexpr UINT32 kNtHeadersSize = kSignatureSize + file_header::Size;

namespace optional_header {  // PE32 (not PE32+)
inline constexpr UINT32 Magic = 0;
inline constexpr UINT32 AddressOfEntryPoint = 16;
inline constexpr UINT32 BaseOfCode = 20;
inline constexpr UINT32 BaseOfData = 24;
inline constexpr UINT32 ImageBase = 28;
inline constexpr UINT32 SectionAlignment = 32;
inline constexpr UINT32 FileAlignment = 36;
inline constexpr UINT32 SizeOfImage = 56;
inline constexpr UINT32 SizeOfHeaders = 60;
inline constexpr UINT32 Subsystem = 68;
inline constexpr UINT32 DllCharacteristics = 70;
inline constexpr UINT32 NumberOfRvaAndSizes = 92;
inline constexpr UINT32 DataDirectory = 96;  // the size without directories
}  // namespace optional_header

namespace data_directory {  // one entry; and which entry is which
inline constexpr UINT32 VirtualAddress = 0;
inline constexpr UINT32 Size = 4;
inline constexpr UINT32 EntrySize = 8;
inline constexpr UINT32 kImport = 1;
inline constexpr UINT32 kSecurity = 4;  // its "RVA" is a file offset
inline constexpr UINT32 kBaseRelocation = 5;
inline constexpr UINT32 kDebug = 6;
inline constexpr UINT32 kMaxEntries = 16;
}  // namespace data_directory

constexpr UINT32 DirectoryOffset(UINT32 Entry) {
  return optional_header::DataDirectory + Entry * data_directory::EntrySize;
}

namespace section_header {
inline constexpr UINT32 Name = 0;
inline constexpr UINT32 NameSize = 8;
inline constexpr UINT32 VirtualSize = 8;
inline constexpr UINT32 VirtualAddress = 12;
inline constexpr UINT32 SizeOfRawData = 16;
inline constexpr UINT32 PointerToRawData = 20;
inline constexpr UINT32 Characteristics = 36;
inline constexpr UINT32 Size = 40;
inline constexpr UINT32 kMaxCount = 96;
}  // namespace section_header

namespace section_flags {
inline constexpr UINT32 kCode = 0x00000020;
inline constexpr UINT32 kInitializedData = 0x00000040;
inline constexpr UINT32 kUninitializedData = 0x00000080;
inline constexpr UINT32 kDiscardable = 0x02000000;
inline constexpr UINT32 kExecute = 0x20000000;
inline constexpr UINT32 kRead = 0x40000000;
inline constexpr UINT32 kWrite = 0x80000000;
}  // namespace section_flags

namespace relocation_block {  // base relocations: blocks of 16-bit entries
inline constexpr UINT32 PageRva = 0;
inline constexpr UINT32 SizeOfBlock = 4;
inline constexpr UINT32 HeaderSize = 8;
inline constexpr UINT32 EntrySize = 2;
inline constexpr UINT32 kTypeShift = 12;
inline constexpr UINT32 kOffsetMask = 0x0FFF;
inline constexpr UINT32 kAbsolute = 0;  // padding: nothing to apply
inline constexpr UINT32 kHighLow = 3;   // a 32-bit address
}  // namespace relocation_block

namespace import_descriptor {
inline constexpr UINT32 OriginalFirstThunk = 0;
inline constexpr UINT32 Name = 12;
inline constexpr UINT32 FirstThunk = 16;
inline constexpr UINT32 Size = 20;
inline constexpr UINT32 kThunkSize = 4;
inline constexpr UINT32 kByOrdinal = 0x80000000;
inline constexpr UINT32 kHintSize = 2;  // a name's hint precedes its text
}  // namespace import_descriptor

inline constexpr UINT16 kMachineI386 = 0x014C;
inline constexpr UINT16 kMagicPe32 = 0x010B;
inline constexpr UINT16 kSubsystemEfiBootServiceDriver = 11;

}  // namespace pe32

#endif  // MDEPKG_LAYOUT_PE32_H_
