// Checks and walks of the PI binary layouts: firmware volumes, the files and
// sections in them, PEI dependency expressions and PE32 images. One
// implementation for the ROM's PEI foundation (freestanding) and the host tools; every
// field is checked against the bytes that hold it, with sums that cannot wrap,
// before anything is read through it.
//
// A routine that finds a fault returns false (or -1) and fills a LAYOUT_FAULT:
// which check failed, where, the value found and the range it had to lie in.
// LayoutCheckText gives a short text for each; the host tools word them in
// full from the same record.
#ifndef MDEPKG_LIBRARY_PI_LAYOUT_LIB_H_
#define MDEPKG_LIBRARY_PI_LAYOUT_LIB_H_

#include "Base.h"

enum LAYOUT_CHECK : UINT32 {
  LAYOUT_OK = 0,
  // Volume header. At is 0.
  FV_TOO_SHORT,       // Value: the bytes there are
  FV_SIGNATURE,       // Value: the signature found
  FV_REVISION,        // Value: the revision found
  FV_LENGTH,          // Value: FvLength; Low to High: its range
  FV_HEADER_LENGTH,   // Value: HeaderLength; High: FvLength
  FV_EXT_HEADER,      // Value: ExtHeaderOffset (extended headers are not read)
  FV_CHECKSUM,        // Value: the stored checksum; Low: what the header sums to
  FV_BLOCK_MAP,       // Value: the bytes the block map covers; High: FvLength
  // File at At.
  FFS_HEADER_CUT,     // Value: the header size that does not fit
  FFS_SIZE,           // Value: Size; Low to High: its range
  FFS_HEADER_SUM,     // Value: the header checksum; Low: what the header sums to
  FFS_DATA_SUM,       // Value: the file checksum
  FFS_DATA_SUM_UNSET, // Value: the file checksum, not 0xAA without the CHECKSUM attribute
  // Section at file offset Offset of the file at At.
  SECTION_CUT,        // fewer than 4 bytes are left in the file
  SECTION_EXT_CUT,    // an extended header does not fit
  SECTION_SIZE,       // Value: the size; Low to High: its range
  // Dependency expression; At: the byte of the opcode, Value: the opcode,
  // Low: the values on the stack before it.
  DEPEX_PUSH_CUT,     // PUSH with fewer than 16 GUID bytes after it
  DEPEX_OVERFLOW,     // more than 64 values
  DEPEX_UNDERFLOW,    // AND, OR or NOT with too few values
  DEPEX_END_DEPTH,    // END with other than one value
  DEPEX_NOT_IN_PEI,   // BEFORE, AFTER or SOR
  DEPEX_UNKNOWN,      // no opcode at all
  DEPEX_NO_END,       // At: the size of the expression
  // PE32 image. At: the offset of the structure at fault.
  PE_DOS_CUT,         // Value: the file's size
  PE_NO_MZ,
  PE_LFANEW,          // Value: e_lfanew; High: the file's size
  PE_NO_SIGNATURE,    // Value: e_lfanew
  PE_OPTIONAL_SIZE,   // Value: SizeOfOptionalHeader; Low: the smallest; High: room in the file
  PE_MAGIC,           // Value: the magic
  PE_DIRECTORIES,     // Value: NumberOfRvaAndSizes; Low: SizeOfOptionalHeader
  PE_SIZE_OF_IMAGE,   // Value: SizeOfImage; High: the largest allowed
  PE_SIZE_OF_HEADERS, // Value: SizeOfHeaders
  PE_ENTRY,           // Value: AddressOfEntryPoint; High: SizeOfImage
  PE_SECTION_COUNT,   // Value: NumberOfSections (0, over 96, or past the end of the file)
  PE_SECTION_RAW,     // At: the section header; Value: PointerToRawData; Low: SizeOfRawData
  PE_SECTION_VIRTUAL, // At: the section header; Value: VirtualAddress; High: SizeOfImage
  PE_RELOC_DIRECTORY, // Value: its RVA; Low: its size; High: SizeOfImage
  PE_RELOC_BLOCK_LOST,// Value: the block's RVA (in no section's file data)
  PE_RELOC_BLOCK_CUT, // Value: the block's RVA (cut off by the end of the file)
  PE_RELOC_BLOCK_SIZE,// Value: SizeOfBlock; Low: the block's RVA; High: room in the directory
  PE_RELOC_TARGET,    // Value: the target RVA; High: SizeOfImage
  // An image that executes in place (CheckExecutesInPlace). At: the section header.
  PE_NOT_IN_PLACE,    // Value: PointerToRawData; Low: VirtualAddress
  PE_SECTION_BEYOND_RAW, // Value: VirtualSize; Low: SizeOfRawData
  PE_IMAGE_BEYOND_FILE,  // Value: SizeOfImage; High: the end of the RVAs the file holds
  // TE image (its sections, relocations and entry are checked as PE32's).
  TE_CUT,             // Value: the file's size
  TE_SIGNATURE,       // Value: the signature found
  TE_STRIPPED_SIZE,   // Value: StrippedSize; Low to High: its range
  LAYOUT_CHECK_COUNT
};

struct LAYOUT_FAULT {
  UINT32 Check;
  UINT64 At;
  UINT64 Offset;
  UINT64 Value;
  UINT64 Low;
  UINT64 High;
};

// A short text for a check: "file size out of range".
const char *LayoutCheckText(UINT32 Check);

// --- Firmware volumes, files and sections ------------------------------------
struct VOLUME_INFO {
  UINT32 Length;  // FvLength, checked to lie within the bytes
  UINT32 HeaderLength;
  UINT32 Attributes;
  UINT16 Checksum;
  UINT8 Revision;
  BOOLEAN Ffs2;  // FFS2 file system: files are walked
};

// The 16-bit sum of a volume header's words: 0 when its checksum is right.
UINT16 VolumeHeaderSum(const UINT8 *Header, UINT32 HeaderLength);
// Entry Index of the block map of a checked header; false at its {0, 0} end
// or the end of the header.
BOOLEAN VolumeBlockAt(const UINT8 *Bytes, UINT32 HeaderLength, UINT32 Index, UINT32 &Count, UINT32 &Length);

// True when Bytes start with a volume header's signature.
BOOLEAN LooksLikeVolume(const UINT8 *Bytes, UINT32 Size);
BOOLEAN CheckVolumeHeader(const UINT8 *Bytes, UINT32 Size, VOLUME_INFO &Volume, LAYOUT_FAULT &Fault);

struct FILE_INFO {
  UINT32 At;          // from the start of the bytes
  UINT32 Size;        // header included
  UINT32 HeaderSize;  // 24, or 32 for a large file
  UINT8 Type, Attributes, State, HeaderChecksum, FileChecksum;
};

// The 8-bit sum of a file header: every byte but the file checksum and the
// state, which change after the header checksum is set; 0 when it is right.
UINT8 FileHeaderSum(const UINT8 *Header, UINT32 HeaderSize);

// The file at Bytes[At..], which must end by Limit: header, size and checksums.
BOOLEAN CheckFile(const UINT8 *Bytes, UINT32 At, UINT32 Limit, FILE_INFO &File, LAYOUT_FAULT &Fault);

// The next file of an FFS2 volume. Cursor starts at 0. False at the end (free
// space, or no room for a header: Fault.Check is LAYOUT_OK) or on a fault.
BOOLEAN NextFile(const UINT8 *Bytes, const VOLUME_INFO &Volume, UINT32 &Cursor, FILE_INFO &File, LAYOUT_FAULT &Fault);

struct SECTION_INFO {
  UINT32 Offset;  // from the start of the file
  UINT32 Size;    // header included
  UINT32 HeaderSize;
  UINT8 Type;
};

// True when the file's type holds sections (pad and raw files hold none).
BOOLEAN FileHoldsSections(const FILE_INFO &File);

// The next section of a file. Cursor starts at 0. False at the end of the
// file (Fault.Check is LAYOUT_OK) or on a fault.
BOOLEAN NextSection(const UINT8 *Bytes, const FILE_INFO &File, UINT32 &Cursor, SECTION_INFO &Section,
                    LAYOUT_FAULT &Fault);

// --- PEI dependency expressions ---------------------------------------------
using PPI_PRESENT = BOOLEAN (*)(const UINT8 *Guid, void *Context);
// Called for each opcode evaluated; Guid and Installed only for PUSH.
using DEPEX_STEP = void (*)(UINT8 Opcode, const UINT8 *Guid, BOOLEAN Installed, void *Context);

// 1 when the expression holds, 0 when it does not, -1 when it is malformed:
// a stack underflow or overflow, a missing END, a truncated GUID, or an opcode
// a PEI expression may not hold. Step may be null.
INT32 EvaluateDepex(const UINT8 *Expression, UINT32 Size, PPI_PRESENT Installed, DEPEX_STEP Step, void *Context,
                    LAYOUT_FAULT &Fault);

// --- PE32 images ---------------------------------------------------------------
// A PE32 image, or a TE image read into the same record: a TE image has no
// optional header, alignments or SizeOfHeaders (0 here); its SizeOfImage is
// where its last section ends, and its raw data lies TeHeaderSize -
// StrippedSize bytes from where PointerToRawData says.
struct PE32_INFO {
  UINT32 PeOffset, OptionalOffset, OptionalSize, SectionTable, NumberOfSections, NumberOfDirectories;
  UINT16 Machine, Characteristics, Magic, Subsystem, DllCharacteristics;
  UINT32 EntryPoint, ImageBase, SectionAlignment, FileAlignment, SizeOfImage, SizeOfHeaders;
  UINT32 ImportRva, ImportSize, RelocRva, RelocSize;
  UINT32 StrippedSize, TeHeaderSize;  // both 0 for PE32
};

// The largest image the host tools take (no image of ours is near it).
inline constexpr UINT32 kMaxImageSize = 16u << 20;

// True when File begins with a TE header's signature (it is read as a TE
// image; anything else as a PE32 image).
BOOLEAN IsTeImage(const UINT8 *File, UINT32 Size);

// The headers of a PE32 or TE image, by its first bytes.
BOOLEAN CheckImageHeaders(const UINT8 *File, UINT32 Size, UINT32 MaxImageSize, PE32_INFO &Image, LAYOUT_FAULT &Fault);

// Where RVA 0 of the image lies when its file's first byte lies at
// FileAddress: there for PE32; for TE, TeHeaderSize - StrippedSize bytes on
// (the TE header stands in for StrippedSize bytes of headers).
UINT32 RvaZeroAddress(const PE32_INFO &Image, UINT32 FileAddress);

// The headers of a PE32 image in File[0..Size), SizeOfImage at most MaxImageSize.
BOOLEAN CheckPe32Headers(const UINT8 *File, UINT32 Size, UINT32 MaxImageSize, PE32_INFO &Image, LAYOUT_FAULT &Fault);

// A TE image in File[0..Size): its header, section table, entry point and
// base relocation directory. StrippedSize must cover at least a DOS header,
// the PE headers and a PE32 optional header, and leave every section's raw
// data after the section table.
BOOLEAN CheckTeHeaders(const UINT8 *File, UINT32 Size, UINT32 MaxImageSize, PE32_INFO &Image, LAYOUT_FAULT &Fault);

struct PE32_SECTION {
  UINT32 HeaderOffset;  // of its section header in the file
  UINT32 VirtualSize, VirtualAddress, RawSize, RawOffset, Characteristics;
  UINT32 PointerToRawData;  // as the header says; RawOffset is where the data lies in this file
  UINT32 LoadedSize;  // what is copied into the image: the raw size, cut to VirtualSize
};

// Section Index (below NumberOfSections): its raw data lies in the file, its
// loaded part in the image.
BOOLEAN ReadPe32Section(const UINT8 *File, UINT32 Size, const PE32_INFO &Image, UINT32 Index, PE32_SECTION &Section,
                        LAYOUT_FAULT &Fault);

struct PE32_RELOCATION_CURSOR {
  UINT32 BlockRva;  // 0 before the first block
  UINT32 BlockFileOffset, BlockSize, PageRva, Entry;
  BOOLEAN Started;
};

// The next base relocation that is not padding: its type and the RVA it
// patches (a HIGHLOW target lies inside the image). False at the end of the
// directory (Fault.Check is LAYOUT_OK) or on a fault.
BOOLEAN NextPe32Relocation(const UINT8 *File, UINT32 Size, const PE32_INFO &Image, PE32_RELOCATION_CURSOR &Cursor,
                           UINT32 &Type, UINT32 &TargetRva, LAYOUT_FAULT &Fault);

// An image that runs as it lies in the file (in flash), once rebased to where
// it lies: every section's raw data at its RVA (for TE, as the section header
// counts file offsets), no section larger in memory than in the file (its
// tail would be whatever follows in flash, not zeros) and the whole image
// inside the file. Each section is read as ReadPe32Section does.
BOOLEAN CheckExecutesInPlace(const UINT8 *File, UINT32 Size, const PE32_INFO &Image, LAYOUT_FAULT &Fault);

// The file offset of an RVA through the section that holds it (or the headers).
BOOLEAN Pe32FileOffset(const UINT8 *File, UINT32 Size, const PE32_INFO &Image, UINT32 Rva, UINT32 &Offset);

#endif  // MDEPKG_LIBRARY_PI_LAYOUT_LIB_H_
