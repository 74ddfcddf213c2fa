#include "FileBytes.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

std::string Fault(const std::string &Path, const char *What, int Errno) {
  return Path + ": " + What + (Errno != 0 ? std::string(": ") + std::strerror(Errno) : std::string());
}

// Reads at most Limit bytes of the open file Fd into Out (one more tells
// that the file is larger).
bool ReadAll(int Fd, const std::string &Path, std::string &Out, std::size_t Limit, std::string &Error) {
  struct stat Info {};
  if (fstat(Fd, &Info) != 0) {
    Error = Fault(Path, "cannot be read", errno);
    return false;
  }
  if (S_ISDIR(Info.st_mode)) {
    Error = Path + ": is a folder, not a file";
    return false;
  }
  if (S_ISREG(Info.st_mode) && static_cast<std::uint64_t>(Info.st_size) > Limit) {
    Error = Path + ": larger than " + std::to_string(Limit) + " bytes";
    return false;
  }
  Out.clear();
  char Buffer[65536];
  for (;;) {
    const ssize_t Got = read(Fd, Buffer, sizeof Buffer);
    if (Got < 0 && errno == EINTR) {
      continue;
    }
    if (Got < 0) {
      Error = Fault(Path, "cannot be read", errno);
      return false;
    }
    if (Got == 0) {
      return true;
    }
    if (Out.size() + static_cast<std::size_t>(Got) > Limit) {
      Error = Path + ": larger than " + std::to_string(Limit) + " bytes";
      return false;
    }
    Out.append(Buffer, static_cast<std::size_t>(Got));
  }
}

bool WriteAll(int Fd, const char *Data, std::size_t Size) {
  while (Size > 0) {
    const ssize_t Put = write(Fd, Data, Size);
    if (Put < 0 && errno == EINTR) {
      continue;
    }
    if (Put <= 0) {
      return false;
    }
    Data += Put;
    Size -= static_cast<std::size_t>(Put);
  }
  return true;
}

// The stop signals are held back while a temporary file exists, so that no
// interruption leaves one behind; one that arrives is taken once the file
// has been renamed or removed.
struct HeldStopSignals {
  sigset_t Old;
  HeldStopSignals() {
    sigset_t Held;
    sigemptyset(&Held);
    for (const int Signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
      sigaddset(&Held, Signal);
    }
    pthread_sigmask(SIG_BLOCK, &Held, &Old);
  }
  ~HeldStopSignals() { pthread_sigmask(SIG_SETMASK, &Old, nullptr); }
};

}  // namespace

bool ReadFileText(const std::string &Path, std::string &Text, std::string &Error, std::size_t Limit) {
  const int Fd = open(Path.c_str(), O_RDONLY | O_CLOEXEC);
  if (Fd < 0) {
    Error = Fault(Path, "cannot be opened", errno);
    return false;
  }
  const bool Read = ReadAll(Fd, Path, Text, Limit, Error);
  close(Fd);
  return Read;
}

bool ReadFileBytes(const std::string &Path, std::vector<std::uint8_t> &Bytes, std::string &Error, std::size_t Limit) {
  std::string Text;
  if (!ReadFileText(Path, Text, Error, Limit)) {
    return false;
  }
  Bytes.assign(Text.begin(), Text.end());
  return true;
}

bool WriteFileText(const std::string &Path, const std::string &Text, std::string &Error) {
  const std::size_t Slash = Path.rfind('/');
  const std::string Folder = Slash == std::string::npos ? "." : Path.substr(0, Slash + 1);
  const std::string Name = Slash == std::string::npos ? Path : Path.substr(Slash + 1);
  if (Name.empty()) {
    Error = Path + ": names a folder, not a file";
    return false;
  }
  const HeldStopSignals Held;
  std::string Temporary = Folder + (Slash == std::string::npos ? "/." : ".") + Name + ".XXXXXX";
  const int Fd = mkstemp(Temporary.data());
  if (Fd < 0) {
    Error = Fault(Path, "cannot be written", errno);
    return false;
  }
  // mkstemp makes the file private; a built file gets the usual mode.
  const mode_t Mask = umask(0);
  umask(Mask);
  bool Written = fchmod(Fd, 0666 & ~Mask) == 0 && WriteAll(Fd, Text.data(), Text.size());
  int Errno = Written ? 0 : errno;
  if (close(Fd) != 0 && Written) {
    Written = false;
    Errno = errno;
  }
  if (Written && rename(Temporary.c_str(), Path.c_str()) != 0) {
    Written = false;
    Errno = errno;
  }
  if (!Written) {
    unlink(Temporary.c_str());
    Error = Fault(Path, "cannot be written", Errno);
  }
  return Written;
}

bool WriteFileBytes(const std::string &Path, const std::vector<std::uint8_t> &Bytes, std::string &Error) {
  return WriteFileText(Path, std::string(Bytes.begin(), Bytes.end()), Error);
}
