#!/usr/bin/env bash
# The main job: builds the programs and runs the demo.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"
# Until the launcher runs, the demo shows the registry store: a sample client key is imported
# into a temporary registry folder, queried and exported again.
ZOR_REGISTRY_DIR=$(mktemp -d) && export ZOR_REGISTRY_DIR && trap 'rm -rf "$ZOR_REGISTRY_DIR"' EXIT
build/bin/zorreg import tests/fixtures/registry/sample.reg
build/bin/zorreg query 'HKLM\Software\ZOR\DK880'
build/bin/zorreg export 'HKLM\Software\ZOR\DK880' "$ZOR_REGISTRY_DIR/export.reg" /y
cat "$ZOR_REGISTRY_DIR/export.reg"
