#include "startup/uninstall/uninstall_client_files.h"

#include <string>

#include "base/ascii_case.h"

namespace zor {
namespace {

std::string WithForwardSlashes(std::string_view name) {
  std::string result(name);
  for (char& c : result) {
    if (c == '\\') c = '/';
  }
  return result;
}

}  // namespace

bool IsClientFile(std::string_view folder, std::string_view relativeName) {
  (void)folder;
  const std::string name = WithForwardSlashes(relativeName);
  for (std::string_view clientName : kClientFileNames) {
    if (SameTextAscii(name, clientName)) return true;
  }
  const size_t slash = name.rfind('/');
  if (slash == std::string::npos) return false;
  const std::string_view folderPart = std::string_view(name).substr(0, slash);
  for (std::string_view clientFolder : kClientFileFolders) {
    if (SameTextAscii(folderPart, clientFolder)) return true;
  }
  return false;
}

}  // namespace zor
