#!/usr/bin/env bash
# The launcher's update against an rsync daemon, on this machine and in the same run (not part
# of the test command). For a small release (500 files of 1-10 KB) and a mixed one (~800
# files, ~200 MB: small files, shared libraries, random data, text and one 40 MB file), both
# signed, it serves the folder with zorserver and with `rsync --daemon` on 127.0.0.1 and
# times (median of $ZOR_BENCH_REPEATS runs, default 3):
#   1. the headless launcher into an empty client folder (the server's pack cache warm),
#   2. the launcher again with nothing to change,
#   3. `rsync -a` from the daemon into an empty folder,
#   4. rsync again with nothing to change,
#   5. the launcher into an empty folder with a cold pack cache (zorserver restarted, cache emptied),
# the launcher's peak memory (/usr/bin/time), and for the small release
# $ZOR_BENCH_CONCURRENT (default 64) launchers at once, each into its own empty folder:
# their aggregate bytes/s against one launcher's. Every client folder is compared byte for
# byte with the release after each run; a difference fails the script. Prints a table with
# the goals beside the figures.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib-zor.sh
bash scripts/install-deps.sh rsync time

export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=1
export CMAKE_CXX_COMPILER_LAUNCHER=ccache CMAKE_C_COMPILER_LAUNCHER=ccache
# The same optimised build as the demo's and the test script's, so all share build/.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG" \
  "-DCMAKE_C_FLAGS_RELEASE=-O2 -DNDEBUG" >/dev/null
cmake --build build -j 2 --target launcher demo-main zorserver zorreg zorpe zorrelease >/dev/null

BIN=$PWD/build/bin
REPEATS=${ZOR_BENCH_REPEATS:-3}
CONCURRENT=${ZOR_BENCH_CONCURRENT:-64}
PROFILES=${ZOR_BENCH_PROFILES:-small mixed}
# Left out of the comparison: the files a launcher keeps beside the release's (itself, its
# resume records, the state of the signed release it accepted and its cache of local file
# hashes, the main program's start record) and the release's signed manifest, which the
# launcher checks in its private staging folder and does not install.
OWN_FILES=(Client DownLoadInfo.dat ZORRelease.state ZORRelease.hashes IClient.started ZORRelease.manifest)
WORK=$(mktemp -d /tmp/zor-bench.XXXXXX)
SERVER_PID=
RSYNC_PID=
LAUNCHER_PIDS=()

cleanup() {
  local pid
  for pid in "${LAUNCHER_PIDS[@]}" "$SERVER_PID" "$RSYNC_PID"; do
    [ -n "$pid" ] || continue
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$WORK"
}
trap cleanup EXIT

fail() {
  echo "FAILED: $*" >&2
  exit 1
}

free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

now_ns() { date +%s%N; }
seconds_since() { awk -v a="$1" -v b="$(now_ns)" 'BEGIN { printf "%.3f", (b - a) / 1e9 }'; }
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

# A byte-for-byte comparison of a client folder with the release, the launcher's own files aside.
verify_folder() {
  local release=$1 folder=$2 excludes=() name
  for name in "${OWN_FILES[@]}"; do excludes+=(-x "$name"); done
  diff -rq "${excludes[@]}" "$release" "$folder" >"$WORK/diff.out" 2>&1 ||
    { head -20 "$WORK/diff.out" >&2; fail "$folder differs from the release"; }
}

# make_release PROFILE DIR: the synthetic release folder, signed with the benchmark's key.
make_release() {
  local profile=$1 dir=$2
  python3 bench/make_release.py "$profile" "$dir" >/dev/null
  cp "$BIN/IClient" "$dir/IClient"
  "$BIN/zorpe" "$dir/ZORCore.dll" 5.0.6.18
  "$BIN/zorpe" "$dir/bpls/ZORMain.bpl" 5.0.6.18
  printf '[System]\r\nMainExe=IClient\r\n' >"$dir/ZORSys.ini"
  "$BIN/zorrelease" sign --key "$WORK/keys/release.key" --release "$dir" --expires-days 30 >/dev/null
}

start_server() {
  "$BIN/zorserver" --release "$RELEASE" --port "$SERVER_PORT" --bind 127.0.0.1 \
    --cache "$CACHE" --max-connections 1024 --max-per-address 1024 \
    >"$RUN/server.out" 2>>"$RUN/server.log" &
  SERVER_PID=$!
  zor_wait_listening "$SERVER_PID" "$RUN/server.out" "$RUN/server.log"
}

stop_server() {
  kill "$SERVER_PID" 2>/dev/null || true
  wait "$SERVER_PID" 2>/dev/null || true
  SERVER_PID=
}

start_rsync_daemon() {
  cat >"$RUN/rsyncd.conf" <<EOF
use chroot = no
uid = $(id -un)
gid = $(id -gn)
pid file = $RUN/rsyncd.pid
log file = $RUN/rsyncd.log
[release]
  path = $RELEASE
  read only = yes
EOF
  rsync --daemon --no-detach --config="$RUN/rsyncd.conf" --address=127.0.0.1 \
    --port="$RSYNC_PORT" &
  RSYNC_PID=$!
  for _ in $(seq 100); do
    rsync "rsync://127.0.0.1:$RSYNC_PORT/" 2>/dev/null | grep -q '^release' && return 0
    kill -0 "$RSYNC_PID" 2>/dev/null || break
    sleep 0.1
  done
  cat "$RUN/rsyncd.log" >&2
  fail "the rsync daemon is not listening"
}

stop_rsync_daemon() {
  kill "$RSYNC_PID" 2>/dev/null || true
  wait "$RSYNC_PID" 2>/dev/null || true
  RSYNC_PID=
}

new_client_folder() {
  local folder
  folder=$(mktemp -d "$RUN/client.XXXXXX")
  cp "$BIN/Client" "$folder/Client"
  echo "$folder"
}

# launch FOLDER: one headless launcher run in FOLDER; sets SECONDS_TAKEN and PEAK_KIB, checks
# that it succeeded, that the folder matches the release and that the main program started.
launch() {
  local folder=$1 starts=0 start
  if [ -f "$folder/IClient.started" ]; then starts=$(wc -l <"$folder/IClient.started"); fi
  start=$(now_ns)
  (cd "$folder" && ZOR_UI=headless ZOR_LCID=1033 /usr/bin/time -f %M -o "$folder.mem" ./Client) \
    >"$folder.log" 2>&1 || { tail -20 "$folder.log" >&2; fail "the launcher in $folder"; }
  SECONDS_TAKEN=$(seconds_since "$start")
  PEAK_KIB=$(tail -1 "$folder.mem")
  verify_folder "$RELEASE" "$folder"
  for _ in $(seq 100); do
    [ -f "$folder/IClient.started" ] && [ "$(wc -l <"$folder/IClient.started")" -gt "$starts" ] &&
      return 0
    sleep 0.05
  done
  fail "the main program did not start from $folder"
}

# pull DEST: one rsync run from the daemon into DEST; sets SECONDS_TAKEN.
pull() {
  local dest=$1 start
  start=$(now_ns)
  rsync -a "rsync://127.0.0.1:$RSYNC_PORT/release/" "$dest/" || fail "rsync into $dest"
  SECONDS_TAKEN=$(seconds_since "$start")
  verify_folder "$RELEASE" "$dest"
}

PEAK_MIB=0
note_peak() {
  PEAK_MIB=$(awk -v a="$PEAK_MIB" -v k="$PEAK_KIB" 'BEGIN { m = k / 1024; printf "%.1f", (m > a ? m : a) }')
}

declare -A RESULT

bench_profile() {
  local profile=$1 folder dest i full=() again=() rfull=() ragain=() cold=()
  RUN=$WORK/$profile
  RELEASE=$RUN/release
  CACHE=$RUN/cache
  mkdir -p "$RUN"
  make_release "$profile" "$RELEASE"
  local files bytes
  files=$(find "$RELEASE" -type f | wc -l)
  bytes=$(find "$RELEASE" -type f -printf '%s\n' | awk '{ s += $1 } END { print s }')
  RESULT[$profile.files]=$files
  RESULT[$profile.mb]=$(awk -v b="$bytes" 'BEGIN { printf "%.1f", b / 1048576 }')
  echo "== $profile: $files files, ${RESULT[$profile.mb]} MiB" >&2

  SERVER_PORT=$(free_port)
  RSYNC_PORT=$(free_port)
  export ZOR_REGISTRY_DIR=$RUN/reg ZOR_RUNTIME_DIR=$RUN/run XDG_CACHE_HOME=$RUN/xdg-cache
  mkdir -p "$ZOR_REGISTRY_DIR" "$ZOR_RUNTIME_DIR"
  zor_client_settings "$BIN/zorreg" "$SERVER_PORT" "$RELEASE_KEY" 0
  start_server
  start_rsync_daemon

  # One unmeasured run of each fills the server's pack cache and the page cache.
  folder=$(new_client_folder)
  launch "$folder"
  rm -rf "$folder"
  dest=$(mktemp -d "$RUN/rsync.XXXXXX")
  pull "$dest"
  rm -rf "$dest"

  for i in $(seq "$REPEATS"); do
    folder=$(new_client_folder)
    launch "$folder"
    full+=("$SECONDS_TAKEN")
    note_peak
    launch "$folder"
    again+=("$SECONDS_TAKEN")
    note_peak
    rm -rf "$folder"
    dest=$(mktemp -d "$RUN/rsync.XXXXXX")
    pull "$dest"
    rfull+=("$SECONDS_TAKEN")
    pull "$dest"
    ragain+=("$SECONDS_TAKEN")
    rm -rf "$dest"
    echo "   run $i: launcher ${full[-1]} s, again ${again[-1]} s; rsync ${rfull[-1]} s, again ${ragain[-1]} s" >&2
  done
  for i in $(seq "$REPEATS"); do
    stop_server
    rm -rf "$CACHE"
    start_server
    folder=$(new_client_folder)
    launch "$folder"
    cold+=("$SECONDS_TAKEN")
    note_peak
    rm -rf "$folder"
    echo "   run $i: launcher with a cold pack cache ${cold[-1]} s" >&2
  done
  RESULT[$profile.full]=$(median "${full[@]}")
  RESULT[$profile.again]=$(median "${again[@]}")
  RESULT[$profile.rfull]=$(median "${rfull[@]}")
  RESULT[$profile.ragain]=$(median "${ragain[@]}")
  RESULT[$profile.cold]=$(median "${cold[@]}")
  RESULT[$profile.bytes]=$bytes

  if [ "$profile" = small ] && [ "$CONCURRENT" -gt 0 ]; then
    # Every launcher has its own folder and its own run-time folder (its mutexes).
    local folders=() start wall pid
    for i in $(seq "$CONCURRENT"); do folders+=("$(new_client_folder)"); done
    start=$(now_ns)
    for folder in "${folders[@]}"; do
      mkdir -p "$folder.run"
      (cd "$folder" && ZOR_UI=headless ZOR_LCID=1033 ZOR_RUNTIME_DIR="$folder.run" ./Client) \
        >"$folder.log" 2>&1 &
      LAUNCHER_PIDS+=($!)
    done
    for pid in "${LAUNCHER_PIDS[@]}"; do
      wait "$pid" || fail "a concurrent launcher failed (logs in $RUN/client.*.log)"
    done
    wall=$(seconds_since "$start")
    LAUNCHER_PIDS=()
    for folder in "${folders[@]}"; do verify_folder "$RELEASE" "$folder"; done
    rm -rf "${folders[@]}"
    RESULT[concurrent.wall]=$wall
    RESULT[concurrent.ratio]=$(awk -v n="$CONCURRENT" -v w="$wall" -v one="${RESULT[small.full]}" \
      'BEGIN { printf "%.2f", (n / w) / (1 / one) }')
    echo "   $CONCURRENT launchers at once: $wall s" >&2
  fi
  stop_rsync_daemon
  stop_server
}

mkdir -m 700 "$WORK/keys"
RELEASE_KEY=$("$BIN/zorrelease" keygen "$WORK/keys/release.key")
for profile in $PROFILES; do bench_profile "$profile"; done

goal() { awk -v v="$1" -v op="$2" -v g="$3" 'BEGIN { ok = op == "<=" ? v <= g : op == "<" ? v < g : v >= g; print ok ? "met" : "MISSED" }'; }

echo
echo "Launcher update against an rsync daemon, $(date -u +%Y-%m-%d), $(nproc) cores, median of $REPEATS"
printf '%-26s %10s %9s %7s   %s\n' scenario "launcher s" "rsync s" ratio goal
for profile in $PROFILES; do
  label="$profile (${RESULT[$profile.files]} files, ${RESULT[$profile.mb]} MiB)"
  echo "$label"
  r=$(ratio "${RESULT[$profile.full]}" "${RESULT[$profile.rfull]}")
  printf '  %-24s %10s %9s %7s   <= 1.0x: %s\n' "full update" "${RESULT[$profile.full]}" \
    "${RESULT[$profile.rfull]}" "${r}x" "$(goal "$r" "<=" 1.0)"
  r=$(ratio "${RESULT[$profile.again]}" "${RESULT[$profile.ragain]}")
  printf '  %-24s %10s %9s %7s   <= 2.0x: %s\n' "nothing to change" "${RESULT[$profile.again]}" \
    "${RESULT[$profile.ragain]}" "${r}x" "$(goal "$r" "<=" 2.0)"
  r=$(ratio "${RESULT[$profile.cold]}" "${RESULT[$profile.rfull]}")
  printf '  %-24s %10s %9s %7s\n' "full, cold pack cache" "${RESULT[$profile.cold]}" \
    "${RESULT[$profile.rfull]}" "${r}x"
done
printf '%-36s %9s MiB   < 32 MiB: %s\n' "launcher peak memory (any run)" "$PEAK_MIB" "$(goal "$PEAK_MIB" "<" 32)"
if [ -n "${RESULT[concurrent.ratio]:-}" ]; then
  printf '%-36s %9s x     >= 0.7x: %s  (%s s for all)\n' \
    "$CONCURRENT launchers, aggregate rate" "${RESULT[concurrent.ratio]}" \
    "$(goal "${RESULT[concurrent.ratio]}" ">=" 0.7)" "${RESULT[concurrent.wall]}"
fi
