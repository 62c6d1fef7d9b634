#include "platform/dynamic_library.h"

#include <dlfcn.h>
#include <sys/stat.h>

namespace zor {

DynamicLibrary::~DynamicLibrary() {
  if (Handle) dlclose(Handle);
}

std::unique_ptr<DynamicLibrary> DynamicLibrary::Load(const std::string& path, std::string& error) {
  error.clear();
  if (path.find('/') == std::string::npos) {
    // A bare name would make the loader search the system's folders.
    error = "not a path: " + path;
    return nullptr;
  }
  dlerror();
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* reason = dlerror();
    error = reason ? reason : "cannot load " + path;
    return nullptr;
  }
  return std::unique_ptr<DynamicLibrary>(new DynamicLibrary(handle, path));
}

std::unique_ptr<DynamicLibrary> DynamicLibrary::LoadChecked(const FileIdentity& checked,
                                                            const std::string& path,
                                                            std::string& error) {
  // The loader takes a name (a "/proc/self/fd" name would match a library loaded earlier
  // through the same descriptor number), so the name must still lead to the checked file.
  struct stat named {};
  if (stat(path.c_str(), &named) != 0 || checked.Device != static_cast<uint64_t>(named.st_dev) ||
      checked.Inode != static_cast<uint64_t>(named.st_ino)) {
    error = path + " changed while it was checked; it is not loaded";
    return nullptr;
  }
  return Load(path, error);
}

void* DynamicLibrary::Symbol(std::string_view name) const {
  const std::string symbol(name);
  return dlsym(Handle, symbol.c_str());
}

}  // namespace zor
