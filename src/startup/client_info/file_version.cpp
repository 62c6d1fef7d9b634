#include "startup/client_info/file_version.h"

#include <cstdio>
#include <exception>
#include <system_error>

#include "base/exceptions.h"
#include "base/format.h"
#include "platform/file_error_kind.h"
#include "platform/pe_version.h"
#include "platform/zor_registry.h"
#include "startup/client_info/version_compare.h"

namespace zor {
namespace {

bool IsMissingFileError(uint32_t error) {
  return FileErrorKindOf(error) == FileErrorKind::NotFound;
}

}  // namespace

std::string FormatFileVersion(uint32_t major, uint32_t minor, uint32_t release, uint32_t build,
                              bool shortForm) {
  char text[64];
  std::snprintf(text, sizeof text, shortForm ? "%u.%u.%u%02u" : "%u.%u.%u.%u", major, minor,
                release, build);
  return text;
}

std::string GetFileVersionString(const std::string& fileName, uint32_t flags) {
  const bool shortForm = (flags & kVersionShortForm) != 0;
  const FileVersionLookup lookup = ReadFileVersion(fileName);
  if (lookup.OsError != 0) {
    const std::string message = std::generic_category().message(static_cast<int>(lookup.OsError));
    if (!IsMissingFileError(lookup.OsError)) {
      RaiseWin32ErrorEx(Format(kVersionReadError, {fileName}), lookup.OsError, message);
    }
    if (flags >= kVersionStrict) RaiseWin32ErrorEx(fileName, lookup.OsError, message);
  }
  if (!lookup.Version) return std::string(shortForm ? kNoVersionShort : kNoVersion);
  const PeFileVersion& v = *lookup.Version;
  return FormatFileVersion(v.Major(), v.Minor(), v.Release(), v.Build(), shortForm);
}

std::string GetComServerVersion(std::string_view progId) {
  try {
    TZORRegistry classes(RegRoot::ClassesRoot, KEY_READ);
    std::string clsid;
    if (classes.OpenKeyReadOnly("\\" + std::string(progId) + "\\Clsid")) {
      clsid = classes.ReadStringDef("", "");
      classes.CloseKey();
    }
    if (clsid.empty()) return std::string(kNoVersion);
    if (!classes.OpenKeyReadOnly("\\CLSID\\" + clsid + "\\InprocServer32"))
      return std::string(kNoVersion);
    const std::string server = classes.ReadStringDef("", "");
    if (server.empty()) return std::string(kNoVersion);
    return GetFileVersionString(server, 0);
  } catch (const std::exception&) {
    return std::string(kNoVersion);
  }
}

bool IsComServerOlder(std::string_view progId, std::string_view requiredVersion) {
  return CompareVersion(requiredVersion, GetComServerVersion(progId)) >= 1;
}

}  // namespace zor
