#include "QemuRun.h"

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "FileBytes.h"
#include "FirmwareFile.h"
#include "GdbRelay.h"
#include "RomImage.h"
#include "SymbolFile.h"
#include "LinkMap.h"
#include "PeImage.h"
#include "ModuleImageRun.h"
#include "Trace.h"

extern char **environ;

namespace {

std::string ReadFile(const std::string &Path, std::size_t Limit = 16u << 20) {
  std::ifstream In(Path, std::ios::binary);
  std::string Text;
  if (!In) {
    return Text;
  }
  Text.resize(Limit);
  In.read(Text.data(), static_cast<std::streamsize>(Limit));
  Text.resize(static_cast<std::size_t>(In.gcount()));
  return Text;
}

std::string ShellQuote(const std::string &Word) {
  if (Word.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-+=/.,:@") ==
      std::string::npos) {
    return Word;
  }
  std::string Quoted = "'";
  for (char C : Word) {
    Quoted += C == '\'' ? std::string("'\\''") : std::string(1, C);
  }
  return Quoted + "'";
}

std::uint32_t ParseHexWord(const std::string &Text) {
  return static_cast<std::uint32_t>(std::strtoul(Text.c_str(), nullptr, 16));
}

std::string BytesFromHex(const std::string &Hex) {
  std::string Bytes;
  for (std::size_t At = 0; At + 1 < Hex.size(); At += 2) {
    Bytes += static_cast<char>(std::stoi(Hex.substr(At, 2), nullptr, 16));
  }
  return Bytes;
}

// "SocPreInit" or "BusInfoPei" for their file names, else the GUID.
std::string PeimName(const std::string &Guid) {
  return Guid == GuidText(kSocPreInitFileGuid)              ? "SocPreInit"
         : Guid == GuidText(ToGuid16(gBusInfoPeiFileGuid)) ? "BusInfoPei"
                                                            : Guid;
}

// Fills the outcome from the foundation's debug console text.
void ParseDebugConsole(const std::string &Text, QemuOutcome &Outcome) {
  std::istringstream Lines(Text);
  std::string Line;
  std::string Ended;
  while (std::getline(Lines, Line)) {
    std::istringstream Words(Line);
    std::string Key, A, B, C;
    Words >> Key >> A >> B >> C;
    if (Key == "sink") {
      Outcome.SinkTexts.push_back(BytesFromHex(A));
    } else if (Key == "dispatch") {
      Outcome.Dispatched.push_back({PeimName(A), 0});
    } else if (Key == "peim" && A == "return" && !Outcome.Dispatched.empty()) {
      Outcome.Dispatched.back().second = ParseHexWord(B);
    } else if (Key == "neverdispatched") {
      const std::string Depex = BytesFromHex(B);
      const DepexResult Result = EvaluateDependencyExpression(std::vector<std::uint8_t>(Depex.begin(), Depex.end()), {});
      Outcome.NeverDispatched.push_back(PeimName(A) + ", its dependency expression (" +
                                        (Result.Text.empty() ? "none" : Result.Text) + ") did not hold");
    } else if (Key == "tsc") {
      const std::uint64_t Count = std::strtoull(B.c_str(), nullptr, 10);
      (A == "module-entry" ? Outcome.ToModuleEntry : A == "module-return" ? Outcome.ToModuleReturn
                                                                          : Outcome.ToDispatchEnd) = Count;
    } else if (Key == "return") {
      Outcome.State.Return = ParseHexWord(A);
      if (!Outcome.Dispatched.empty()) {
        Outcome.Dispatched.back().second = *Outcome.State.Return;
      }
    } else if (Key == "image") {
      Outcome.LoadBase = ParseHexWord(A);
    } else if (Key == "registers" && A == "preserved") {
      Outcome.RegistersPreserved = true;
    } else if (Key == "error") {
      Outcome.Error = Outcome.Error.empty() ? Line.substr(6) : Outcome.Error + "; " + Line.substr(6);
    } else if (Key == "outcome") {
      Ended = A;
    } else if (Key == "stack") {
      Outcome.StackBytes = static_cast<std::uint32_t>(std::strtoul(A.c_str(), nullptr, 10));
    } else if (Key == "state" && (A == "com1" || A == "com2")) {
      UartState &Uart = A == "com1" ? Outcome.State.Com1 : Outcome.State.Com2;
      std::string High;
      Words.str(Line);
      Words.clear();
      Words >> Key >> A >> B >> C >> High;
      Uart.LineControl = static_cast<std::uint8_t>(ParseHexWord(B));
      Uart.Divisor = static_cast<std::uint16_t>(ParseHexWord(High) << 8 | ParseHexWord(C));
    } else if (Key == "state") {
      const std::uint32_t Value = ParseHexWord(B);
      if (A == "lpc40") Outcome.State.Lpc40 = Value;
      if (A == "lpc50") Outcome.State.Lpc50 = Value;
      if (A == "lpc80") Outcome.State.Lpc80 = Value;
      if (A == "window88") Outcome.State.Window88 = Value;
      if (A == "base22") Outcome.State.Bases[0] = Value;
      if (A == "base23") Outcome.State.Bases[1] = Value;
      if (A == "base24") Outcome.State.Bases[2] = Value;
    } else if (Key == "device") {
      const std::uint32_t Value = ParseHexWord(B);
      if (A == "edu") Outcome.EduIdentification = Value;
      if (A == "ahci23") Outcome.Ahci23Version = Value;
      if (A == "ahci24") Outcome.Ahci24Version = Value;
    } else if (Key == "foundation" && A == "done") {
      Outcome.Completed = Ended == "returned" || Ended == "halted" || Ended == "notdispatched";
    }
  }
  Outcome.State.Halted = Ended == "halted";
  Outcome.NotDispatched = Ended == "notdispatched";
  if (Ended != "returned") {
    Outcome.State.Return.reset();
  }
  Outcome.State.LastSink = Outcome.SinkTexts.empty() ? std::string() : Outcome.SinkTexts.back();
}

// The module's part of QEMU's trace: the line parameters each UART got last,
// and the configuration writes after the foundation's last set-up write (the
// base register of 00:18.0 cleared).
void ParseQemuTrace(const std::string &Text, QemuOutcome &Outcome) {
  std::istringstream Lines(Text);
  std::string Line;
  std::string *LastUart = nullptr;
  std::vector<QemuConfigWrite> Writes;
  std::size_t AfterSetUp = 0, BeforeHarness = 0;
  while (std::getline(Lines, Line)) {
    if (Line.find("memory_region_ops_write") != std::string::npos && Line.find("name 'serial'") != std::string::npos) {
      const std::size_t At = Line.find(" addr 0x");
      const std::uint32_t Port = At == std::string::npos ? 0 : ParseHexWord(Line.substr(At + 8));
      LastUart = (Port & ~7u) == 0x3F8 ? &Outcome.Com1Parameters : (Port & ~7u) == 0x2F8 ? &Outcome.Com2Parameters : nullptr;
    } else if (const std::size_t At = Line.find("serial_update_parameters "); At != std::string::npos) {
      if (LastUart != nullptr) {
        *LastUart = Line.substr(At + 25);
      }
    } else if (const std::size_t Cfg = Line.find("pci_cfg_write "); Cfg != std::string::npos) {
      std::istringstream Words(Line.substr(Cfg + 14));
      std::string Device, Function, Register, Arrow, Value;
      Words >> Device >> Function >> Register >> Arrow >> Value;
      if (Register.size() < 2 || Register[0] != '@') {
        continue;
      }
      QemuConfigWrite Write{Function, ParseHexWord(Register.substr(1)), ParseHexWord(Value)};
      Writes.push_back(Write);
      if (Write.Function == "00:18.0" && Write.Register == 0x24 && Write.Value == 0) {
        AfterSetUp = Writes.size();
      }
      // The foundation's marker after the module: what follows is its own.
      if (Write.Function == "00:1f.0" && Write.Register == 0x44 && Write.Value == 0 && BeforeHarness == 0) {
        BeforeHarness = Writes.size() - 1;
      }
    }
  }
  const std::size_t End = BeforeHarness >= AfterSetUp && BeforeHarness != 0 ? BeforeHarness : Writes.size();
  Outcome.ModuleConfigWrites.assign(Writes.begin() + static_cast<std::ptrdiff_t>(AfterSetUp),
                                    Writes.begin() + static_cast<std::ptrdiff_t>(End));
}

// Transmitted bytes show up in the serial files: the module must send nothing.
void NoteTransmitted(const std::string &Path, const std::string &Name, BoardState &State) {
  for (unsigned char Byte : ReadFile(Path, 4096)) {
    State.Unexpected.push_back(Name + ": transmitted " + Hex(Byte, 2));
  }
}

std::uint32_t RvaOf(const LinkMap &Map, const std::string &Name) { return Map.Rva(Name).value_or(0); }

// A SIGINT, SIGTERM, SIGHUP or SIGPIPE (the reader of our output went away)
// that arrived while QEMU ran: the wait ends QEMU and the temporary folder
// goes before the caller passes the signal on.
volatile sig_atomic_t gStopSignal = 0;
void NoteStopSignal(int Signal) { gStopSignal = Signal; }

// Takes the stop signals for the length of a run and gives them back after.
struct StopSignals {
  static constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};
  static constexpr int kCount = sizeof kSignals / sizeof kSignals[0];
  struct sigaction Old[kCount];
  StopSignals() {
    gStopSignal = 0;
    struct sigaction Action {};
    Action.sa_handler = NoteStopSignal;
    sigemptyset(&Action.sa_mask);
    for (int Index = 0; Index < kCount; Index++) {
      sigaction(kSignals[Index], &Action, &Old[Index]);
    }
  }
  ~StopSignals() {
    for (int Index = 0; Index < kCount; Index++) {
      sigaction(kSignals[Index], &Old[Index], nullptr);
    }
  }
};

// The module's image from any kind of file run takes: a PE32 or TE image as
// it is; from a PEIM file, or a volume's first PEIM, its image section.
// Empty, with Error set, for anything else.
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
  std::optional<FirmwareFile> File;
  if (Kind == "volume") {
    const auto Volume = ParseFirmwareVolume(Bytes, Error);
    for (const FirmwareFile &Each : Volume ? Volume->Files : std::vector<FirmwareFile>{}) {
      File = !File && Each.Type == firmware_file::kTypePeim ? std::optional<FirmwareFile>(Each) : File;
    }
    Error = Volume && !File ? Path + ": the volume holds no PEIM file" : Error;
  } else {
    File = ParseFileNamedAsModule(Bytes, Path, Error);
  }
  if (File && File->FindImage() == nullptr) {
    Error = Path + ": the PEIM file has no PE32 or TE section";
    return {};
  }
  if (File && File->Find(section::kPeiDepex) != nullptr) {
    Depex = File->Find(section::kPeiDepex)->Payload;
  }
  return File ? File->FindImage()->Payload : std::vector<std::uint8_t>{};
}

// Why the foundation did not dispatch the module: its expression as the ROM
// holds it, against what the ROM's PEIMs installed.
std::string RefusalOf(const QemuSettings &Settings) {
  std::vector<std::uint8_t> Depex = ModuleDependencyExpression();
  bool Bare = false;
  std::string Error;
  ModuleImageOf(Settings.ImagePath, Depex, Bare, Error);
  std::vector<Guid16> Installed;
  if (Settings.Board.PpiInstalled && !Settings.Board.PpiStatus && !Settings.WithoutBusInfoPei) {
    Installed.push_back(kBusInfoPpiGuid);
  }
  return DispatchRefusal(EvaluateDependencyExpression(Depex, Installed));
}

// Where RVA 0 of the module lies in a ROM as built: its TE (or PE32) image
// base; 0 when the ROM holds no such module.
std::uint32_t ModuleBaseInRom(const std::string &Path) {
  std::vector<std::uint8_t> Bytes;
  std::string Error;
  const auto Volume = ReadFileBytes(Path, Bytes, Error) && Bytes.size() >= kRomSize
                          ? ParseFirmwareVolume(std::vector<std::uint8_t>(Bytes.end() - kRomSize, Bytes.end()), Error)
                          : std::nullopt;
  for (const FirmwareFile &File : Volume ? Volume->Files : std::vector<FirmwareFile>{}) {
    if (File.Name == kSocPreInitFileGuid && File.FindImage() != nullptr) {
      const auto Image = ParsePeImage(File.FindImage()->Payload, Error);
      return Image ? Image->ImageBase : 0;
    }
  }
  return 0;
}

// SocPreInit.rom around the module, in Folder: the module rebased into the
// volume with BusInfoPei, the foundation and the SEC from the parts folder.
// Empty, with Error set, when a part is missing or does not fit.
std::string BuildRomFor(const QemuSettings &Settings, const LinkMap &Map, const std::string &Folder,
                        std::vector<RomFile> &Layout, bool &Bare, std::string &Error) {
  RomParts Parts;
  Parts.Module = ModuleImageOf(Settings.ImagePath, Parts.ModuleDepex, Bare, Error);
  if (Parts.Module.empty()) {
    return "";
  }
  for (const auto &[Name, Into] : {std::pair<const char *, std::vector<std::uint8_t> *>{"BusInfoPei.efi", &Parts.BusInfoPei},
                                   {"Foundation.bin", &Parts.Foundation},
                                   {"Sec.bin", &Parts.Sec}}) {
    if (!ReadFileBytes(Settings.RomPartsFolder + "/" + Name, *Into, Error)) {
      Error = "the ROM's parts: " + Error;
      return "";
    }
  }
  const std::optional<std::string> Watch = WatchOptions(Map, Error);
  if (!Watch) {
    Error = Settings.ImagePath + ": " + Error;
    return "";
  }
  Parts.Options = *Watch;
  Parts.Version = "0";
  Parts.ModuleAfterBusInfo = Settings.ModuleAfterBusInfo;
  Parts.WithoutBusInfoPei = Settings.WithoutBusInfoPei;
  const auto Rom = BuildRom(Parts, Layout, Error);
  const std::string RomPath = Folder + "/SocPreInit.rom";
  if (!Rom) {
    Error = Settings.ImagePath + ": " + Error;
    return "";
  }
  if (!WriteFileBytes(RomPath, *Rom, Error)) {
    return "";
  }
  return RomPath;
}

// The one command line that attaches gdb to the run: the module's symbols
// where its code lies in flash, then a stop at ModuleEntry. The symbol file's
// .text sits at another RVA than the image's, so the offset is computed from
// both files, never assumed; a symbol file that does not hold the image's
// code is refused (its lines and variables would be silently wrong).
std::string GdbCommandFor(const QemuSettings &Settings, const std::string &Socket, std::uint32_t ModuleBase,
                          std::uint32_t EntryRva, std::string &Note) {
  namespace fs = std::filesystem;
  std::error_code Ignored;
  std::string Command = "gdb -q -ex 'set confirm off' -ex " + ShellQuote("target remote " + fs::absolute(Socket, Ignored).string());
  const std::string SymbolPath = Settings.SymbolPath.empty() ? SiblingPathFor(Settings.ImagePath, ".debug") : Settings.SymbolPath;
  std::vector<std::uint8_t> Symbols, Depex;
  bool Bare = false;
  std::string Error;
  const std::vector<std::uint8_t> Image = ModuleImageOf(Settings.ImagePath, Depex, Bare, Error);
  std::optional<std::uint32_t> Offset;
  if (!Image.empty() && ReadFileBytes(SymbolPath, Symbols, Error) && SymbolFileDescribes(Symbols, Image, Error)) {
    Offset = SymbolOffset(Symbols, Image, ModuleBase, Error);
  }
  if (!Offset) {
    Note = "no source-level symbols: " + SymbolPath + ": " + Error + "\n";
    return Command + " -ex " + ShellQuote("hbreak *" + Hex(ModuleBase + EntryRva, 8)) + " -ex continue";
  }
  Command += " -ex " + ShellQuote("add-symbol-file " + fs::absolute(SymbolPath, Ignored).string() + " -o " + Hex(*Offset, 8));
  if (!Settings.SourceFolder.empty()) {
    Command += " -ex " + ShellQuote("directory " + Settings.SourceFolder);
  }
  return Command + " -ex 'break ModuleEntry' -ex continue";
}

}  // namespace

std::string QemuConfigWrite::Text() const {
  char Text[64];
  std::snprintf(Text, sizeof Text, "%s @0x%X <- 0x%X", Function.c_str(), Register, Value);
  // QEMU writes the function in lower case; the summary's hexadecimal is upper case throughout.
  for (char *At = Text; *At != 0 && *At != ' '; At++) {
    *At = static_cast<char>(std::toupper(static_cast<unsigned char>(*At)));
  }
  return Text;
}

std::vector<QemuConfigWrite> ExpectedConfigWrites(const QemuSettings &Settings) {
  std::vector<QemuConfigWrite> Writes = {{"00:1f.0", 0x50, 0xFED08002}, {"00:1f.0", 0x80, 0x3}};
  if ((Settings.Board.Reg40 & 0x02) == 0) {
    Writes.push_back({"00:1f.0", 0x40, 0x402});
  }
  if (Settings.Board.PpiInstalled && !Settings.Board.PpiStatus && Settings.Board.Bus == 0) {
    Writes.push_back({"00:16.0", 0x10, 0xF0100000});
    Writes.push_back({"00:17.0", 0x24, 0xF0200000});
    Writes.push_back({"00:18.0", 0x24, 0xF0300000});
  }
  return Writes;
}

std::string ExpectedLineParameters(std::uint8_t DivisorCode) {
  const std::uint8_t Listed[] = {1, 2, 3, 6, 12, 24, 48, 96};
  unsigned Divisor = 1;
  for (std::uint8_t Code : Listed) {
    Divisor = Code == DivisorCode ? Code : Divisor;
  }
  return "baudrate=" + std::to_string(115200 / Divisor) + " parity='N' data=8 stop=2";
}

bool RunOnQemu(const QemuSettings &Settings, QemuOutcome &Outcome) {
  Outcome = QemuOutcome{};
  std::string Error;
  const std::optional<LinkMap> Map =
      ReadLinkMap(Settings.MapPath.empty() ? MapPathFor(Settings.ImagePath) : Settings.MapPath, Error);
  if (!Map) {
    Outcome.Error = Error;
    return false;
  }
  std::string Folder = Settings.KeepFolder;
  if (Folder.empty()) {
    const char *Tmp = std::getenv("TMPDIR");
    std::string Template = std::string(Tmp != nullptr && *Tmp != 0 ? Tmp : "/tmp") + "/pei-sim-qemu-XXXXXX";
    if (mkdtemp(Template.data()) == nullptr) {
      Outcome.Error = "cannot make a temporary folder";
      return false;
    }
    Folder = Template;
  } else if (mkdir(Folder.c_str(), 0755) != 0 && errno != EEXIST) {
    Outcome.Error = "cannot make folder " + Folder;
    return false;
  }
  // A folder of our own goes, with everything QEMU left in it, on every way
  // out of this routine, a failed start included; a kept one stays.
  struct FolderRemoval {
    std::string Path;
    ~FolderRemoval() {
      if (!Path.empty()) {
        std::error_code Ignored;
        std::filesystem::remove_all(Path, Ignored);
      }
    }
  } Removal{Settings.KeepFolder.empty() ? Folder : std::string()};
  const std::string TracePath = Folder + "/qemu-trace.txt", ConsolePath = Folder + "/debugcon.txt";
  const std::string Com1Path = Folder + "/com1.txt", Com2Path = Folder + "/com2.txt";
  for (const std::string &Path : {TracePath, ConsolePath, Com1Path, Com2Path}) {
    std::remove(Path.c_str());
  }
  std::vector<RomFile> Layout;
  bool Bare = false;  // a bare image: dispatched as run calls it, whatever its (default) expression says
  const std::string RomPath = Settings.RomPath.empty()
                                  ? BuildRomFor(Settings, *Map, Folder, Layout, Bare, Outcome.Error)
                                  : Settings.RomPath;
  if (RomPath.empty()) {
    return false;
  }
  for (const RomFile &Row : Layout) {
    Outcome.ModuleBase = Row.Name == "SocPreInit" ? Row.ImageBase : Outcome.ModuleBase;
  }
  if (!Settings.RomPath.empty()) {
    Outcome.ModuleBase = ModuleBaseInRom(Settings.RomPath);
  }

  // The options as the foundation reads them from fw_cfg (after a first word);
  // the watched routines' addresses are the ROM's own.
  std::string LoaderArgs = "pei-sim divisor=" + std::to_string(Settings.Board.DivisorCode) + " bus=" + std::to_string(Settings.Board.Bus) +
                           " reg40=" + std::to_string(Settings.Board.Reg40) + " release=" + (Settings.Board.ReleaseHalts ? "1" : "0");
  LoaderArgs += std::string(" depex=") + (Bare || Settings.IgnoreDepex ? "0" : "1");
  LoaderArgs += " ppi=" + (Settings.Board.PpiStatus ? Hex(*Settings.Board.PpiStatus, 8) : Settings.Board.PpiInstalled ? "installed" : "absent");

  // -icount shift=0: one instruction per virtual nanosecond, so the time stamp
  // counter the foundation reads counts instructions.
  std::vector<std::string> Args = {Settings.QemuBinary, "-machine", "q35,hpet=off", "-accel", "tcg", "-nodefaults",
                                   "-display", "none", "-no-reboot", "-m", "64M", "-icount", "shift=0",
                                   "-bios", RomPath, "-fw_cfg", "name=opt/socpreinit/options,string=" + LoaderArgs,
                                   "-serial", "file:" + Com1Path, "-serial", "file:" + Com2Path,
                                   "-device", "edu,addr=0x16", "-device", "ich9-ahci,addr=0x17",
                                   "-device", "ich9-ahci,addr=0x18",
                                   "-device", "isa-debug-exit,iobase=0xf4,iosize=0x04",
                                   "-debugcon", "file:" + ConsolePath,
                                   "-d", "trace:serial_update_parameters,trace:pci_cfg_write,trace:memory_region_ops_write",
                                   "-D", TracePath};
  // gdb talks to pei-sim's socket, which passes everything on to QEMU's stub
  // and tells when the session ends.
  GdbRelay Relay;
  if (Settings.Gdb) {
    Args.insert(Args.end(), {"-S", "-chardev", "socket,id=gdb0,path=" + Folder + "/qemu-gdb.sock,server=on,wait=off",
                             "-gdb", "chardev:gdb0"});
    if (!Relay.Listen(Folder + "/gdb.sock", Folder + "/qemu-gdb.sock", Outcome.Error)) {
      return false;
    }
  }
  for (const std::string &Word : Args) {
    Outcome.CommandLine += (Outcome.CommandLine.empty() ? "" : " ") + ShellQuote(Word);
  }
  if (!Settings.KeepFolder.empty()) {
    std::ofstream(Folder + "/qemu-command.txt") << Outcome.CommandLine << "\n";
  }

  std::vector<char *> Argv;
  for (std::string &Word : Args) {
    Argv.push_back(Word.data());
  }
  Argv.push_back(nullptr);
  posix_spawn_file_actions_t Actions;
  posix_spawn_file_actions_init(&Actions);
  const std::string LogPath = Folder + "/qemu-output.txt";
  posix_spawn_file_actions_addopen(&Actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&Actions, 1, LogPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&Actions, 1, 2);
  const StopSignals Stops;
  const auto Start = std::chrono::steady_clock::now();
  pid_t Child = 0;
  const int SpawnError = posix_spawnp(&Child, Argv[0], &Actions, nullptr, Argv.data(), environ);
  posix_spawn_file_actions_destroy(&Actions);
  if (SpawnError != 0) {
    Outcome.Error = "cannot start " + Settings.QemuBinary + " (is qemu-system-x86 installed?)";
    return false;
  }
  if (Settings.Gdb) {
    const std::uint32_t Base = Outcome.ModuleBase;
    std::string Note;
    Outcome.GdbCommand = GdbCommandFor(Settings, Folder + "/gdb.sock", Base, RvaOf(*Map, "_ModuleEntry"), Note);
    std::printf("%sQEMU is waiting for gdb. In another terminal:\n%s\nModule routines in flash (RVA 0 at 0x%08X):\n",
                Note.c_str(), Outcome.GdbCommand.c_str(), Base);
    std::map<std::uint32_t, std::string> ByAddress;
    for (const auto &[Name, Rva] : Map->Rvas) {
      if (Name.rfind("??_", 0) != 0) {  // string literals and other compiler data
        ByAddress.emplace(Base + Rva, Name);
      }
    }
    for (const auto &[Address, Name] : ByAddress) {
      std::printf("  0x%08X  %s\n", Address, Name.c_str());
    }
    std::fflush(stdout);
  }
  int Status = 0;
  bool TimedOut = false, SessionOver = false;
  std::chrono::steady_clock::time_point SessionEnd;
  for (;;) {
    const pid_t Done = waitpid(Child, &Status, WNOHANG);
    if (Done == Child) {
      break;
    }
    // The limit holds in gdb mode too: a QEMU waiting for a debugger that never came is ended.
    const auto Now = std::chrono::steady_clock::now();
    TimedOut = Now - Start > std::chrono::seconds(Settings.TimeLimitSeconds);
    if (Relay.SessionEnded() && SessionEnd == std::chrono::steady_clock::time_point{}) {
      SessionEnd = Now;
    }
    // Once gdb has gone, QEMU has a moment to finish by itself (it runs on
    // after a detach); one still stopped where gdb left it is ended.
    SessionOver = Relay.SessionEnded() && Now - SessionEnd > std::chrono::seconds(3);
    if (TimedOut || SessionOver || gStopSignal != 0) {
      kill(Child, SIGKILL);
      waitpid(Child, &Status, 0);
      break;
    }
    if (Settings.Gdb) {
      Relay.Pump(5);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  Outcome.WallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
  Outcome.StopSignal = gStopSignal;

  const std::string Console = ReadFile(ConsolePath);
  ParseDebugConsole(Console, Outcome);
  ParseQemuTrace(ReadFile(TracePath), Outcome);
  Outcome.State.Bus = Settings.Board.Bus;
  if (Outcome.NotDispatched) {
    Outcome.State.NotDispatched = RefusalOf(Settings);
  }
  NoteTransmitted(Com1Path, "COM1", Outcome.State);
  NoteTransmitted(Com2Path, "COM2", Outcome.State);
  if (!Outcome.Completed && Outcome.Error.empty()) {
    if (Outcome.StopSignal != 0) {
      Outcome.Error = std::string("ended by ") + (Outcome.StopSignal == SIGINT    ? "SIGINT"
                                                  : Outcome.StopSignal == SIGTERM ? "SIGTERM"
                                                  : Outcome.StopSignal == SIGHUP  ? "SIGHUP"
                                                                                  : "SIGPIPE");
    } else if (TimedOut) {
      Outcome.Error = "time limit of " + std::to_string(Settings.TimeLimitSeconds) + " s reached";
    } else if (SessionOver) {
      Outcome.Error = "the gdb session ended and left QEMU stopped before the run completed";
    } else if (Console.find("foundation start") == std::string::npos) {
      const std::string Log = ReadFile(LogPath, 2000);
      Outcome.Error = "QEMU ended before the foundation ran" + (Log.empty() ? std::string() : ": " + Log.substr(0, Log.find('\n')));
    } else {
      Outcome.Error = "no completion marker (QEMU ended, exit status " +
                      std::to_string(WIFEXITED(Status) ? WEXITSTATUS(Status) : -1) + "; a triple fault ends it this way)";
    }
  }
  return true;
}
