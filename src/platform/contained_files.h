// Files below one folder, reached without ever leaving it: the listing does not descend
// into linked folders, and deletions walk from the folder one component at a time without
// following links, so a link (or a folder swapped for one meanwhile) can never carry a
// deletion elsewhere. A link found below the folder is listed and removed as a link; what
// it points to is never touched. Relative names use '/'.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace zor {

// Folders deeper than this below the listed folder are not looked into.
inline constexpr int kMaxListingDepth = 64;

// Every entry below `folder` that is not a folder (files, links of any kind, other
// entries), as relative paths, depth first with the names of each folder in byte order.
// Folders that cannot be read are skipped; a missing `folder` gives an empty list.
std::vector<std::string> ListFilesBelow(const std::string& folder);

// Whether `relativeName` is a plain relative path: not empty, not rooted, no empty, "." or
// ".." part, no NUL character.
bool IsContainedRelativeName(const std::string& relativeName);

// Deletes the entry `relativeName` below `folder` when it is not a folder (a link is
// removed itself). False when the name is not contained, a folder on the way is a link or
// missing, the entry is a folder or missing, or the deletion fails. Deleting needs no write
// permission on the file itself, so a read-only file goes as well.
bool DeleteFileBelow(const std::string& folder, const std::string& relativeName);

// Removes the folder `relativeName` below `folder` when it is empty and not a link; false
// otherwise.
bool RemoveEmptyFolderBelow(const std::string& folder, const std::string& relativeName);

// Opens the regular file `relativeName` below `folder` for reading without ever following a
// link (on the way or at the end) and without leaving the folder: openat2 with
// RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS where the kernel has it, else a walk that opens one
// component at a time with O_NOFOLLOW. The open file is the one checked, so a file swapped
// for a link after a scan is never served. Null when there is no such regular file.
std::FILE* OpenFileBelowForReading(const std::string& folder, const std::string& relativeName);

// Tests: true makes `OpenFileBelowForReading` take the component walk even where openat2 works.
void UseComponentWalkForTests(bool on);

}  // namespace zor
