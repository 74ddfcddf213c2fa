#include "VolumeWalk.h"

#include "Layout/FirmwareFile.h"
#include "Library/PiLayoutLib.h"

const char *FindPeimInVolume(const UINT8 *Bytes, UINT32 Size, VOLUME_PEIM &Peim) {
  VOLUME_INFO Volume;
  LAYOUT_FAULT Fault;
  if (!CheckVolumeHeader(Bytes, Size, Volume, Fault)) {
    return LayoutCheckText(Fault.Check);
  }
  UINT32 FileCursor = 0;
  FILE_INFO File;
  while (NextFile(Bytes, Volume, FileCursor, File, Fault)) {
    if (File.Type != firmware_file::kTypePeim) {
      continue;
    }
    Peim = {nullptr, 0, nullptr, 0};
    UINT32 SectionCursor = 0;
    SECTION_INFO Section;
    while (NextSection(Bytes, File, SectionCursor, Section, Fault)) {
      const UINT8 *Payload = Bytes + File.At + Section.Offset + Section.HeaderSize;
      const UINT32 PayloadSize = Section.Size - Section.HeaderSize;
      if (Section.Type == section::kPeiDepex && Peim.Depex == nullptr) {
        Peim.Depex = Payload;
        Peim.DepexSize = PayloadSize;
      } else if ((Section.Type == section::kPe32 || Section.Type == section::kTe) && Peim.Pe32 == nullptr) {
        Peim.Pe32 = Payload;
        Peim.Pe32Size = PayloadSize;
      }
    }
    if (Fault.Check != LAYOUT_OK) {
      return LayoutCheckText(Fault.Check);
    }
    return Peim.Pe32 == nullptr ? "the PEIM file has no PE32 or TE section" : nullptr;
  }
  return Fault.Check != LAYOUT_OK ? LayoutCheckText(Fault.Check) : "the volume holds no PEIM file";
}
