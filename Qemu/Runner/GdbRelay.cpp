#include "GdbRelay.h"

#include <poll.h>
#include <sys/socket.h>
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

// Moves what From has to To; false when either side has gone.
bool Pass(int From, int To) {
  char Buffer[4096];
  const ssize_t Got = recv(From, Buffer, sizeof Buffer, MSG_DONTWAIT);
  if (Got == 0 || (Got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
    return false;
  }
  for (ssize_t Sent = 0; Got > 0 && Sent < Got;) {
    const ssize_t Now = send(To, Buffer + Sent, static_cast<std::size_t>(Got - Sent), MSG_NOSIGNAL);
    if (Now < 0 && errno != EINTR && errno != EAGAIN) {
      return false;
    }
    Sent += Now > 0 ? Now : 0;
  }
  return true;
}

}  // namespace

GdbRelay::~GdbRelay() {
  CloseSession();
  if (Listener >= 0) {
    close(Listener);
  }
}

bool GdbRelay::Listen(const std::string &ListenPath, const std::string &Target, std::string &Error) {
  QemuPath = Target;
  sockaddr_un Address, QemuAddress;
  if (!AddressOf(Target, QemuAddress) || !AddressOf(ListenPath, Address)) {
    Error = "the gdb socket's path is too long: " + ListenPath;
    return false;
  }
  Listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (Listener < 0 || bind(Listener, reinterpret_cast<const sockaddr *>(&Address), sizeof Address) != 0 ||
      listen(Listener, 1) != 0) {
    Error = "cannot listen on " + ListenPath + ": " + std::strerror(errno);
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
}

void GdbRelay::Pump(int TimeoutMs) {
  if (Listener < 0 || Ended) {
    poll(nullptr, 0, TimeoutMs);
    return;
  }
  if (Gdb < 0) {
    // One session: the first gdb that comes, once QEMU's stub is there.
    pollfd Waiting{Listener, POLLIN, 0};
    sockaddr_un Address;
    if (poll(&Waiting, 1, TimeoutMs) <= 0) {
      return;
    }
    AddressOf(QemuPath, Address);
    Qemu = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (Qemu < 0 || connect(Qemu, reinterpret_cast<const sockaddr *>(&Address), sizeof Address) != 0) {
      CloseSession();
      poll(nullptr, 0, TimeoutMs);  // QEMU's stub not there yet: gdb waits in the backlog
      return;
    }
    Gdb = accept4(Listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (Gdb < 0) {
      CloseSession();
    }
    return;
  }
  pollfd Sides[2] = {{Gdb, POLLIN, 0}, {Qemu, POLLIN, 0}};
  if (poll(Sides, 2, TimeoutMs) <= 0) {
    return;
  }
  const bool GdbGone = Sides[0].revents != 0 && !Pass(Gdb, Qemu);
  const bool QemuGone = Sides[1].revents != 0 && !Pass(Qemu, Gdb);
  if (GdbGone || QemuGone) {
    CloseSession();
    Ended = true;
  }
}
