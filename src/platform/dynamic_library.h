// A shared library loaded at run time by file name, and the symbols looked up in it: the
// loader of optional plug-in libraries such as the cloud client. The library stays loaded
// for the lifetime of the object; symbols taken from it must not be used afterwards.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/file_identity.h"

namespace zor {

class DynamicLibrary {
 public:
  ~DynamicLibrary();
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;

  // Loads the library at `path` (a full path: no search of the system's library folders).
  // Nothing, with the system's reason in `error`, when the file is missing or cannot be
  // loaded.
  static std::unique_ptr<DynamicLibrary> Load(const std::string& path, std::string& error);
  // Loads the library at `path` when it is still the file the caller checked through an open
  // file (same device and inode as `checked`); nothing, with the reason in `error`, otherwise.
  static std::unique_ptr<DynamicLibrary> LoadChecked(const FileIdentity& checked,
                                                     const std::string& path, std::string& error);

  // The address of the exported symbol, or nullptr when the library does not export it.
  void* Symbol(std::string_view name) const;
  const std::string& Path() const { return FilePath; }

 private:
  DynamicLibrary(void* handle, std::string path) : Handle(handle), FilePath(std::move(path)) {}
  void* Handle;
  std::string FilePath;
};

}  // namespace zor
