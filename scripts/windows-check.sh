#!/usr/bin/env bash
# Compiles every portable source file (all of src/, apps/ and cloud/ but the POSIX bodies in
# src/platform/posix/ and the FLTK windows in src/ui/fltk/; the Win32 bodies included) with
# the mingw-w64 cross compiler for Windows, syntax only, with the build's warnings as errors
# and the Windows build's definitions: code above the platform layer must not lean on this
# system by accident. The third-party headers the tree uses are offered from a folder of their
# own, so no Linux system header is ever reached.
set -euo pipefail
cd "$(dirname "$0")/.."
cxx=x86_64-w64-mingw32-g++-posix
jobs=${ZOR_WINDOWS_CHECK_JOBS:-$(nproc)}

headers=$(mktemp -d)
trap 'rm -rf "$headers"' EXIT
# Header-only or plain C interfaces whose text does not depend on the target system.
for h in zlib.h zconf.h sodium.h sodium libdeflate.h librsync.h librsync_export.h nlohmann; do ln -s "/usr/include/$h" "$headers/$h"; done
mkdir "$headers/openssl"
ln -s /usr/include/openssl/* "$headers/openssl/"
ln -sf /usr/include/x86_64-linux-gnu/openssl/* "$headers/openssl/"

# The version the build gives the launcher (CMakeLists.txt's project version).
version=$(sed -n 's/^project([^)]*VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

mapfile -t files < <(git ls-files 'src/*.cpp' 'apps/*.cpp' 'cloud/*.cpp' |
  grep -v -e '^src/platform/posix/' -e '^src/ui/fltk/')
echo "windows syntax check: ${#files[@]} files with $cxx"
printf '%s\0' "${files[@]}" |
  xargs -0 -n 4 -P "$jobs" "$cxx" -std=c++20 -fsyntax-only -Wall -Wextra -Werror \
    -Wno-missing-field-initializers "-DZOR_VERSION=\"$version\"" -Isrc -isystem "$headers" \
    -D_WIN32_WINNT=0x0A00 -DWINVER=0x0A00 -DUNICODE -D_UNICODE -DWIN32_LEAN_AND_MEAN -DNOMINMAX
