#include "base/shared_runtime_files.h"

#include "base/ascii_case.h"

namespace zor {

namespace {

// The system's C and C++ run-time libraries the programs load, and the suite's shared
// packages (".bpl") and type libraries (".tlb").
constexpr std::string_view kSharedRuntimeFiles[] = {
    "ld-linux-x86-64.so.2",
    "libc.so.6",
    "libm.so.6",
    "libdl.so.2",
    "librt.so.1",
    "libpthread.so.0",
    "libgcc_s.so.1",
    "libstdc++.so.6",
    "libz.so.1",
    "libdeflate.so.0",
    "libfltk.so.1.3",
    "libX11.so.6",
    "libXext.so.6",
    "libXft.so.2",
    "libfontconfig.so.1",
    "libfreetype.so.6",
    "libpng16.so.16",
    "libjpeg.so.62",
    "zorrtl.bpl",
    "zorvcl.bpl",
    "zorbase.bpl",
    "zordb.bpl",
    "zorintercom.bpl",
    "zorreport.bpl",
    "zorui.bpl",
    "zordict.bpl",
    "zorexpr.bpl",
    "zorcom.tlb",
    "zorserver.tlb",
    "zorclient.tlb",
};

std::string_view FileName(std::string_view path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string_view FolderName(std::string_view path) {
  const size_t slash = path.find_last_of("/\\");
  if (slash == std::string_view::npos) return {};
  return FileName(path.substr(0, slash));
}

}  // namespace

bool IsSharedRuntimeFile(std::string_view path) {
  const std::string_view folder = FolderName(path);
  if (SameTextAscii(folder, "Bpls") || SameTextAscii(folder, "Coms")) return true;
  const std::string_view name = FileName(path);
  for (std::string_view shared : kSharedRuntimeFiles)
    if (SameTextAscii(name, shared)) return true;
  return false;
}

}  // namespace zor
