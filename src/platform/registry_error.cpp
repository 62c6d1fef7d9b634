#include "platform/registry_error.h"

#include "base/format.h"

namespace zor {
namespace {

std::string FileErrorText(const std::string& fileName, int line, const std::string& problem) {
  if (line <= 0) return Format("Damaged registry file \"%s\": %s", {fileName, problem});
  return Format("Damaged registry file \"%s\", line %d: %s", {fileName, line, problem});
}

}  // namespace

ERegistryFileError::ERegistryFileError(std::string fileName, int line, std::string problem)
    : ERegistryError(FileErrorText(fileName, line, problem)),
      FileName(std::move(fileName)),
      Line(line),
      Problem(std::move(problem)) {}

}  // namespace zor
