#include "platform/registry_root.h"

#include "platform/registry_names.h"

namespace zor {
namespace {

struct RootNames {
  RegRoot Root;
  std::string_view Long;
  std::string_view Short;
  std::string_view File;
};
constexpr RootNames kRootNames[] = {
    {RegRoot::LocalMachine, "HKEY_LOCAL_MACHINE", "HKLM", "HKLM.reg"},
    {RegRoot::CurrentUser, "HKEY_CURRENT_USER", "HKCU", "HKCU.reg"},
    {RegRoot::ClassesRoot, "HKEY_CLASSES_ROOT", "HKCR", "HKCR.reg"},
};

const RootNames& NamesOf(RegRoot root) {
  for (const RootNames& n : kRootNames)
    if (n.Root == root) return n;
  return kRootNames[0];
}

}  // namespace

std::string_view RegRootLongName(RegRoot root) {
  return NamesOf(root).Long;
}
std::string_view RegRootShortName(RegRoot root) {
  return NamesOf(root).Short;
}
std::string_view RegRootFileName(RegRoot root) {
  return NamesOf(root).File;
}

std::optional<RegRoot> RegRootFromName(std::string_view name) {
  for (const RootNames& n : kRootNames)
    if (RegNamesEqual(name, n.Long) || RegNamesEqual(name, n.Short)) return n.Root;
  return std::nullopt;
}

}  // namespace zor
