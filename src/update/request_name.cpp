#include "update/request_name.h"

#include "base/exceptions.h"
#include "base/format.h"

namespace zor {

namespace {

[[noreturn]] void Refuse(std::string_view name) {
  // Quote at most the first part of an over-long name.
  throw Exception(Format("Invalid file name '%s'!", {name.substr(0, 260)}));
}

}  // namespace

TRequestName CheckRequestName(std::string_view name) {
  if (name.empty() || name.size() > kMaxRequestNameLength) Refuse(name);
  // A leading "\\" or "//" names another machine; a single leading separator is dropped as
  // the client drops it.
  if (name.size() >= 2 && (name[0] == '\\' || name[0] == '/') &&
      (name[1] == '\\' || name[1] == '/'))
    Refuse(name);
  TRequestName result;
  size_t pos = 0;
  while (pos < name.size() && (name[pos] == '\\' || name[pos] == '/')) ++pos;
  while (pos <= name.size()) {
    size_t end = pos;
    while (end < name.size() && name[end] != '\\' && name[end] != '/') ++end;
    const std::string_view part = name.substr(pos, end - pos);
    for (char c : part)
      if (static_cast<unsigned char>(c) < 0x20 || c == ':' || c == 0x7F) Refuse(name);
    if (part == "..") Refuse(name);
    if (!part.empty() && part != ".") {
      if (!result.Wire.empty()) {
        result.Wire += '\\';
        result.Relative += '/';
      }
      result.Wire += part;
      result.Relative += part;
    }
    pos = end + 1;
  }
  if (result.Wire.empty()) Refuse(name);
  result.Key = LowerAscii(result.Wire);
  return result;
}

}  // namespace zor
