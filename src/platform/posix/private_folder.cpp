#include "platform/private_folder.h"

#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "base/exceptions.h"
#include "base/format.h"
#include "platform/last_error.h"

namespace zor {

namespace {

std::string ModeText(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

}  // namespace

void EnsurePrivateFolder(const std::string& path, TFolderPrivacy privacy) {
  const std::filesystem::path folder(path);
  if (folder.has_parent_path()) {
    std::error_code ignored;
    std::filesystem::create_directories(folder.parent_path(), ignored);
  }
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
    RaiseOsErrorEx("Cannot make the folder " + path, errno);
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0) RaiseOsErrorEx("Cannot read the folder " + path, errno);
  const uid_t self = geteuid();
  if (privacy == TFolderPrivacy::OwnerOnly) {
    // A folder we made ourselves passes: mkdir's 0700 is only ever narrowed by the umask.
    if (!S_ISDIR(info.st_mode) || info.st_uid != self || (info.st_mode & 077) != 0) {
      throw EPrivateFolderError(
          Format(kFolderNotPrivateText,
                 {path, static_cast<int64_t>(info.st_uid), ModeText(info.st_mode)}));
    }
    return;
  }
  if (!S_ISDIR(info.st_mode)) throw EPrivateFolderError(Format(kFolderNotAFolderText, {path}));
  if (info.st_uid != self)
    throw EPrivateFolderError(
        Format(kFolderOfOtherUserText,
               {path, static_cast<int64_t>(info.st_uid), static_cast<int64_t>(self)}));
  if (info.st_mode & (S_IWGRP | S_IWOTH))
    throw EPrivateFolderError(Format(kFolderWritableByOthersText, {path, ModeText(info.st_mode)}));
  if ((info.st_mode & 0777) != 0700 && chmod(path.c_str(), 0700) != 0)
    RaiseOsErrorEx("Cannot restrict the folder " + path, errno);
}

}  // namespace zor
