#include "platform/local_socket.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/runtime_dir.h"

namespace zor {
namespace {

bool MakeAddress(const std::string& path, sockaddr_un& address, int& error) {
  address = sockaddr_un{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path || path.find('\0') != std::string::npos) {
    error = ENAMETOOLONG;
    return false;
  }
  std::memcpy(address.sun_path, path.data(), path.size());
  return true;
}

void EnsureFolder(const std::string& folder) {
  if (::mkdir(folder.c_str(), 01777) == 0) ::chmod(folder.c_str(), 01777);  // every user may add a pipe
}

}  // namespace

std::string LocalPipeFolder() {
  const std::string runtime = ZorRuntimeDir();
  return runtime.empty() ? std::string("/tmp/zor-pipe") : runtime + "/pipe";
}

int CreateLocalListener(const std::string& path, int backlog, int& error) {
  sockaddr_un address;
  if (!MakeAddress(path, address, error)) return -1;
  if (const auto slash = path.rfind('/'); slash != std::string::npos && slash > 0) {
    EnsureFolder(path.substr(0, slash));
  }
  const int s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (s < 0) {
    error = errno;
    return -1;
  }
  if (::bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    if (errno != EADDRINUSE) {
      error = errno;
      ::close(s);
      return -1;
    }
    // A file of a listener that is gone: take the name over; a live listener keeps it.
    int probeError = 0;
    const int probe = ConnectLocal(path, probeError);
    if (probe >= 0 || !IsLocalNotFound(probeError)) {
      if (probe >= 0) ::close(probe);
      ::close(s);
      error = EADDRINUSE;
      return -1;
    }
    ::unlink(path.c_str());
    if (::bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
      error = errno;
      ::close(s);
      return -1;
    }
  }
  ::chmod(path.c_str(), 0666);
  if (::listen(s, backlog) != 0) {
    error = errno;
    ::close(s);
    return -1;
  }
  return s;
}

int ConnectLocal(const std::string& path, int& error) {
  sockaddr_un address;
  if (!MakeAddress(path, address, error)) return -1;
  const int s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (s < 0) {
    error = errno;
    return -1;
  }
  if (::connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    error = errno;
    ::close(s);
    return -1;
  }
  return s;
}

void RemoveLocalName(const std::string& path) { ::unlink(path.c_str()); }

bool IsLocalNotFound(int error) { return error == ENOENT || error == ECONNREFUSED || error == ENOTDIR; }

bool IsLocalBusy(int error) { return error == EAGAIN || error == EWOULDBLOCK; }

}  // namespace zor
