#include "platform/contained_files.h"

#include "platform/posix/open_below.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <string_view>

#include "platform/posix/descriptor_helpers.h"

namespace zor {
namespace {

// An open folder descriptor that closes itself.
class FolderHandle {
 public:
  explicit FolderHandle(int descriptor = -1) : Descriptor(descriptor) {}
  ~FolderHandle() {
    if (Descriptor >= 0) close(Descriptor);
  }
  FolderHandle(FolderHandle&& other) noexcept : Descriptor(other.Descriptor) {
    other.Descriptor = -1;
  }
  FolderHandle& operator=(FolderHandle&& other) noexcept {
    std::swap(Descriptor, other.Descriptor);
    return *this;
  }
  FolderHandle(const FolderHandle&) = delete;
  FolderHandle& operator=(const FolderHandle&) = delete;

  bool IsOpen() const { return Descriptor >= 0; }
  int Get() const { return Descriptor; }

 private:
  int Descriptor;
};

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

FolderHandle OpenFolder(const std::string& folder) {
  return FolderHandle(folder.empty() ? -1 : open(folder.c_str(), kFolderFlags));
}

// A sub-folder of an open folder, refused when the entry is a link.
FolderHandle OpenSubFolder(int parent, const std::string& name) {
  return FolderHandle(openat(parent, name.c_str(), kFolderFlags | O_NOFOLLOW));
}

std::vector<std::string> SplitRelativeName(const std::string& relativeName) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= relativeName.size()) {
    size_t end = relativeName.find('/', start);
    if (end == std::string::npos) end = relativeName.size();
    parts.push_back(relativeName.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

// Opens the folder that holds the last part of `relativeName`, walking down from `folder`
// without following links; `last` receives that part.
FolderHandle OpenHoldingFolder(const std::string& folder, const std::string& relativeName,
                               std::string& last) {
  if (!IsContainedRelativeName(relativeName)) return FolderHandle();
  std::vector<std::string> parts = SplitRelativeName(relativeName);
  FolderHandle current = OpenFolder(folder);
  for (size_t i = 0; current.IsOpen() && i + 1 < parts.size(); ++i)
    current = OpenSubFolder(current.Get(), parts[i]);
  last = parts.back();
  return current;
}

void ListInto(int descriptor, const std::string& prefix, int depth, std::vector<std::string>& out) {
  // fdopendir takes the descriptor over; keep our own for the sub-folder opens.
  const int listing = dup(descriptor);
  if (listing < 0) return;
  DIR* dir = fdopendir(listing);
  if (dir == nullptr) {
    close(listing);
    return;
  }
  std::vector<std::string> names;
  while (const dirent* entry = readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") names.emplace_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    struct stat info {};
    if (fstatat(descriptor, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (!S_ISDIR(info.st_mode)) {
      out.push_back(prefix + name);
      continue;
    }
    if (depth >= kMaxListingDepth) continue;
    FolderHandle sub = OpenSubFolder(descriptor, name);
    if (sub.IsOpen()) ListInto(sub.Get(), prefix + name + "/", depth + 1, out);
  }
}

}  // namespace

std::vector<std::string> ListFilesBelow(const std::string& folder) {
  std::vector<std::string> files;
  FolderHandle root = OpenFolder(folder);
  if (root.IsOpen()) ListInto(root.Get(), "", 0, files);
  return files;
}

bool IsContainedRelativeName(const std::string& relativeName) {
  if (relativeName.empty() || relativeName.front() == '/' ||
      relativeName.find('\0') != std::string::npos)
    return false;
  for (const std::string& part : SplitRelativeName(relativeName)) {
    if (part.empty() || part == "." || part == "..") return false;
  }
  return true;
}

bool DeleteFileBelow(const std::string& folder, const std::string& relativeName) {
  std::string last;
  FolderHandle holder = OpenHoldingFolder(folder, relativeName, last);
  if (!holder.IsOpen()) return false;
  struct stat info {};
  if (fstatat(holder.Get(), last.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 || S_ISDIR(info.st_mode))
    return false;
  return unlinkat(holder.Get(), last.c_str(), 0) == 0;
}

bool RemoveEmptyFolderBelow(const std::string& folder, const std::string& relativeName) {
  std::string last;
  FolderHandle holder = OpenHoldingFolder(folder, relativeName, last);
  if (!holder.IsOpen()) return false;
  struct stat info {};
  if (fstatat(holder.Get(), last.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
      !S_ISDIR(info.st_mode))
    return false;
  return unlinkat(holder.Get(), last.c_str(), AT_REMOVEDIR) == 0;
}

namespace {

std::atomic<bool> gComponentWalkOnly{false};

// The descriptor of `relativeName` below the folder open as `root`, one component at a time,
// each opened with O_NOFOLLOW; -1 when a part is missing or a link.
int WalkBelow(int root, const std::string& relativeName) {
  int current = dup(root);
  size_t start = 0;
  while (current >= 0) {
    const size_t slash = relativeName.find('/', start);
    const std::string part =
        relativeName.substr(start, slash == std::string::npos ? slash : slash - start);
    const bool last = slash == std::string::npos;
    const int flags = last ? O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK
                           : O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    const int next = openat(current, part.c_str(), flags);
    close(current);
    current = next;
    if (last) break;
    start = slash + 1;
  }
  return current;
}

}  // namespace

void UseComponentWalkForTests(bool on) {
  gComponentWalkOnly.store(on);
}

int OpenRegularFileBelow(const std::string& folder, const std::string& relativeName) {
  if (!IsContainedRelativeName(relativeName)) {
    errno = EINVAL;
    return -1;
  }
  const int root = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (root < 0) return -1;
  int fd = -1;
  bool walk = gComponentWalkOnly.load();
  if (!walk) {
    open_how how{};
    how.flags = O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS;
    fd = static_cast<int>(syscall(SYS_openat2, root, relativeName.c_str(), &how, sizeof how));
    // A kernel without openat2 (or a sandbox that forbids it) gets the walk instead.
    walk = fd < 0 && (errno == ENOSYS || errno == EPERM);
  }
  if (walk) fd = WalkBelow(root, relativeName);
  const int openError = errno;
  close(root);
  if (fd < 0) {
    errno = openError;
    return -1;
  }
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    errno = S_ISDIR(info.st_mode) ? EISDIR : ENOENT;
    return -1;
  }
  // Reads block again: the non-blocking open only kept a FIFO from holding the server.
  const int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return fd;
}

std::FILE* OpenFileBelowForReading(const std::string& folder, const std::string& relativeName) {
  const int fd = OpenRegularFileBelow(folder, relativeName);
  if (fd < 0) return nullptr;
  std::FILE* file = fdopen(fd, "rb");
  if (!file) close(fd);
  return file;
}

}  // namespace zor
