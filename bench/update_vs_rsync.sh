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
#   6. the incremental update: the release's next version v2 (make_release.py revise: 10% of the
#      files edited in place by a few bytes, as a rebuilt library changes, five removed, five
#      new; signed with counter 2) served by a second zorserver and the daemon's "v2" module,
#      pulled over a v1 folder by the launcher (changed files as deltas), the launcher with
#      deltas off ("DeltaFetch" = 0: changed files whole), `rsync -a` and `rsync -az`
#      (neither side deletes the files v2 removed),
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
OWN_FILES=(Client DownLoadInfo.dat ZORRelease.state ZORRelease.hashes ZORRelease.installed IClient.started ZORRelease.manifest)
WORK=$(mktemp -d /tmp/zor-bench.XXXXXX)
SERVER_PID=
SERVER2_PID=
RSYNC_PID=
LAUNCHER_PIDS=()

cleanup() {
  local pid
  for pid in "${LAUNCHER_PIDS[@]}" "$SERVER_PID" "$SERVER2_PID" "$RSYNC_PID"; do
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

# A byte-for-byte comparison of a client folder with the release, the launcher's own files
# aside; against v2, the files that v2 removed may stay (no contender deletes them).
verify_folder() {
  local release=$1 folder=$2 excludes=() name rel
  for name in "${OWN_FILES[@]}"; do excludes+=(-x "$name"); done
  if diff -rq "${excludes[@]}" "$release" "$folder" >"$WORK/diff.out" 2>&1; then return 0; fi
  if [ "$release" = "${V2:-}" ]; then
    while IFS= read -r rel; do
      if [ "$(dirname "$rel")" = . ]; then
        echo "Only in $folder: $rel"
      else
        echo "Only in $folder/$(dirname "$rel"): $(basename "$rel")"
      fi
    done <"$RUN/v2-removed.list" >"$WORK/diff.allowed"
    grep -vxF -f "$WORK/diff.allowed" "$WORK/diff.out" >"$WORK/diff.rest" || return 0
    mv "$WORK/diff.rest" "$WORK/diff.out"
  fi
  head -20 "$WORK/diff.out" >&2
  fail "$folder differs from $release"
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

# zorserver RELEASE PORT CACHE NAME: starts one server; sets LAST_PID.
zorserver() {
  local release=$1 port=$2 cache=$3 name=$4
  "$BIN/zorserver" --release "$release" --port "$port" --bind 127.0.0.1 \
    --cache "$cache" --max-connections 1024 --max-per-address 1024 \
    >"$RUN/$name.out" 2>>"$RUN/$name.log" &
  LAST_PID=$!
  zor_wait_listening "$LAST_PID" "$RUN/$name.out" "$RUN/$name.log"
}

start_server() {
  zorserver "$RELEASE" "$SERVER_PORT" "$CACHE" server
  SERVER_PID=$LAST_PID
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
[v2]
  path = $V2
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

# launch FOLDER [REGISTRY RELEASE]: one headless launcher run in FOLDER with the settings in
# REGISTRY (default: $ZOR_REGISTRY_DIR, the v1 server); sets SECONDS_TAKEN and PEAK_KIB, checks
# that it succeeded, that the folder matches RELEASE (default v1) and that the main program
# started.
launch() {
  local folder=$1 registry=${2:-$ZOR_REGISTRY_DIR} release=${3:-$RELEASE} starts=0 start
  if [ -f "$folder/IClient.started" ]; then starts=$(wc -l <"$folder/IClient.started"); fi
  start=$(now_ns)
  (cd "$folder" && ZOR_REGISTRY_DIR=$registry ZOR_UI=headless ZOR_LCID=1033 \
    /usr/bin/time -f %M -o "$folder.mem" ./Client) \
    >"$folder.log" 2>&1 || { tail -20 "$folder.log" >&2; fail "the launcher in $folder"; }
  SECONDS_TAKEN=$(seconds_since "$start")
  PEAK_KIB=$(tail -1 "$folder.mem")
  verify_folder "$release" "$folder"
  for _ in $(seq 100); do
    [ -f "$folder/IClient.started" ] && [ "$(wc -l <"$folder/IClient.started")" -gt "$starts" ] &&
      return 0
    sleep 0.05
  done
  fail "the main program did not start from $folder"
}

# pull DEST [MODULE OPTIONS]: one rsync run from the daemon's MODULE (default "release", -a)
# into DEST; sets SECONDS_TAKEN.
pull() {
  local dest=$1 module=${2:-release} options=${3:--a} start release=$RELEASE
  [ "$module" = v2 ] && release=$V2
  start=$(now_ns)
  rsync "$options" "rsync://127.0.0.1:$RSYNC_PORT/$module/" "$dest/" || fail "rsync into $dest"
  SECONDS_TAKEN=$(seconds_since "$start")
  verify_folder "$release" "$dest"
}

PEAK_MIB=0
note_peak() {
  PEAK_MIB=$(awk -v a="$PEAK_MIB" -v k="$PEAK_KIB" 'BEGIN { m = k / 1024; printf "%.1f", (m > a ? m : a) }')
}

declare -A RESULT

bench_profile() {
  local profile=$1 folder dest i full=() again=() rfull=() ragain=() cold=()
  local idelta=() iwhole=() ia=() iaz=() whole opts
  RUN=$WORK/$profile
  RELEASE=$RUN/release
  CACHE=$RUN/cache
  V2=$RUN/v2
  mkdir -p "$RUN"
  make_release "$profile" "$RELEASE"
  # v2 starts as a copy of v1 with its manifest, so signing it gives counter 2.
  read -r RESULT[$profile.v2changed] _ _ < <(python3 bench/make_release.py revise "$RELEASE" "$V2")
  "$BIN/zorrelease" sign --key "$WORK/keys/release.key" --release "$V2" --expires-days 30 >/dev/null
  comm -23 <(cd "$RELEASE" && find . -type f -printf '%P\n' | sort) \
    <(cd "$V2" && find . -type f -printf '%P\n' | sort) >"$RUN/v2-removed.list"
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
  SERVER2_PORT=$(free_port)
  mkdir -p "$RUN/reg-v2" "$RUN/reg-v2-whole"
  ZOR_REGISTRY_DIR=$RUN/reg-v2 zor_client_settings "$BIN/zorreg" "$SERVER2_PORT" "$RELEASE_KEY" 0
  ZOR_REGISTRY_DIR=$RUN/reg-v2-whole zor_client_settings "$BIN/zorreg" "$SERVER2_PORT" "$RELEASE_KEY" 0
  ZOR_REGISTRY_DIR=$RUN/reg-v2-whole "$BIN/zorreg" add 'HKLM\Software\ZOR\DK880' /v DeltaFetch \
    /t REG_DWORD /d 0 /f >/dev/null
  start_server
  zorserver "$V2" "$SERVER2_PORT" "$RUN/cache-v2" server-v2
  SERVER2_PID=$LAST_PID
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
  # The incremental update, v1 -> v2; one unmeasured run first fills v2's pack cache.
  for i in $(seq 0 "$REPEATS"); do
    for whole in 0 1; do
      folder=$(new_client_folder)
      launch "$folder"
      if [ "$whole" = 0 ]; then
        launch "$folder" "$RUN/reg-v2" "$V2"
        [ "$i" = 0 ] || idelta+=("$SECONDS_TAKEN")
      else
        launch "$folder" "$RUN/reg-v2-whole" "$V2"
        [ "$i" = 0 ] || iwhole+=("$SECONDS_TAKEN")
      fi
      note_peak
      rm -rf "$folder" "$folder".*
    done
    for opts in -a -az; do
      dest=$(mktemp -d "$RUN/rsync.XXXXXX")
      pull "$dest" release "$opts"
      pull "$dest" v2 "$opts"
      if [ "$i" != 0 ]; then
        if [ "$opts" = -a ]; then ia+=("$SECONDS_TAKEN"); else iaz+=("$SECONDS_TAKEN"); fi
      fi
      rm -rf "$dest"
    done
    [ "$i" = 0 ] || echo "   run $i: v1 -> v2 launcher ${idelta[-1]} s, whole files ${iwhole[-1]} s;" \
      "rsync -a ${ia[-1]} s, -az ${iaz[-1]} s" >&2
  done
  RESULT[$profile.idelta]=$(median "${idelta[@]}")
  RESULT[$profile.iwhole]=$(median "${iwhole[@]}")
  RESULT[$profile.ia]=$(median "${ia[@]}")
  RESULT[$profile.iaz]=$(median "${iaz[@]}")
  kill "$SERVER2_PID" 2>/dev/null || true
  wait "$SERVER2_PID" 2>/dev/null || true
  SERVER2_PID=

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
  r=$(ratio "${RESULT[$profile.idelta]}" "${RESULT[$profile.iaz]}")
  printf '  %-24s %10s %9s %7s   (v2: %s files edited; rsync -a %s s; launcher with whole files %s s, %sx)\n' \
    "incremental v1 -> v2" "${RESULT[$profile.idelta]}" "${RESULT[$profile.iaz]}" "${r}x" \
    "${RESULT[$profile.v2changed]}" "${RESULT[$profile.ia]}" "${RESULT[$profile.iwhole]}" \
    "$(ratio "${RESULT[$profile.iwhole]}" "${RESULT[$profile.iaz]}")"
done
printf '%-36s %9s MiB   < 32 MiB: %s\n' "launcher peak memory (any run)" "$PEAK_MIB" "$(goal "$PEAK_MIB" "<" 32)"
if [ -n "${RESULT[concurrent.ratio]:-}" ]; then
  printf '%-36s %9s x     >= 0.7x: %s  (%s s for all)\n' \
    "$CONCURRENT launchers, aggregate rate" "${RESULT[concurrent.ratio]}" \
    "$(goal "${RESULT[concurrent.ratio]}" ">=" 0.7)" "${RESULT[concurrent.wall]}"
fi
