#!/usr/bin/env bash
# Checks the format and that the portable sources compile for Windows, then builds and runs the whole test suite: a normal build, an AddressSanitizer +
# UndefinedBehaviorSanitizer build, and a ThreadSanitizer build of the threaded layers' tests;
# the layering check runs with the normal build's tests.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
jobs=$(nproc)
# A compiler cache makes repeated runs on one machine fast; the first run fills it.
if command -v ccache >/dev/null; then
  export CMAKE_CXX_COMPILER_LAUNCHER=ccache CMAKE_C_COMPILER_LAUNCHER=ccache
  export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=1 CCACHE_MAXSIZE=${CCACHE_MAXSIZE:-5G}
fi

configure() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
}

run_tests() {
  local dir=$1; shift
  (cd "$dir" && ctest --output-on-failure -j "$jobs" --timeout 300 "$@")
}

# Each phase says how long it took, so a slow machine shows where the time goes.
phase_start=$SECONDS
phase() {
  echo "   (took $((SECONDS - phase_start)) s; $SECONDS s in all)"
  phase_start=$SECONDS
  echo "== $* =="
}

# The sanitizer builds keep only line tables as debug information: enough for the reports'
# stack traces, and about a quarter less compile time than full debug information.
sanitizer_flags=(-DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-g1 -DCMAKE_C_FLAGS_DEBUG=-g1)

echo "== format check =="
# Every C++ file of the tree as .clang-format lays it out; fix with clang-format -i.
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror

phase "Windows syntax check of the portable sources"
# About 4 minutes of processor time for some 200 files: 2 minutes on 2 idle cores.
bash scripts/windows-check.sh

phase "normal build"
# Optimised without debug information (it nearly doubles the compile time); the same flags
# as the demo's build, so both share build/.
configure build -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG" "-DCMAKE_C_FLAGS_RELEASE=-O2 -DNDEBUG"
cmake --build build -j "$jobs"
run_tests build

phase "AddressSanitizer + UndefinedBehaviorSanitizer build"
configure build-asan "${sanitizer_flags[@]}" -DZOR_SANITIZE=ON
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 run_tests build-asan

phase "ThreadSanitizer build: the layers that run threads"
# The connection core, the transports, downloads, the server and the thread tools of base;
# the single-threaded layers gain nothing from it and would double the build time.
tsan_programs=(zor_base_tests zor_transport_tests zor_intercom_tests zor_update_tests zor_server_tests zorserver)
configure build-tsan "${sanitizer_flags[@]}" -DZOR_TSAN=ON
cmake --build build-tsan -j "$jobs" --target "${tsan_programs[@]}"
# Programs left out are not built, so their placeholder tests are skipped.
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  run_tests build-tsan -E "_NOT_BUILT|^layering$"
phase "done"
