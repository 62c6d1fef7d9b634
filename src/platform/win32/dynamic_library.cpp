// Libraries loaded with LoadLibraryExW by full path only: the system's search of the
// program's folder, the current folder and PATH never takes part.
#include "platform/dynamic_library.h"

#include "platform/last_error.h"
#include "platform/win32/handle_helpers.h"
#include "platform/win32/wide_text.h"

namespace zor {

DynamicLibrary::~DynamicLibrary() {
  if (Handle) ::FreeLibrary(static_cast<HMODULE>(Handle));
}

std::unique_ptr<DynamicLibrary> DynamicLibrary::Load(const std::string& path, std::string& error) {
  error.clear();
  const bool absolute =
      (path.size() > 2 && path[1] == ':' && (path[2] == '/' || path[2] == '\\')) ||
      path.starts_with("//") || path.starts_with("\\\\");
  if (!absolute) {
    // A bare or relative name would make the loader search the system's folders.
    error = "not a full path: " + path;
    return nullptr;
  }
  std::wstring name = win32::Wide(path);
  for (wchar_t& c : name)
    if (c == L'/') c = L'\\';  // the loader's altered search wants backslashes
  HMODULE handle = ::LoadLibraryExW(
      name.c_str(), nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!handle) {
    const uint32_t code = ::GetLastError();
    error = "cannot load " + path + ": " + SystemErrorMessage(code);
    return nullptr;
  }
  return std::unique_ptr<DynamicLibrary>(new DynamicLibrary(handle, path));
}

std::unique_ptr<DynamicLibrary> DynamicLibrary::LoadChecked(const FileIdentity& checked,
                                                            const std::string& path,
                                                            std::string& error) {
  // The loader takes a name, so the name must still lead to the checked file. A handle that
  // shares reading only is held over the load: nobody can write, rename or replace the file
  // between the comparison and the loader's own open.
  win32::Handle pin(::CreateFileW(win32::Wide(path).c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
  const std::optional<FileIdentity> named =
      pin.Valid() ? win32::IdentityOfHandle(pin.Get()) : std::nullopt;
  if (!named || named->Device != checked.Device || named->Inode != checked.Inode) {
    error = path + " changed while it was checked; it is not loaded";
    return nullptr;
  }
  return Load(path, error);
}

void* DynamicLibrary::Symbol(std::string_view name) const {
  const std::string symbol(name);
  return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(Handle), symbol.c_str()));
}

}  // namespace zor
