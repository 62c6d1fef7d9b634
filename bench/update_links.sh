#!/usr/bin/env bash
# The launcher's update against rsync and plain HTTP over emulated network links, in the same
# run (not part of the test command; needs root). Two network namespaces joined by a veth
# pair (10.77.0.1/30 for the server side, 10.77.0.2/30 for the client side; the addresses
# exist only inside them): zorserver, an rsync daemon and nginx serving the release folder run
# in the server namespace, the contenders in the client namespace. A link profile shapes both
# ends: `tc` tbf for the rate (its queue holds $ZOR_LINK_QUEUE_MS, default 100 ms, at the link
# rate) and bench/link_delay (a netfilter queue that holds every arriving packet for half the
# round trip) for the delay. Each profile is checked once (ping round trip, a timed 20 MB
# transfer) and printed beside its target.
#
# Profiles ($ZOR_LINK_PROFILES, default "loopback 1g 100m 20m"):
#   loopback  everything in the server namespace over 127.0.0.1, no shaping
#   1g        1 Gbit/s, 1 ms round trip
#   100m      100 Mbit/s, 2 ms
#   20m       20 Mbit/s, 40 ms
# Release: bench/make_release.py's "mixed" ($ZOR_BENCH_RELEASE), signed, and its next
# release v2 (make_release.py revise: 10% of the files edited in place, five removed, five
# new; signed with the same key, counter 2).
# Scenarios, each the median of $ZOR_BENCH_REPEATS runs (default 3):
#   full         into an empty folder: the headless launcher, rsync -a, rsync -az,
#                rsync -a --fsync (loopback only), curl with 4 parallel transfers of the files
#   nothing      the same folder again with nothing to change (launcher, rsync -a, rsync -az)
#   incremental  that v1 folder updated to v2 (the launcher from a zorserver serving v2, with
#                changed files as deltas and, in a second v1 folder, with deltas off
#                ("DeltaFetch" = 0: changed files whole),
#                rsync -a and -az from the daemon's v2 module over their own v1 copies)
#   cold         the launcher into an empty folder after zorserver was restarted with an
#                empty pack cache
# Every result folder is compared byte for byte with its release (the launcher's own files
# aside). Prints a table of medians, the ratios launcher / rsync -a and launcher / rsync -az
# and the goals beside them. Removes the namespaces, qdiscs, processes and temporary folders
# on exit, also on failure.
#
# Quick check: ZOR_BENCH_REPEATS=1 ZOR_LINK_PROFILES="loopback 100m" bash bench/update_links.sh
set -euo pipefail
cd "$(dirname "$0")/.."
[ "$(id -u)" = 0 ] || { echo "update_links.sh needs root (network namespaces, tc)" >&2; exit 1; }
source scripts/lib-zor.sh
bash scripts/install-deps.sh rsync nginx-light curl iproute2 time iptables iputils-ping

export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=1
export CMAKE_CXX_COMPILER_LAUNCHER=ccache CMAKE_C_COMPILER_LAUNCHER=ccache
# The same optimised build as the demo's and the test script's, so all share build/.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG" \
  "-DCMAKE_C_FLAGS_RELEASE=-O2 -DNDEBUG" >/dev/null
cmake --build build -j 2 --target launcher demo-main zorserver zorreg zorpe zorrelease >/dev/null

BIN=$PWD/build/bin
REPEATS=${ZOR_BENCH_REPEATS:-3}
PROFILES=${ZOR_LINK_PROFILES:-loopback 1g 100m 20m}
RELEASE_PROFILE=${ZOR_BENCH_RELEASE:-mixed}
QUEUE_MS=${ZOR_LINK_QUEUE_MS:-100}
# Left out of the comparison: the files a launcher keeps beside the release's (see
# bench/update_vs_rsync.sh) and the signed manifest, which it does not install.
OWN_FILES=(Client DownLoadInfo.dat ZORRelease.state ZORRelease.hashes ZORRelease.installed IClient.started ZORRelease.manifest)
SERVER_IP=10.77.0.1
CLIENT_IP=10.77.0.2
ZOR_PORT_V1=7001
ZOR_PORT_V2=7002
RSYNC_PORT=8873
HTTP_PORT=8080
NS_S=zorlink-s-$$
NS_C=zorlink-c-$$
VETH_S=zl$$s
VETH_C=zl$$c
WORK=$(mktemp -d /tmp/zor-links.XXXXXX)
PIDS=()     # every server and delay process this script started
NETNS_MADE=()

cleanup() {
  local pid ns
  set +e
  for pid in "${PIDS[@]}"; do
    [ -n "$pid" ] || continue
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  # Deleting a namespace removes its end of the veth pair, the other end, their qdiscs and
  # the namespace's iptables rules with it.
  for ns in "${NETNS_MADE[@]}"; do ip netns delete "$ns" 2>/dev/null; done
  rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

fail() {
  echo "FAILED: $*" >&2
  exit 1
}

now_ns() { date +%s%N; }
seconds_since() { awk -v a="$1" -v b="$(now_ns)" 'BEGIN { printf "%.3f", (b - a) / 1e9 }'; }
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }'; }
goal() { awk -v v="$1" -v g="$2" 'BEGIN { print (v <= g ? "met" : "MISSED") }'; }

# forget PID: drops PID from the processes the clean-up stops.
forget() {
  local i
  for i in "${!PIDS[@]}"; do [ "${PIDS[$i]}" = "$1" ] && unset 'PIDS[i]'; done
  return 0
}

stop_pid() {
  [ -n "$1" ] || return 0
  kill "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
  forget "$1"
}

# A byte-for-byte comparison of a result folder with a release, the launcher's own files aside.
# After an update to v2 the files v2 removed may stay: the launcher only fetches, and the
# rsync runs do not delete either (no --delete), so that both do the same work.
verify_folder() {
  local release=$1 folder=$2 excludes=() name rel
  for name in "${OWN_FILES[@]}"; do excludes+=(-x "$name"); done
  if diff -rq "${excludes[@]}" "$release" "$folder" >"$WORK/diff.out" 2>&1; then return 0; fi
  if [ "$release" = "$V2" ]; then
    while IFS= read -r rel; do
      if [ "$(dirname "$rel")" = . ]; then
        echo "Only in $folder: $rel"
      else
        echo "Only in $folder/$(dirname "$rel"): $(basename "$rel")"
      fi
    done <"$WORK/v2-removed.list" >"$WORK/diff.allowed"
    grep -vxF -f "$WORK/diff.allowed" "$WORK/diff.out" >"$WORK/diff.rest" || return 0
    mv "$WORK/diff.rest" "$WORK/diff.out"
  fi
  head -20 "$WORK/diff.out" >&2
  fail "$folder differs from $release"
}

# ---- the releases -----------------------------------------------------------------------

stamp_and_sign() {
  local dir=$1
  cp "$BIN/IClient" "$dir/IClient"
  "$BIN/zorpe" "$dir/ZORCore.dll" 5.0.6.18
  "$BIN/zorpe" "$dir/bpls/ZORMain.bpl" 5.0.6.18
  printf '[System]\r\nMainExe=IClient\r\n' >"$dir/ZORSys.ini"
  "$BIN/zorrelease" sign --key "$WORK/keys/release.key" --release "$dir" --expires-days 30 >/dev/null
}

make_releases() {
  mkdir -m 700 "$WORK/keys"
  RELEASE_KEY=$("$BIN/zorrelease" keygen "$WORK/keys/release.key")
  V1=$WORK/v1
  V2=$WORK/v2
  python3 bench/make_release.py "$RELEASE_PROFILE" "$V1" >/dev/null
  stamp_and_sign "$V1"
  # v2 starts as a copy of v1 with its manifest, so signing it gives counter 2.
  read -r V2_CHANGED V2_REMOVED V2_ADDED < <(python3 bench/make_release.py revise "$V1" "$V2")
  "$BIN/zorrelease" sign --key "$WORK/keys/release.key" --release "$V2" --expires-days 30 >/dev/null
  comm -23 <(cd "$V1" && find . -type f -printf '%P\n' | sort) \
    <(cd "$V2" && find . -type f -printf '%P\n' | sort) >"$WORK/v2-removed.list"
  V1_FILES=$(find "$V1" -type f | wc -l)
  V1_MIB=$(find "$V1" -type f -printf '%s\n' | awk '{ s += $1 } END { printf "%.1f", s / 1048576 }')
  echo "== release v1 ($RELEASE_PROFILE): $V1_FILES files, $V1_MIB MiB; v2: $V2_CHANGED files" \
    "edited in place, $V2_REMOVED removed, $V2_ADDED new" >&2
  # What nginx serves: the release and the probe of the link check.
  mkdir -p "$WORK/http"
  ln -s "$V1" "$WORK/http/v1"
  head -c $((20 << 20)) /dev/urandom >"$WORK/http/probe.bin"
}

# ---- the link ---------------------------------------------------------------------------

make_namespaces() {
  ip netns add "$NS_S"
  NETNS_MADE+=("$NS_S")
  ip netns add "$NS_C"
  NETNS_MADE+=("$NS_C")
  ip link add "$VETH_S" netns "$NS_S" type veth peer name "$VETH_C" netns "$NS_C"
  ip -n "$NS_S" addr add "$SERVER_IP/30" dev "$VETH_S"
  ip -n "$NS_C" addr add "$CLIENT_IP/30" dev "$VETH_C"
  local ns
  for ns in "$NS_S" "$NS_C"; do ip -n "$ns" link set lo up; done
  ip -n "$NS_S" link set "$VETH_S" up
  ip -n "$NS_C" link set "$VETH_C" up
  cc -O2 -Wall -o "$WORK/link_delay" bench/link_delay.c
}

DELAY_S=
DELAY_C=
# start_delay NS DEV DELAY_US: holds every packet arriving on DEV in NS for DELAY_US; sets LAST_PID.
start_delay() {
  local ns=$1 dev=$2 us=$3 pid
  : >"$WORK/delay.$ns.out"
  ip netns exec "$ns" "$WORK/link_delay" 0 "$us" >"$WORK/delay.$ns.out" 2>>"$WORK/delay.log" &
  pid=$!
  PIDS+=("$pid")
  LAST_PID=$pid
  for _ in $(seq 100); do
    grep -q ready "$WORK/delay.$ns.out" && break
    kill -0 "$pid" 2>/dev/null || { cat "$WORK/delay.log" >&2; fail "link_delay in $ns"; }
    sleep 0.05
  done
  grep -q ready "$WORK/delay.$ns.out" || fail "link_delay in $ns did not start"
  ip netns exec "$ns" iptables-legacy -t raw -C PREROUTING -i "$dev" -j NFQUEUE --queue-num 0 \
    2>/dev/null || ip netns exec "$ns" iptables-legacy -t raw -A PREROUTING -i "$dev" -j NFQUEUE --queue-num 0
}

# shape RATE_MBIT RTT_MS: the rate on both ends' egress, half the round trip on both ends' ingress.
shape() {
  local mbit=$1 rtt=$2 bytes_per_s burst limit dev ns
  bytes_per_s=$((mbit * 125000))
  # A burst of about a millisecond at the link rate (at least two packets); a queue of
  # $QUEUE_MS at the link rate behind it.
  burst=$((bytes_per_s / 1000 > 3200 ? bytes_per_s / 1000 : 3200))
  limit=$((bytes_per_s * QUEUE_MS / 1000 + burst))
  for pair in "$NS_S:$VETH_S" "$NS_C:$VETH_C"; do
    ns=${pair%%:*}
    dev=${pair#*:}
    tc -n "$ns" qdisc replace dev "$dev" root tbf rate "${mbit}mbit" burst "$burst" limit "$limit"
  done
  [ -z "$DELAY_S" ] || stop_pid "$DELAY_S"
  [ -z "$DELAY_C" ] || stop_pid "$DELAY_C"
  local us
  us=$(awk -v r="$rtt" 'BEGIN { printf "%d", r * 500 }')
  start_delay "$NS_S" "$VETH_S" "$us"
  DELAY_S=$LAST_PID
  start_delay "$NS_C" "$VETH_C" "$us"
  DELAY_C=$LAST_PID
}

# check_link LABEL RATE_MBIT RTT_MS: the measured round trip and rate beside the targets.
check_link() {
  local label=$1 mbit=$2 rtt=$3 ping_avg out secs got
  ping_avg=$(ip netns exec "$CLIENT_NS" ping -U -q -c 20 -i 0.05 "$HOST" |
    awk -F/ '/^rtt/ { print $5 }')
  out=$(ip netns exec "$CLIENT_NS" curl -sS --fail -o /dev/null -w '%{time_total} %{size_download}' \
    "http://$HOST:$HTTP_PORT/probe.bin") || fail "the probe transfer over $label"
  secs=${out% *}
  got=$(awk -v s="$secs" -v b="${out#* }" 'BEGIN { printf "%.0f", b * 8 / s / 1e6 }')
  LINK_CHECK[$label]="round trip ${ping_avg} ms (target ${rtt:--}), 20 MiB in ${secs} s = ${got} Mbit/s (target ${mbit:--})"
  echo "   link $label: ${LINK_CHECK[$label]}" >&2
}

# ---- the servers ------------------------------------------------------------------------

ZOR_V1_PID=
ZOR_V2_PID=
RSYNC_PID=
NGINX_PID=

# start_zorserver RELEASE PORT CACHE NAME: sets LAST_PID.
start_zorserver() {
  local release=$1 port=$2 cache=$3 name=$4
  : >"$WORK/$name.out"
  ZOR_REGISTRY_DIR=$WORK/reg-server ip netns exec "$NS_S" "$BIN/zorserver" --release "$release" \
    --port "$port" --bind "$HOST" --cache "$cache" >"$WORK/$name.out" 2>>"$WORK/$name.log" &
  LAST_PID=$!
  PIDS+=("$LAST_PID")
  zor_wait_listening "$LAST_PID" "$WORK/$name.out" "$WORK/$name.log" || fail "zorserver $name"
}

start_servers() {
  mkdir -p "$WORK/reg-server"
  start_zorserver "$V1" "$ZOR_PORT_V1" "$WORK/cache-v1" zor-v1
  ZOR_V1_PID=$LAST_PID
  start_zorserver "$V2" "$ZOR_PORT_V2" "$WORK/cache-v2" zor-v2
  ZOR_V2_PID=$LAST_PID

  cat >"$WORK/rsyncd.conf" <<EOF
use chroot = no
uid = root
gid = root
pid file = $WORK/rsyncd.pid
log file = $WORK/rsyncd.log
[v1]
  path = $V1
  read only = yes
[v2]
  path = $V2
  read only = yes
EOF
  rm -f "$WORK/rsyncd.pid"
  ip netns exec "$NS_S" rsync --daemon --no-detach --config="$WORK/rsyncd.conf" --address="$HOST" \
    --port="$RSYNC_PORT" &
  RSYNC_PID=$!
  PIDS+=("$RSYNC_PID")

  cat >"$WORK/nginx.conf" <<EOF
user root;
worker_processes 2;
daemon off;
pid $WORK/nginx.pid;
error_log $WORK/nginx.log;
events { worker_connections 256; }
http {
  access_log off;
  sendfile on;
  tcp_nopush on;
  default_type application/octet-stream;
  server {
    listen $HOST:$HTTP_PORT;
    root $WORK/http;
  }
}
EOF
  ip netns exec "$NS_S" nginx -c "$WORK/nginx.conf" -e "$WORK/nginx.log" &
  NGINX_PID=$!
  PIDS+=("$NGINX_PID")

  for _ in $(seq 100); do
    if ip netns exec "$CLIENT_NS" rsync "rsync://$HOST:$RSYNC_PORT/" 2>/dev/null | grep -q '^v1' &&
      ip netns exec "$CLIENT_NS" curl -s -o /dev/null "http://$HOST:$HTTP_PORT/v1/ZORSys.ini"; then
      return 0
    fi
    sleep 0.1
  done
  cat "$WORK/rsyncd.log" "$WORK/nginx.log" >&2 2>/dev/null || true
  fail "the rsync daemon or nginx is not answering"
}

stop_servers() {
  local pid
  for pid in "$ZOR_V1_PID" "$ZOR_V2_PID" "$RSYNC_PID" "$NGINX_PID"; do stop_pid "$pid"; done
  ZOR_V1_PID='' ZOR_V2_PID='' RSYNC_PID='' NGINX_PID=''
}

# ---- the contenders ---------------------------------------------------------------------

new_folder() { mktemp -d "$WORK/run/$1.XXXXXX"; }

# launch FOLDER VERSION: one headless launcher run in FOLDER against the zorserver of
# VERSION (v1, v2, or v2-whole: v2 with deltas off); sets SECONDS_TAKEN and PEAK_KIB and checks the folder and that the main
# program started.
launch() {
  local folder=$1 version=$2 starts=0 start release
  [ -f "$folder/Client" ] || cp "$BIN/Client" "$folder/Client"
  if [ -f "$folder/IClient.started" ]; then starts=$(wc -l <"$folder/IClient.started"); fi
  start=$(now_ns)
  (cd "$folder" && ZOR_REGISTRY_DIR=$WORK/reg-$version ZOR_RUNTIME_DIR=$WORK/client-run \
    XDG_CACHE_HOME=$WORK/xdg-cache ZOR_UI=headless ZOR_LCID=1033 \
    ip netns exec "$CLIENT_NS" /usr/bin/time -f %M -o "$folder.mem" ./Client) \
    >"$folder.log" 2>&1 || { tail -20 "$folder.log" >&2; fail "the launcher in $folder"; }
  SECONDS_TAKEN=$(seconds_since "$start")
  PEAK_KIB=$(tail -1 "$folder.mem")
  release=$V1
  [ "$version" != v1 ] && release=$V2
  verify_folder "$release" "$folder"
  for _ in $(seq 100); do
    [ -f "$folder/IClient.started" ] && [ "$(wc -l <"$folder/IClient.started")" -gt "$starts" ] &&
      return 0
    sleep 0.05
  done
  fail "the main program did not start from $folder"
}

# pull DEST VERSION RSYNC-OPTIONS...: one rsync run from the daemon; sets SECONDS_TAKEN.
pull() {
  local dest=$1 version=$2 start release
  shift 2
  start=$(now_ns)
  ip netns exec "$CLIENT_NS" rsync "$@" "rsync://$HOST:$RSYNC_PORT/$version/" "$dest/" ||
    fail "rsync $* into $dest"
  SECONDS_TAKEN=$(seconds_since "$start")
  release=$V1
  [ "$version" = v2 ] && release=$V2
  verify_folder "$release" "$dest"
}

# fetch DEST: every file of v1 over HTTP, 4 transfers at a time; sets SECONDS_TAKEN.
fetch() {
  local dest=$1 start
  start=$(now_ns)
  # (curl shows its progress table in parallel mode whatever -s says; it goes to the log.)
  ip netns exec "$CLIENT_NS" curl -sS --fail --parallel --parallel-max 4 --create-dirs \
    -K "$WORK/curl-$HOST.list" 2>"$dest.curl.log" || { tail -5 "$dest.curl.log" >&2; fail "curl into $dest"; }
  SECONDS_TAKEN=$(seconds_since "$start")
  verify_folder "$V1" "$dest"
}

curl_list() {
  local dest=$1 rel
  (cd "$V1" && find . -type f -printf '%P\n' | sort) | while IFS= read -r rel; do
    printf 'url = "http://%s:%s/v1/%s"\noutput = "%s/%s"\n' "$HOST" "$HTTP_PORT" "$rel" "$dest" "$rel"
  done >"$WORK/curl-$HOST.list"
}

# ---- one profile --------------------------------------------------------------------------

declare -A R LINK_CHECK
PEAK_MIB=0
note_peak() {
  PEAK_MIB=$(awk -v a="$PEAK_MIB" -v k="$PEAK_KIB" 'BEGIN { m = k / 1024; printf "%.1f", (m > a ? m : a) }')
}

# record PROFILE KEY VALUE: one run's figure, kept for the median.
record() { R[$1.$2]="${R[$1.$2]:-} $3"; }

bench_profile() {
  local profile=$1 mbit='' rtt='' i folder a f u
  case $profile in
    loopback) ;;
    1g) mbit=1000 rtt=1 ;;
    100m) mbit=100 rtt=2 ;;
    20m) mbit=20 rtt=40 ;;
    *) fail "unknown link profile $profile (loopback, 1g, 100m, 20m)" ;;
  esac
  echo "== $profile" >&2
  if [ "$profile" = loopback ]; then
    HOST=127.0.0.1 CLIENT_NS=$NS_S
  else
    HOST=$SERVER_IP CLIENT_NS=$NS_C
    shape "$mbit" "$rtt"
  fi
  local version
  for version in v1 v2; do
    local port=$ZOR_PORT_V1
    [ "$version" = v2 ] && port=$ZOR_PORT_V2
    mkdir -p "$WORK/reg-$version"
    ZOR_REGISTRY_DIR=$WORK/reg-$version zor_client_settings "$BIN/zorreg" "$port" "$RELEASE_KEY" 0 "$HOST"
  done
  mkdir -p "$WORK/reg-v2-whole"
  ZOR_REGISTRY_DIR=$WORK/reg-v2-whole zor_client_settings "$BIN/zorreg" "$ZOR_PORT_V2" "$RELEASE_KEY" 0 "$HOST"
  ZOR_REGISTRY_DIR=$WORK/reg-v2-whole "$BIN/zorreg" add 'HKLM\Software\ZOR\DK880' /v DeltaFetch \
    /t REG_DWORD /d 0 /f >/dev/null
  start_servers
  check_link "$profile" "$mbit" "$rtt"
  mkdir -p "$WORK/run" "$WORK/client-run"

  for i in $(seq "$REPEATS"); do
    # The launcher: full, nothing to change, then that folder updated to v2.
    folder=$(new_folder launcher)
    launch "$folder" v1
    record "$profile" full.launcher "$SECONDS_TAKEN"
    note_peak
    launch "$folder" v1
    record "$profile" again.launcher "$SECONDS_TAKEN"
    note_peak
    launch "$folder" v2
    record "$profile" incr.launcher "$SECONDS_TAKEN"
    note_peak
    rm -rf "$folder" "$folder".*
    local line="   run $i: launcher full/again/incremental ${R[$profile.full.launcher]##* }/${R[$profile.again.launcher]##* }/${SECONDS_TAKEN} s"
    # The same update with deltas off: changed files whole.
    folder=$(new_folder launcher-whole)
    launch "$folder" v1
    launch "$folder" v2-whole
    record "$profile" incrwhole.launcher "$SECONDS_TAKEN"
    note_peak
    rm -rf "$folder" "$folder".*
    line+=", whole files $SECONDS_TAKEN s"

    local opts
    for opts in a az; do
      a=$(new_folder "rsync-$opts")
      pull "$a" v1 "-$opts"
      record "$profile" "full.rsync-$opts" "$SECONDS_TAKEN"
      pull "$a" v1 "-$opts"
      record "$profile" "again.rsync-$opts" "$SECONDS_TAKEN"
      pull "$a" v2 "-$opts"
      record "$profile" "incr.rsync-$opts" "$SECONDS_TAKEN"
      rm -rf "$a"
      line+="; rsync -$opts ${R[$profile.full.rsync-$opts]##* }/${R[$profile.again.rsync-$opts]##* }/${SECONDS_TAKEN} s"
    done
    if [ "$profile" = loopback ]; then
      f=$(new_folder rsync-fsync)
      pull "$f" v1 -a --fsync
      record "$profile" full.rsync-fsync "$SECONDS_TAKEN"
      rm -rf "$f"
      line+="; rsync -a --fsync $SECONDS_TAKEN s"
    fi
    u=$(new_folder curl)
    curl_list "$u"
    fetch "$u"
    record "$profile" full.curl "$SECONDS_TAKEN"
    rm -rf "$u" "$u.curl.log"
    line+="; curl $SECONDS_TAKEN s"

    # The launcher after zorserver was restarted with an empty pack cache.
    stop_pid "$ZOR_V1_PID"
    rm -rf "$WORK/cache-v1"
    start_zorserver "$V1" "$ZOR_PORT_V1" "$WORK/cache-v1" zor-v1
    ZOR_V1_PID=$LAST_PID
    folder=$(new_folder launcher-cold)
    launch "$folder" v1
    record "$profile" cold.launcher "$SECONDS_TAKEN"
    note_peak
    rm -rf "$folder" "$folder".*
    line+="; launcher, cold cache $SECONDS_TAKEN s"
    echo "$line" >&2
  done
  stop_servers
  for pid in "$DELAY_S" "$DELAY_C"; do
    [ -z "$pid" ] || kill -0 "$pid" 2>/dev/null || fail "link_delay ended during $profile (see $WORK/delay.log)"
  done
}

# Fills both servers' pack caches and the page cache, unmeasured, over loopback.
warm_up() {
  HOST=127.0.0.1 CLIENT_NS=$NS_S
  local version folder
  for version in v1 v2; do
    local port=$ZOR_PORT_V1
    [ "$version" = v2 ] && port=$ZOR_PORT_V2
    mkdir -p "$WORK/reg-$version"
    ZOR_REGISTRY_DIR=$WORK/reg-$version zor_client_settings "$BIN/zorreg" "$port" "$RELEASE_KEY" 0 "$HOST"
  done
  mkdir -p "$WORK/reg-v2-whole"
  ZOR_REGISTRY_DIR=$WORK/reg-v2-whole zor_client_settings "$BIN/zorreg" "$ZOR_PORT_V2" "$RELEASE_KEY" 0 "$HOST"
  ZOR_REGISTRY_DIR=$WORK/reg-v2-whole "$BIN/zorreg" add 'HKLM\Software\ZOR\DK880' /v DeltaFetch \
    /t REG_DWORD /d 0 /f >/dev/null
  start_servers
  mkdir -p "$WORK/run" "$WORK/client-run"
  for version in v1 v2; do
    folder=$(new_folder warm)
    launch "$folder" "$version"
    rm -rf "$folder" "$folder".*
  done
  stop_servers
}

make_namespaces
make_releases
warm_up
for profile in $PROFILES; do bench_profile "$profile"; done

# ---- the table ----------------------------------------------------------------------------

# cell KEY: the median of a figure's runs, empty when there were none.
# shellcheck disable=SC2086 # the runs are a space-separated list
cell() { if [ -n "${R[$1]:-}" ]; then median ${R[$1]}; fi; }
# rx A B: A / B as "1.23x", empty when B is.
rx() { if [ -n "$2" ]; then echo "$(ratio "$1" "$2")x"; fi; }

echo
echo "Update over emulated links, $(date -u +%Y-%m-%d), $(nproc) cores, median of $REPEATS;" \
  "release: $V1_FILES files, $V1_MIB MiB; v2: $V2_CHANGED files edited, $V2_REMOVED removed, $V2_ADDED new"
for profile in $PROFILES; do echo "  link $profile: ${LINK_CHECK[$profile]}"; done
echo
echo "| link | scenario | launcher s | rsync -a s | rsync -az s | other s | launcher / rsync -a | launcher / rsync -az | goal |"
echo "|---|---|---|---|---|---|---|---|---|"
for profile in $PROFILES; do
  for scenario in full again incr cold; do
    l=$(cell "$profile.$scenario.launcher")
    ra=$(cell "$profile.$scenario.rsync-a")
    rz=$(cell "$profile.$scenario.rsync-az")
    other=
    g=
    case $scenario in
      full)
        name="full update"
        other="curl $(cell "$profile.full.curl")"
        case $profile in
          loopback)
            fs=$(cell "$profile.full.rsync-fsync")
            other+=", rsync -a --fsync $fs"
            g="<= 1.0x rsync -a --fsync: $(goal "$(ratio "$l" "$fs")" 1.0) ($(ratio "$l" "$fs")x); <= 2.0x rsync -a: $(goal "$(ratio "$l" "$ra")" 2.0)" ;;
          1g) g="<= 1.0x rsync -a: $(goal "$(ratio "$l" "$ra")" 1.0)" ;;
          100m | 20m) g="<= 0.9x rsync -az: $(goal "$(ratio "$l" "$rz")" 0.9)" ;;
        esac ;;
      again)
        name="nothing to change"
        g="<= 1.0x rsync -a: $(goal "$(ratio "$l" "$ra")" 1.0)" ;;
      incr)
        name="incremental v1 -> v2"
        w=$(cell "$profile.incrwhole.launcher")
        other="launcher with whole files $w ($(rx "$w" "$rz") rsync -az); launcher's full update $(cell "$profile.full.launcher") ($(rx "$l" "$(cell "$profile.full.launcher")"))"
        [ "$profile" = 20m ] && g="<= 1.0x rsync -az: $(goal "$(ratio "$l" "$rz")" 1.0)" ;;
      cold)
        name="full, cold pack cache"
        ra='' rz=''
        other="warm full $(cell "$profile.full.launcher")"
        g="<= 1.5x warm full: $(goal "$(ratio "$l" "$(cell "$profile.full.launcher")")" 1.5) ($(ratio "$l" "$(cell "$profile.full.launcher")")x)" ;;
    esac
    printf '| %s | %s | %s | %s | %s | %s | %s | %s | %s |\n' "$profile" "$name" "$l" "$ra" "$rz" \
      "$other" "$(rx "$l" "$ra")" "$(rx "$l" "$rz")" "$g"
  done
done
echo "| any | launcher peak memory | $PEAK_MIB MiB | | | | | | < 32 MiB: $(awk -v m="$PEAK_MIB" 'BEGIN { print (m < 32 ? "met" : "MISSED") }') |"
