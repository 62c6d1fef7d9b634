#include "platform/local_socket.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/directories.h"
#include "platform/runtime_dir.h"

namespace zor {
namespace {

bool MakeAddress(const std::string& path, sockaddr_un& address, int& error) {
  address = sockaddr_un{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path ||
      path.find('\0') != std::string::npos) {
    error = ENAMETOOLONG;
    return false;
  }
  std::memcpy(address.sun_path, path.data(), path.size());
  return true;
}

int RawConnect(const sockaddr_un& address, int& error) {
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

std::string ParentOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

// Makes the pipe folder (0755: everyone connects, only we create names) and checks that it
// is ours; EACCES when it belongs to someone else or others may write to it.
bool EnsureOwnFolder(const std::string& folder, int& error) {
  const std::string parent = ParentOf(folder);
  ForceDirectoriesEx(parent);
  if (::mkdir(folder.c_str(), 0755) == 0) ::chmod(folder.c_str(), 0755);  // past the umask
  struct stat info {};
  if (::lstat(folder.c_str(), &info) != 0) {
    error = errno;
    return false;
  }
  if (!S_ISDIR(info.st_mode) || info.st_uid != ::geteuid() || (info.st_mode & 022) != 0) {
    error = EACCES;
    return false;
  }
  return true;
}

// The owner of a pipe folder that nobody else can have planted (see the header), or -1.
int64_t TrustedFolderOwner(const std::string& folder) {
  struct stat info {};
  if (::lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || (info.st_mode & 022) != 0)
    return -1;
  if (info.st_uid == 0 || info.st_uid == ::geteuid()) return info.st_uid;
  struct stat parent {};
  if (::lstat(ParentOf(folder).c_str(), &parent) != 0 || !S_ISDIR(parent.st_mode)) return -1;
  const bool parentClosed =
      (parent.st_mode & 022) == 0 && (parent.st_uid == 0 || parent.st_uid == info.st_uid);
  return parentClosed ? static_cast<int64_t>(info.st_uid) : -1;
}

}  // namespace

std::string LocalPipeFolder() {
  const std::string runtime = ZorRuntimeDir();
  return runtime.empty() ? std::string("/run/zor/pipe") : runtime + "/pipe";
}

int CreateLocalListener(const std::string& path, int backlog, int& error) {
  sockaddr_un address;
  if (!MakeAddress(path, address, error)) return -1;
  if (!EnsureOwnFolder(ParentOf(path), error)) return -1;
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
    const int probe = RawConnect(address, probeError);
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
  struct stat socketInfo {};
  if (::lstat(path.c_str(), &socketInfo) != 0) {
    error = errno;
    return -1;
  }
  const int64_t owner = TrustedFolderOwner(ParentOf(path));
  if (owner < 0 || !S_ISSOCK(socketInfo.st_mode) || socketInfo.st_uid != owner) {
    error = kLocalNotTrusted;
    return -1;
  }
  const int s = RawConnect(address, error);
  if (s < 0) return -1;
  if (LocalPeerUserId(s) != owner) {  // someone else's process behind the server's name
    ::close(s);
    error = kLocalNotTrusted;
    return -1;
  }
  return s;
}

int64_t LocalPeerUserId(int socket) {
  ucred peer{};
  socklen_t size = sizeof peer;
  if (::getsockopt(socket, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || size != sizeof peer)
    return -1;
  return static_cast<int64_t>(peer.uid);
}

void RemoveLocalName(const std::string& path) {
  ::unlink(path.c_str());
}

bool IsLocalNotFound(int error) {
  return error == ENOENT || error == ECONNREFUSED || error == ENOTDIR;
}

bool IsLocalBusy(int error) {
  return error == EAGAIN || error == EWOULDBLOCK;
}

}  // namespace zor
