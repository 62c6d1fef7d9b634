#!/usr/bin/env bash
# The main job: builds the programs the demo runs (not the tests) and runs the demo.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib-zor.sh
bash scripts/install-deps.sh
# Optimised without debug information (it nearly doubles the compile time); the same flags
# as the test script's normal build, so both share build/.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG" \
  "-DCMAKE_C_FLAGS_RELEASE=-O2 -DNDEBUG" >/dev/null
# Only what the demo runs: the test suite (scripts/test.sh) builds the rest into the same tree.
cmake --build build -j "$(nproc)" --target launcher demo-main zorpe zorserver zorreg zorrelease
# The demo: an application server serves a sample release folder on 127.0.0.1, signed with a
# key made for the demo; a launcher in an empty client folder, with its connection settings and
# the release's public key in a private registry folder, checks the signed manifest, brings
# the folder up to date (headless) and starts the main program with "/NetMode".
BIN=$PWD/build/bin
DEMO=$(mktemp -d)
SERVER_PID=
cleanup() {
  if [ -n "$SERVER_PID" ]; then kill "$SERVER_PID" 2>/dev/null || true; wait "$SERVER_PID" 2>/dev/null || true; fi
  rm -rf "$DEMO"
}
trap cleanup EXIT
export ZOR_REGISTRY_DIR=$DEMO/reg ZOR_RUNTIME_DIR=$DEMO/run XDG_CACHE_HOME=$DEMO/cache
mkdir -p "$DEMO/release/bpls" "$DEMO/client" "$ZOR_REGISTRY_DIR" "$ZOR_RUNTIME_DIR"

echo "== sample release folder"
cp "$BIN/IClient" "$DEMO/release/IClient"
"$BIN/zorpe" "$DEMO/release/ZORCore.dll" 5.0.6.18
"$BIN/zorpe" "$DEMO/release/bpls/ZORMain.bpl" 5.0.6.18
head -c 300000 /dev/urandom >"$DEMO/release/Reports.dat"
printf '[System]\r\nMainExe=IClient\r\n' >"$DEMO/release/ZORSys.ini"

echo "== signing the release (zorrelease)"
mkdir -m 700 "$DEMO/keys"
RELEASE_KEY=$("$BIN/zorrelease" keygen "$DEMO/keys/release.key")
echo "public key: $RELEASE_KEY"
"$BIN/zorrelease" sign --key "$DEMO/keys/release.key" --release "$DEMO/release" --expires-days 30
"$BIN/zorrelease" verify --public "$RELEASE_KEY" --release "$DEMO/release"
(cd "$DEMO/release" && find . -type f | sort)

echo "== zorserver"
PORT=$((20000 + RANDOM % 20000))
"$BIN/zorserver" --release "$DEMO/release" --port "$PORT" --bind 127.0.0.1 --cache "$DEMO/cache" >"$DEMO/server.out" 2>"$DEMO/server.log" &
SERVER_PID=$!
zor_wait_listening "$SERVER_PID" "$DEMO/server.out" "$DEMO/server.log"
cat "$DEMO/server.out"
grep "manifest" "$DEMO/server.log" || true

echo "== client settings"
zor_client_settings "$BIN/zorreg" "$PORT" "$RELEASE_KEY" 500
"$BIN/zorreg" query 'HKLM\Software\ZOR\DK880'

echo "== launcher (headless) in an empty client folder"
cp "$BIN/Client" "$DEMO/client/Client"
(cd "$DEMO/client" && ZOR_UI=headless ZOR_LCID=1033 ./Client)

echo "== client folder afterwards"
(cd "$DEMO/client" && find . -type f ! -name Client ! -name DownLoadInfo.dat | sort)
[ -f "$DEMO/client/ZORRelease.state" ] || { echo "the launcher did not accept the signed release"; exit 1; }
for f in IClient ZORCore.dll bpls/ZORMain.bpl Reports.dat ZORSys.ini; do
  cmp -s "$DEMO/release/$f" "$DEMO/client/$f" || { echo "not up to date: $f"; exit 1; }
done
echo "every release file is up to date"
for _ in $(seq 50); do [ -s "$DEMO/client/IClient.started" ] && break; sleep 0.1; done
echo "IClient.started: $(cat "$DEMO/client/IClient.started")"
grep -q " /NetMode$" "$DEMO/client/IClient.started"

echo "== second run over the local pipe (ConnectType 0): nothing to fetch"
"$BIN/zorreg" add 'HKLM\Software\ZOR\DK880' /v ConnectType /t REG_DWORD /d 0 /f
(cd "$DEMO/client" && ZOR_UI=headless ZOR_LCID=1033 ./Client)
for _ in $(seq 50); do [ "$(wc -l <"$DEMO/client/IClient.started")" -ge 2 ] && break; sleep 0.1; done
echo "IClient was started $(wc -l <"$DEMO/client/IClient.started") times"
