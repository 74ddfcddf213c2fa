#include "RunRom.h"

#include "FileBytes.h"
#include "FirmwarePacking.h"
#include "ImageForms.h"

std::vector<std::uint8_t> ModuleImageOf(const std::string &Path, std::vector<std::uint8_t> &Depex, bool &Bare,
                                        std::string &Error) {
  std::vector<std::uint8_t> Bytes;
  if (!ReadFileBytes(Path, Bytes, Error)) {
    return {};
  }
  const std::string Kind = KindOfFirmware(Bytes);
  Bare = Kind == "image";
  if (Bare) {
    return Bytes;
  }
  const std::optional<FirmwareFile> File = ModulePeimFile(Bytes, Path, Error);
  if (!File) {
    return {};
  }
  if (File->Find(section::kPeiDepex) != nullptr) {
    Depex = File->Find(section::kPeiDepex)->Payload;
  }
  return File->FindImage()->Payload;
}

bool BuildRomFor(const RomRequest &Request, const LinkMap &Map, const std::string &RomPath,
                 std::vector<RomFile> &Layout, bool &Bare, std::string &Error) {
  RomParts Parts;
  Parts.Module = ModuleImageOf(Request.ImagePath, Parts.ModuleDepex, Bare, Error);
  if (Parts.Module.empty()) {
    return false;
  }
  for (const auto &[Name, Into] : {std::pair<const char *, std::vector<std::uint8_t> *>{"BusInfoPei.efi", &Parts.BusInfoPei},
                                   {"Foundation.bin", &Parts.Foundation},
                                   {"Sec.bin", &Parts.Sec}}) {
    if (!ReadFileBytes(Request.PartsFolder + "/" + Name, *Into, Error)) {
      Error.insert(0, "the ROM's parts: ");
      return false;
    }
  }
  const std::optional<std::string> Watch = WatchOptions(Map, Error);
  if (!Watch) {
    Error.insert(0, Request.ImagePath + ": ");
    return false;
  }
  Parts.Options = *Watch;
  Parts.Version = "0";
  Parts.BusInfoPeiFirst = Request.BusInfoPeiFirst;
  Parts.WithoutBusInfoPei = Request.WithoutBusInfoPei;
  const auto Rom = BuildRom(Parts, Layout, Error);
  if (!Rom) {
    Error.insert(0, Request.ImagePath + ": ");
    return false;
  }
  return WriteFileBytes(RomPath, *Rom, Error);
}

std::uint32_t ModuleBaseInRom(const std::string &RomPath) {
  std::vector<std::uint8_t> Bytes;
  std::string Error;
  if (!ReadFileBytes(RomPath, Bytes, Error) || Bytes.size() < kRomSize) {
    return 0;
  }
  // QEMU maps the file's last 64 KiB at the top of the address space.
  const auto Volume = ParseFirmwareVolume(std::vector<std::uint8_t>(Bytes.end() - kRomSize, Bytes.end()), Error);
  for (const FirmwareFile &File : Volume ? Volume->Files : std::vector<FirmwareFile>{}) {
    PE32_INFO Info;
    if (File.Name == kSocPreInitFileGuid && File.FindImage() != nullptr &&
        ReadImageHeaders(File.FindImage()->Payload, Info, Error)) {
      return Info.ImageBase;
    }
  }
  return 0;
}

std::string DispatchRefusalFor(const std::string &ImagePath, bool BusInfoInstalled) {
  std::vector<std::uint8_t> Depex = ModuleDependencyExpression();
  bool Bare = false;
  std::string Error;
  ModuleImageOf(ImagePath, Depex, Bare, Error);
  std::vector<Guid16> Installed;
  if (BusInfoInstalled) {
    Installed.push_back(kBusInfoPpiGuid);
  }
  return DispatchRefusal(EvaluateDependencyExpression(Depex, Installed));
}
