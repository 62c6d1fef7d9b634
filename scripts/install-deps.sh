#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, and any packages named
# as arguments (a script's own tools); only the missing ones.
set -euo pipefail
packages=(
  cmake ninja-build g++ pkg-config   # the build
  zlib1g-dev                         # wire compression, packed files, CRC-32
  libdeflate-dev                     # the server packs files that fit in memory (same zlib stream, faster)
  librsync-dev                       # delta transfers: signatures, deltas and patches of changed files
  libgtest-dev libgmock-dev          # tests
  libbenchmark-dev                   # benchmarks
  nlohmann-json3-dev                 # JSON of the cloud lookup, the lookup service and the release manifest
  libsodium-dev                      # signed releases: Ed25519 keys and signatures
  libssl-dev                         # SHA-256 of release and packed files (libcrypto, CPU SHA instructions)
  libopencc-dev libopencc-data       # simplified <-> traditional Chinese conversion (OpenCC and its tables)
  clang-16 libclang-rt-16-dev        # libFuzzer builds: clang 14 lacks std::source_location with libstdc++ 12
  libfltk1.3-dev                     # the windows of ZOR_UI=gui (FLTK 1.3, X11)
  clang-format                       # the format check of the test run (.clang-format)
  g++-mingw-w64-x86-64-posix         # the test run's Windows syntax check of the portable sources
  ccache                             # compiler cache: repeated builds on one machine are fast
  python3                            # the soak script (scripts/soak.py)
  fonts-wqy-microhei                 # a CJK font, so the Chinese captions render in the windows
  "$@"
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
