#include "startup/launch/path_names.h"

namespace zor {
namespace {

size_t NameStart(std::string_view path) {
  const size_t slash = path.find_last_of(kPathDelimiter);
  return slash == std::string_view::npos ? 0 : slash + 1;
}

// Position of the extension's '.', or npos.
size_t ExtStart(std::string_view path) {
  const size_t dot = path.find_last_of('.');
  if (dot == std::string_view::npos || dot < NameStart(path)) return std::string_view::npos;
  return dot;
}

}  // namespace

std::string ExtractFileName(std::string_view path) {
  return std::string(path.substr(NameStart(path)));
}

std::string ExtractFileExt(std::string_view path) {
  const size_t dot = ExtStart(path);
  return dot == std::string_view::npos ? std::string() : std::string(path.substr(dot));
}

std::string ChangeFileExt(std::string_view path, std::string_view extension) {
  const size_t dot = ExtStart(path);
  std::string result(dot == std::string_view::npos ? path : path.substr(0, dot));
  result += extension;
  return result;
}

std::string FileNameWithoutExt(std::string_view path) {
  return ChangeFileExt(ExtractFileName(path), "");
}

}  // namespace zor
