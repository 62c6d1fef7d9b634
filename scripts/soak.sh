#!/usr/bin/env bash
# Soak of the launcher and zorserver with real processes (not part of the test command):
# N SIGKILLs of the launcher during updates, N/5 kills and restarts of zorserver while four
# launchers update, N connection cuts at random byte offsets, and a disk that fills up
# during an update. Checks after every fault that each client file is whole (old or new),
# and that every update finishes exact with the main program started. One line per scenario;
# exits non-zero on any fault. Usage: scripts/soak.sh N   (ZOR_SOAK_SEED=... repeats a run)
set -euo pipefail
cd "$(dirname "$0")/.."
count=${1:-}
if ! [[ "$count" =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: $0 N   (N launcher kills and connection cuts, N/5 server kills)" >&2
  exit 2
fi
# The same optimised build as the test script's and the demo's, so all three share build/.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG" \
  "-DCMAKE_C_FLAGS_RELEASE=-O2 -DNDEBUG" >/dev/null
cmake --build build -j "$(nproc)" --target zorserver launcher demo-main zorreg >/dev/null
exec python3 scripts/soak.py "$count" "$PWD/build/bin"
