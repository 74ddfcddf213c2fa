// pei-sim: runs the SoC pre-initialisation module and its format engine on a
// host, against a virtual board.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "Commands.h"

namespace {

const char kOverview[] =
    "Usage: pei-sim format [--size N] [--image TESTIMAGE] [--] FORMAT [ARG ...]\n"
    "  or:  pei-sim run [--image IMAGE [--map MAP] [--load-base ADDR] [--stats]] [OPTIONS]\n"
    "  or:  pei-sim qemu --image IMAGE [--rom ROM] [--map MAP] [OPTIONS]\n"
    "  or:  pei-sim inspect IMAGE\n"
    "  or:  pei-sim report --image IMAGE --debug-image IMAGE --engine-image IMAGE [--rom ROM]\n"
    "  or:  pei-sim coverage --data FILE --image IMAGE [--symbols FILE] [--map MAP] [--listed FILE] ...\n"
    "                        [--lcov OUT]\n"
    "  or:  pei-sim COMMAND --help\n"
    "  or:  pei-sim --help | --version\n"
    "Runs, traces and checks the SocPreInit PEI module: its host build and its IA-32\n"
    "image on a virtual board, its ROM on QEMU. COMMAND --help gives that command's\n"
    "options and exit statuses; --help gives them all. Numbers are decimal or 0x-hex\n"
    "everywhere.\n";

const char kFormatHelp[] =
    "format: renders FORMAT (raw bytes) with the module's format engine into a\n"
    "buffer of N characters including the terminator (default 256; 0 allowed)\n"
    "and writes exactly the characters produced before the terminator to stdout.\n"
    "'--' ends the options, so FORMAT may begin with '-'. Each ARG is one argument:\n"
    "  u32:V            32-bit integer: decimal, 0x-hex, or -decimal (two's complement)\n"
    "  u64:V            64-bit integer, written the same way\n"
    "  str:TEXT         1-byte text\n"
    "  wunits:U,U,...   CHAR16 text of these units (decimal or 0x-hex); a 0 unit is appended\n"
    "  guid:XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX   EFI_GUID\n"
    "  time:Y-M-DTH:M   EFI_TIME: year 0-65535, month, day, hour, minute 0-255 each\n"
    "                   (decimal or 0x-hex), e.g. time:2024-7-4T13:5 or time:65535-255-255T255:255\n"
    "  null             null pointer\n"
    "--image runs the engine compiled for IA-32 under emulation instead of the host\n"
    "build: the test image EngineTest.efi, or the module image's own FormatToBuffer;\n"
    "the output is the same.\n"
    "Exit status: 0 done; 3 a check failed (its assertion line goes to stderr); 2 usage;\n"
    "4 the image could not be run.\n";

const char kRunHelp[] =
    "run: calls ModuleEntry on the virtual board and prints the trace of every\n"
    "platform operation, a blank line and a summary of the board afterwards.\n"
    "  --divisor-code N    PLATFORM_CONFIG.SerialDivisorCode (default 1)\n"
    "  --bus N             BUS_INFO_PPI.BusNumber (default 1)\n"
    "  --reg40 0xNN        initial low byte of 00:1F.0 register 0x40 (default 0x00)\n"
    "  --no-ppi            BUS_INFO_PPI is not installed (LocatePpi: Not Found)\n"
    "  --ppi-status 0xS    LocatePpi fails with status S, an error status (bit 31 set)\n"
    "  --debug-level 0xM   debug level mask instead of the module's 0x00000001\n"
    "  --release-halts     end each halt as a debugger would; the module carries on\n"
    "  --image IMAGE       run the IA-32 image under emulation instead of the host build;\n"
    "                      same board, same output\n"
    "  --map MAP           its link map (default: IMAGE with the extension .map)\n"
    "  --load-base ADDR    where the image is loaded and relocated (default 0x00200000)\n"
    "  --max-instructions N  with --image: stop a run after N instructions (default 100000;\n"
    "                      the default run takes about 160)\n"
    "  --stats             with --image: add the image size, the instructions executed\n"
    "                      from entry to return and the deepest stack use\n"
    "  --coverage FILE     with --image: add every instruction the image executed, and\n"
    "                      each step from one to the next, to FILE (made when missing;\n"
    "                      runs in parallel add to it safely); pei-sim coverage reads it.\n"
    "                      The test suites' runs add to $SOC_IMAGE_COVERAGE when it is set\n"
    "  --ignore-depex      with a PEIM file or volume: dispatch whatever its dependency\n"
    "                      expression says\n"
    "IMAGE may be the PE32 image, its TE form (.te), a PEIM file (.ffs) or a firmware\n"
    "volume (.fv), told apart by their content. A file or volume is dispatched as a\n"
    "PEI dispatcher would: only once its dependency expression holds against the\n"
    "board's PPIs.\n"
    "Exit status: 0 ModuleEntry returned success; 1 it returned an error status;\n"
    "3 the processor halted; 2 usage; 4 the image could not be run; 5 the module was\n"
    "not dispatched (its dependency expression does not hold).\n";

const char kQemuHelp[] =
    "qemu: boots IMAGE from the reset vector on QEMU's q35 machine (qemu-system-i386,\n"
    "TCG): builds SocPreInit.rom around it (the module rebased into the boot firmware\n"
    "volume as a TE PEIM, with BusInfoPei, the PEI foundation and the SEC) and boots\n"
    "it with -bios, the settings through fw_cfg. Prints a heading with the run\n"
    "command that puts the virtual board in the same state, the foundation's\n"
    "dispatch, the summary of run read back from QEMU's devices, then the device\n"
    "checks, what QEMU's own trace recorded and the run's checks (where the\n"
    "foundation found the module, QEMU's exit status). IMAGE may be the PE32\n"
    "image, its TE form, a PEIM file (.ffs) or a volume (.fv), as for run.\n"
    "  --rom FILE          boot this ROM as it is (IMAGE still names the module and its map)\n"
    "  --rom-parts DIR     Foundation.bin, Sec.bin, BusInfoPei.efi (default: built or installed)\n"
    "  --busdriver-first   BusInfoPei before the module in the volume (after it by default)\n"
    "  --without-busdriver\n"
    "                      leave BusInfoPei out: nothing installs BUS_INFO_PPI\n"
    "  --ignore-depex      dispatch the module last even if its expression fails (a bare\n"
    "                      image is always dispatched so, as run calls it)\n"
    "  --divisor-code N, --bus N, --reg40 0xNN, --no-ppi, --ppi-status 0xS,\n"
    "  --release-halts, --map MAP   as for run, but the divisor code defaults to 3 (not\n"
    "                      QEMU's reset divisor, so the write shows) and the bus to 0\n"
    "                      (where QEMU's devices are)\n"
    "  --stats             add the deepest stack use, the callee-saved register check,\n"
    "                      the wall time and the boot cost in instructions since reset,\n"
    "                      by phase: to the foundation's entry, each PEIM's entry and\n"
    "                      return, the end of dispatch\n"
    "  --gdb               start halted and print, at once, one gdb command line that\n"
    "                      attaches, loads the module's symbol file where the module\n"
    "                      lies in flash and stops at ModuleEntry; then the routines'\n"
    "                      flash addresses. Ending gdb ends QEMU (a run left stopped\n"
    "                      is ended 3 s after gdb has gone)\n"
    "  --symbols FILE      the symbol file for --gdb (default: the image's, .debug)\n"
    "  --mangled-names     with --gdb: list the routines by their linked names\n"
    "  --coverage FILE     add what QEMU executed of the module to FILE, as run\n"
    "                      --coverage does (from QEMU's own in_asm and exec logs, which\n"
    "                      go into qemu-trace.txt and slow the run)\n"
    "  --keep FOLDER       keep QEMU's files there: SocPreInit.rom, qemu-command.txt,\n"
    "                      qemu-trace.txt, qemu-output.txt, debugcon.txt, com1.txt,\n"
    "                      com2.txt (and gdb.sock with --gdb); a later run may reuse it\n"
    "  --time-limit S      end QEMU after S seconds, 1 to 3600 (default 20; 600 with\n"
    "                      --gdb). SIGINT, SIGTERM, SIGHUP and SIGPIPE end QEMU too,\n"
    "                      and the temporary folder goes with it.\n"
    "Exit status as for run; 4 QEMU could not be started or the run did not complete\n"
    "(the foundation's own error included); 6 a device check, QEMU's trace or a run\n"
    "check disagrees with the described state.\n"
    "The ROM booted without pei-sim ends QEMU through isa-debug-exit (iobase 0xf4):\n"
    "QEMU exits 1 when the module returned EFI_SUCCESS, 3 when it returned an error,\n"
    "halted or was never dispatched, 5 when the foundation refused its settings or\n"
    "caught a fault (a layout fault in the volume, a processor exception, a PEIM's\n"
    "store into flash or off the bottom of its stack, a changed callee-saved register).\n";

const char kInspectHelp[] =
    "inspect: prints machine, subsystem, alignments, image base, sections and their\n"
    "flags, relocations, imports and entry point of IMAGE, a PE32 or TE image (a TE\n"
    "header is checked further: StrippedSize and section count). IMAGE may also be a PEIM\n"
    "file (.ffs) or a firmware volume (.fv): their headers, checksums, sections and\n"
    "dependency expression are listed and checked, then the PE32 inside. Exit status\n"
    "1 when a file cannot be read or taken apart, and, with a\n"
    "'contract broken:' line for each, when a property breaks the module image's\n"
    "contract (PE32 IA-32, subsystem 11, alignments 32, image base 0, HIGHLOW base\n"
    "relocations, no imports, one code+data section, every section at its RVA in the\n"
    "file so that it executes in place, entry ModuleEntry); else 0.\n";

const char kReportHelp[] =
    "report: the budgets of the real image under emulation: its size, the\n"
    "instructions of ModuleEntry on the default board, and the deepest stack use of\n"
    "the default run, a failed lookup with the message level on (the test image\n"
    "built with 0x80000001) and an assertion raised inside the engine (the engine\n"
    "test image). With --rom ROM, the ROM built around IMAGE is booted on QEMU on\n"
    "the default settings: the instructions from reset to the module's return\n"
    "(QEMU's counter) against the boot budget of 20000, which --boot-budget N\n"
    "replaces, and the boot cost by phase below. Exit status 1 when a budget checked\n"
    "as a gate is broken or the ROM's run did not report the module's return.\n";

const char kCoverageHelp[] =
    "coverage: reads the runs of IA-32 images recorded in FILE (run --coverage, or\n"
    "$SOC_IMAGE_COVERAGE) against each IMAGE: its instructions as llvm-objdump\n"
    "decodes them from the image, their source lines, inlined frames included, as\n"
    "llvm-symbolizer reads them from the symbol file. Prints for each image the\n"
    "instructions executed and the conditional jumps taken both ways, then every\n"
    "instruction never executed (by routine and source line) and every jump taken\n"
    "one way only. The runs of an image count for its TE form and for any base.\n"
    "  --data FILE         the recorded runs\n"
    "  --image IMAGE       a PE32 image whose runs FILE holds (repeatable)\n"
    "  --symbols FILE      its symbol file (default: IMAGE with the extension .debug);\n"
    "                      one made for another image is refused\n"
    "  --map MAP           its link map (default: IMAGE with the extension .map)\n"
    "  --listed FILE       what no run of IMAGE can reach, as the rows \"| `PATH:LINE` |\n"
    "                      reason |\" (or \"| `ROUTINE` |\" for its code of no line) of a\n"
    "                      Markdown table: every other gap, and every row where\n"
    "                      nothing is missing, is a fault (exit status 1)\n"
    "  --lcov OUT          write the lcov tracefile (a test name per image) for genhtml\n"
    "                      and lcov --summary\n"
    "  --source-root DIR   the source tree the tracefile names files in (default: the\n"
    "                      tree pei-sim was built from)\n"
    "Exit status: 0 done; 1 FILE holds no runs of an IMAGE, or a gap is not accounted\n"
    "for; 2 usage; 4 a file cannot be read, is not what it should be, or llvm-objdump\n"
    "or llvm-symbolizer failed.\n";

struct COMMAND {
  const char *Name;
  const char *Help;
  ExitStatus (*Run)(const std::vector<std::string> &);
};

const COMMAND kCommands[] = {
    {"format", kFormatHelp, FormatCommand}, {"run", kRunHelp, RunCommand},       {"qemu", kQemuHelp, QemuCommand},
    {"inspect", kInspectHelp, InspectCommand}, {"report", kReportHelp, ReportCommand},
    {"coverage", kCoverageHelp, CoverageCommand},
};

// "--help" or "-h" among a command's options (not after "--", where FORMAT may be anything).
bool AsksForHelp(const std::vector<std::string> &Args) {
  for (const std::string &Arg : Args) {
    if (Arg == "--") {
      return false;
    }
    if (Arg == "--help" || Arg == "-h") {
      return true;
    }
  }
  return false;
}

}  // namespace

int main(int Argc, char **Argv) {
  const std::vector<std::string> Args(Argv + 1, Argv + Argc);
  // --help-all is --help with a section line ("*pei-sim format*") before
  // each command, as help2man makes the manual page's sections.
  if (Args.size() == 1 && (Args[0] == "--help" || Args[0] == "-h" || Args[0] == "help" || Args[0] == "--help-all")) {
    std::fputs(kOverview, stdout);
    for (const COMMAND &Command : kCommands) {
      if (Args[0] == "--help-all") {
        std::printf("\n*pei-sim %s*\n", Command.Name);
      }
      std::printf("\n%s", Command.Help);
    }
    return ExitCode(ExitStatus::Success);
  }
  if (Args.size() == 1 && Args[0] == "--version") {
    std::printf("pei-sim %s\n", SOC_PROJECT_VERSION);
    return ExitCode(ExitStatus::Success);
  }
  const COMMAND *Found = nullptr;
  for (const COMMAND &Command : kCommands) {
    if (!Args.empty() && Args[0] == Command.Name) {
      Found = &Command;
    }
  }
  try {
    if (Found == nullptr) {
      throw UsageError(Args.empty() ? "no command given" : "unknown command '" + Args[0] + "'");
    }
    const std::vector<std::string> Options(Args.begin() + 1, Args.end());
    if (AsksForHelp(Options)) {
      std::fputs(Found->Help, stdout);
      return ExitCode(ExitStatus::Success);
    }
    return ExitCode(Found->Run(Options));
  } catch (const UsageError &Error) {
    std::fprintf(stderr, "pei-sim: %s\nsee 'pei-sim %s--help'\n", Error.what(),
                 Found == nullptr ? "" : (std::string(Found->Name) + " ").c_str());
    return ExitCode(ExitStatus::Usage);
  } catch (const std::exception &Error) {
    // Nothing a user hands the tool may end it any other way.
    std::fprintf(stderr, "pei-sim: internal error: %s\n", Error.what());
    return ExitCode(ExitStatus::CannotRun);
  }
}
