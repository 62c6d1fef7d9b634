#include "platform/dynamic_library.h"

#include <dlfcn.h>

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

void* DynamicLibrary::Symbol(std::string_view name) const {
  const std::string symbol(name);
  return dlsym(Handle, symbol.c_str());
}

}  // namespace zor
