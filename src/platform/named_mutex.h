// Named mutexes shared by the processes of this machine, on lock files. A mutex "exists"
// while any process has it open (the probe's question) and is "owned" by at most one
// holder at a time. Names without "Global\" (and "Local\" ones) live in the user's private
// folder (runtime_dir.h), so another user can neither hold nor plant them.
//
// "Global\" names are machine-wide only where nobody can plant a file that others then
// trust. Their folder (<runtime>/global, else /run/zor/global, made by the package or by
// root) is used when it is a real folder owned by root or by this user and writable by its
// owner alone; a lock file in it is used when it is a regular file of that owner (or root),
// and only that owner creates new ones (mode 0666, so every user can lock them). A user for
// whom this does not hold (no such folder, a folder or lock file of someone else, a lock
// file made read-only) gets the name in its own private folder: it then excludes that
// user's processes only. A probe asks both places.
//
// Each lock file carries two one-byte locks on its open file description: byte 0 is held
// shared by every open `NamedMutex` (existence), byte 1 exclusively by the owner. Both go
// away when the descriptor closes, so a process that dies leaves nothing held. Lock files
// are never deleted (deleting would let two holders lock different files of one name).
#pragma once

#include <string>
#include <string_view>

namespace zor {

class NamedMutex {
 public:
  // Opens (creating when needed) the mutex `name`; with `initiallyOwned`, also tries to own
  // it at once, as creating an owned mutex does (`Owned()` tells whether that succeeded).
  // A folder or lock file that cannot be made raises `EWin32ErrorEx`; an empty name
  // raises `Exception`.
  explicit NamedMutex(std::string_view name, bool initiallyOwned = false);
  ~NamedMutex();
  NamedMutex(const NamedMutex&) = delete;
  NamedMutex& operator=(const NamedMutex&) = delete;

  // True when the mutex existed (was open somewhere) before this object opened it.
  bool AlreadyExisted() const { return Existed; }
  bool Owned() const { return IsOwned; }
  // Owns the mutex when nobody else does; true when owned afterwards.
  bool TryAcquire();
  // Waits without time-out until owned.
  void Acquire();
  void Release();
  const std::string& LockFilePath() const { return Path; }

 private:
  std::string Path;
  int Descriptor = -1;
  bool Existed = false;
  bool IsOwned = false;
};

// Does any process (this one included) have the mutex `name` open? Creates nothing.
bool ProbeNamedMutex(std::string_view name);

// The lock file of `name` in this user's private folder (where a "Global\" name goes when it
// cannot be machine-wide).
std::string PrivateMutexLockFile(std::string_view name);

// The machine-wide lock file of a "Global\" name, the private one of any other name: the
// folder plus the name made safe for a file
// name (letters, digits, '_', '-', '.' kept, every other byte as %XX, so no name reaches
// outside the folder and distinct names never share a file) plus ".lock".
std::string NamedMutexLockFile(std::string_view name);

}  // namespace zor
