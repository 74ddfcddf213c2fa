#include "GdbRelay.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

bool AddressOf(const std::string &Path, sockaddr_un &Address) {
  Address = sockaddr_un{};
  Address.sun_family = AF_UNIX;
  if (Path.size() >= sizeof Address.sun_path) {
    return false;
  }
  std::memcpy(Address.sun_path, Path.c_str(), Path.size() + 1);
  return true;
}

int NonBlockingSocket() { return socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0); }

bool Retry(int Errno) { return Errno == EAGAIN || Errno == EWOULDBLOCK || Errno == EINTR; }

}  // namespace

bool ClearSocketPath(const std::string &Path, std::string &Error) {
  struct stat Info {};
  if (lstat(Path.c_str(), &Info) != 0) {
    if (errno == ENOENT) {
      return true;
    }
    Error = Path + ": " + std::strerror(errno);
    return false;
  }
  if (!S_ISSOCK(Info.st_mode)) {
    Error = Path + " is there and is not a socket: it is left as it is";
    return false;
  }
  if (unlink(Path.c_str()) != 0) {
    Error = "cannot remove the old socket " + Path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

GdbRelay::~GdbRelay() {
  CloseSession();
  if (Listener >= 0) {
    close(Listener);
    unlink(ListenPath.c_str());
  }
}

bool GdbRelay::Listen(const std::string &Path, const std::string &Target, std::string &Error) {
  ListenPath = Path;
  QemuPath = Target;
  sockaddr_un Address, QemuAddress;
  if (!AddressOf(Target, QemuAddress) || !AddressOf(Path, Address)) {
    Error = "the gdb socket's path is too long: " + Path;
    return false;
  }
  if (!ClearSocketPath(Path, Error)) {
    return false;
  }
  Listener = NonBlockingSocket();
  if (Listener < 0 || bind(Listener, reinterpret_cast<const sockaddr *>(&Address), sizeof Address) != 0 ||
      listen(Listener, 1) != 0) {
    Error = "cannot listen on " + Path + ": " + std::strerror(errno);
    if (Listener >= 0) {
      close(Listener);
      Listener = -1;
    }
    return false;
  }
  return true;
}

void GdbRelay::CloseSession() {
  for (int *Socket : {&Gdb, &Qemu}) {
    if (*Socket >= 0) {
      close(*Socket);
      *Socket = -1;
    }
  }
  ToQemu.clear();
  ToGdb.clear();
}

bool GdbRelay::Move(int From, int To, std::string &Pending, bool Readable) {
  if (Readable && Pending.size() < kMaxPending) {
    char Buffer[4096];
    const ssize_t Got = recv(From, Buffer, sizeof Buffer, MSG_DONTWAIT);
    if (Got == 0 || (Got < 0 && !Retry(errno))) {
      return false;
    }
    if (Got > 0) {
      Pending.append(Buffer, static_cast<std::size_t>(Got));
    }
  }
  if (!Pending.empty()) {
    const ssize_t Sent = send(To, Pending.data(), Pending.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (Sent < 0 && !Retry(errno)) {
      return false;
    }
    Pending.erase(0, Sent > 0 ? static_cast<std::size_t>(Sent) : 0);
  }
  return true;
}

void GdbRelay::Pump(int TimeoutMs) {
  if (Listener < 0 || Ended) {
    poll(nullptr, 0, TimeoutMs);
    return;
  }
  if (Gdb < 0) {
    // One session: the first gdb that comes, once QEMU's stub is there.
    pollfd Waiting{Listener, POLLIN, 0};
    if (poll(&Waiting, 1, TimeoutMs) <= 0) {
      return;
    }
    sockaddr_un Address;
    AddressOf(QemuPath, Address);
    Qemu = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);  // blocking for the connect only
    if (Qemu < 0 || connect(Qemu, reinterpret_cast<const sockaddr *>(&Address), sizeof Address) != 0 ||
        fcntl(Qemu, F_SETFL, O_NONBLOCK) != 0) {
      CloseSession();
      poll(nullptr, 0, TimeoutMs);  // QEMU's stub not there yet: gdb waits in the backlog
      return;
    }
    Gdb = accept4(Listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (Gdb < 0) {
      CloseSession();
      return;
    }
    Started = true;
    return;
  }
  // Each side is read while its direction has room, and written while its
  // direction holds something.
  pollfd Sides[2] = {
      {Gdb, static_cast<short>((ToQemu.size() < kMaxPending ? POLLIN : 0) | (ToGdb.empty() ? 0 : POLLOUT)), 0},
      {Qemu, static_cast<short>((ToGdb.size() < kMaxPending ? POLLIN : 0) | (ToQemu.empty() ? 0 : POLLOUT)), 0}};
  if (poll(Sides, 2, TimeoutMs) <= 0) {
    return;
  }
  const short Gone = POLLHUP | POLLERR;
  const bool GdbReadable = (Sides[0].revents & (POLLIN | Gone)) != 0;
  const bool QemuReadable = (Sides[1].revents & (POLLIN | Gone)) != 0;
  const bool Moved = Move(Gdb, Qemu, ToQemu, GdbReadable) && Move(Qemu, Gdb, ToGdb, QemuReadable);
  if (!Moved || (Sides[0].revents & POLLNVAL) != 0 || (Sides[1].revents & POLLNVAL) != 0) {
    CloseSession();
    Ended = true;
  }
}
