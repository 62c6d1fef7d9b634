#!/usr/bin/env bash
# Cross-builds the programs' lower layers (base, platform, transport, intercom), their tools
# and their unit tests for 64-bit Windows and runs the tests under Wine, through ctest.
# Installs what it needs and builds the Windows libraries on first use (windows-deps.sh,
# cached outside the tree). Wine runs in a private prefix, without a display and without
# its debug output; its server is started first and one program is run to bring the
# prefix up, so that each test does not wait for that itself.
#
#   ZOR_WINDOWS_BUILD   the build folder (default build-windows)
#   ZOR_WINDOWS_TESTS   a ctest -R filter (default: every test)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${ZOR_WINDOWS_BUILD:-build-windows}
jobs=$(nproc)

seconds() { date +%s.%N; }
elapsed() { awk -v from="$1" -v to="$(seconds)" 'BEGIN { printf "%.1f", to - from }'; }

start=$(seconds)
deps=$(bash scripts/windows-deps.sh | tail -1)
echo "windows: libraries in $deps ($(elapsed "$start") s)"

export CMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER:-ccache}
export CMAKE_C_COMPILER_LAUNCHER=${CMAKE_C_COMPILER_LAUNCHER:-ccache}
export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=1 CCACHE_MAXSIZE=${CCACHE_MAXSIZE:-5G}
command -v ccache >/dev/null || unset CMAKE_CXX_COMPILER_LAUNCHER CMAKE_C_COMPILER_LAUNCHER

# Wine's prefix lives and dies with this run.
prefix=$(mktemp -d)
export WINEPREFIX=$prefix/wine WINEDEBUG=-all WINEARCH=win64 DISPLAY=
unset WAYLAND_DISPLAY
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$prefix"
}
trap cleanup EXIT
start=$(seconds)
mkdir -p "$WINEPREFIX"
wineserver -p
wine cmd /c exit >/dev/null 2>&1
echo "windows: Wine prefix ready ($(elapsed "$start") s)"

start=$(seconds)
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG" "-DCMAKE_C_FLAGS_RELEASE=-O2 -DNDEBUG" \
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-w64.cmake -DZOR_WINDOWS_DEPS="$deps" \
  -DZOR_LOWER_LAYERS_ONLY=ON -DZOR_BENCH=OFF >/dev/null
cmake --build "$build" -j "$jobs"
echo "windows: cross build ($(elapsed "$start") s)"

start=$(seconds)
status=0
(cd "$build" && ctest -j "$jobs" --output-on-failure ${ZOR_WINDOWS_TESTS:+-R "$ZOR_WINDOWS_TESTS"}) ||
  status=$?
echo "windows: tests under Wine ($(elapsed "$start") s)"
exit $status
