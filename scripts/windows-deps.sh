#!/usr/bin/env bash
# Installs what the Windows cross build needs and builds, for Windows, the libraries that
# have no cross package: GoogleTest (from Debian's googletest sources), libsodium,
# libdeflate and librsync (from Debian's source packages). They go into a cached folder
# outside the source tree, reused while the compiler and the sources stay the same.
# Prints that folder as its last line.
#
#   ZOR_MINGW_CACHE   the cache's parent folder (default ~/.cache/zor-mingw)
set -euo pipefail
cd "$(dirname "$0")/.."
host=x86_64-w64-mingw32
toolchain=$PWD/cmake/toolchain-mingw-w64.cmake
jobs=$(nproc)

packages=(
  cmake ninja-build make pkg-config
  g++-mingw-w64-x86-64-posix    # the cross compiler (POSIX threads)
  libz-mingw-w64-dev            # zlib for Windows
  wine wine64                   # runs the Windows test programs
  googletest                    # GoogleTest's sources, built for Windows
  autoconf automake libtool     # libsodium's build
  dpkg-dev                      # apt-get source unpacks with dpkg-source
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}" >&2
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
fi

# Source packages come from the archive the binary packages come from: a deb-src entry with
# the same address and suites as the system's own deb entry.
ensure_deb_src() {
  if apt-get source --print-uris libsodium >/dev/null 2>&1; then return; fi
  local list=/etc/apt/sources.list.d/zor-deb-src.sources
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed -n '/^Types:/,/^$/p' /etc/apt/sources.list.d/debian.sources |
      sed 's/^Types:.*/Types: deb-src/' >"$list"
  else
    grep -h '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' >"${list%.sources}.list"
  fi
  apt-get update -qq >&2
}

# One cache folder per compiler and source versions: a change of either builds anew. The
# versions come from the package lists, which the source entry's check brings up to date.
ensure_deb_src
version_of() { dpkg-query -W -f='${Version}' "$1" 2>/dev/null || echo none; }
key="gcc$(version_of g++-mingw-w64-x86-64-posix)-gtest$(version_of googletest)"
key+="-sodium$(apt-cache policy libsodium-dev 2>/dev/null | sed -n 's/ *Candidate: //p')"
key+="-deflate$(apt-cache policy libdeflate-dev 2>/dev/null | sed -n 's/ *Candidate: //p')"
key+="-rsync$(apt-cache policy librsync-dev 2>/dev/null | sed -n 's/ *Candidate: //p')"
key=$(printf '%s' "$key" | tr -c 'A-Za-z0-9.+-' '_')
prefix=${ZOR_MINGW_CACHE:-$HOME/.cache/zor-mingw}/$key
mkdir -p "$prefix"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake_lib() {  # cmake_lib NAME SOURCE_DIR [cmake options...]
  local name=$1 src=$2
  shift 2
  cmake -S "$src" -B "$work/build-$name" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DBUILD_SHARED_LIBS=OFF "$@" >"$work/$name.log" 2>&1 ||
    { cat "$work/$name.log" >&2; return 1; }
  cmake --build "$work/build-$name" -j "$jobs" >>"$work/$name.log" 2>&1 &&
    cmake --install "$work/build-$name" >>"$work/$name.log" 2>&1 ||
    { tail -50 "$work/$name.log" >&2; return 1; }
}

source_package() {  # source_package NAME: unpacks Debian's source of NAME, prints its folder
  ensure_deb_src
  (cd "$work" && apt-get source -qq "$1" >"$work/$1-source.log" 2>&1) || true
  local dir
  dir=$(find "$work" -maxdepth 1 -type d -name "$1-*" | head -1)
  if [ -z "$dir" ]; then
    # The archive may lack a package's Debian part; the upstream tarball is all we build.
    local orig
    orig=$(find "$work" -maxdepth 1 -name "${1}_*.orig.tar.*" | head -1)
    [ -n "$orig" ] || { cat "$work/$1-source.log" >&2; return 1; }
    tar -C "$work" -xf "$orig"
    dir=$(find "$work" -maxdepth 1 -type d -name "$1-*" | head -1)
  fi
  echo "$dir"
}

if [ ! -f "$prefix/.gtest" ]; then
  echo "building GoogleTest for Windows" >&2
  cmake_lib googletest /usr/src/googletest -Dgtest_force_shared_crt=OFF
  touch "$prefix/.gtest"
fi

if [ ! -f "$prefix/.libsodium" ]; then
  echo "building libsodium for Windows" >&2
  src=$(source_package libsodium)
  (cd "$src" && DO_NOT_UPDATE_CONFIG_SCRIPTS=1 ./autogen.sh -s >"$work/sodium.log" 2>&1 &&
    ./configure --host=$host --prefix="$prefix" --disable-shared --enable-static \
      --disable-dependency-tracking >>"$work/sodium.log" 2>&1 &&
    make -j "$jobs" >>"$work/sodium.log" 2>&1 && make install >>"$work/sodium.log" 2>&1) ||
    { tail -50 "$work/sodium.log" >&2; exit 1; }
  touch "$prefix/.libsodium"
fi

if [ ! -f "$prefix/.libdeflate" ]; then
  echo "building libdeflate for Windows" >&2
  src=$(source_package libdeflate)
  # Its own makefile would also build programs and a DLL: the library's C files are all
  # that is needed, compiled straight into an archive.
  mkdir -p "$work/deflate-obj" "$prefix/lib/pkgconfig" "$prefix/include"
  (cd "$work/deflate-obj" &&
    find "$src/lib" -name '*.c' -print0 |
    xargs -0 -n 1 -P "$jobs" $host-gcc-posix -O2 -DNDEBUG -I"$src" -c &&
    $host-gcc-ar-posix rcs "$prefix/lib/libdeflate.a" ./*.o) ||
    { echo "libdeflate failed" >&2; exit 1; }
  cp "$src/libdeflate.h" "$prefix/include/"
  deflate_version=$(sed -n 's/^#define LIBDEFLATE_VERSION_STRING[^"]*"\(.*\)"/\1/p' "$src/libdeflate.h")
  printf 'prefix=%s\nName: libdeflate\nDescription: DEFLATE, zlib and gzip\nVersion: %s\nLibs: -L${prefix}/lib -ldeflate\nCflags: -I${prefix}/include\n' \
    "$prefix" "$deflate_version" >"$prefix/lib/pkgconfig/libdeflate.pc"
  touch "$prefix/.libdeflate"
fi

if [ ! -f "$prefix/.librsync" ]; then
  echo "building librsync for Windows" >&2
  src=$(source_package librsync)
  cmake_lib librsync "$src" -DBUILD_RDIFF=OFF -DENABLE_COMPRESSION=OFF -DUSE_LIBB2=OFF
  touch "$prefix/.librsync"
fi

echo "$prefix"
