#!/usr/bin/env bash
# The README's reference deployment, run for real on 127.0.0.1: three zorservers, each with
# its own copy of a signed release, behind HAProxy in TCP mode with the README's
# configuration (send-proxy-v2, an HTTP check of /ready), and headless launchers through it:
#   a) 50 launchers at once: each starts the main program, its folder is exactly the release;
#   b) a rolling release (drain at the balancer, copy, SIGHUP, wait for /ready, back in) while
#      launchers update: each starts the main program, its folder is exactly one release;
#   c) a backend killed with SIGKILL while launchers download: every launcher still starts;
#   d) a backend stopped with SIGSTOP: the health check marks it down within seconds and
#      launchers go on through the others;
#   e) /metrics: the figures moved.
# Prints a summary table; exits 1 when a check failed. Installs haproxy (and the tools it
# drives) with scripts/install-deps.sh and builds what it runs into build/.
#
#   bash scripts/scaleout-test.sh          (as root, or with the packages already installed)
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "$(id -u)" -eq 0 ]; then bash scripts/install-deps.sh haproxy socat rsync curl >/dev/null; fi
for tool in haproxy socat rsync curl; do
  command -v "$tool" >/dev/null || { echo "scaleout-test: needs $tool (run it as root once)" >&2; exit 2; }
done
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG" \
  "-DCMAKE_C_FLAGS_RELEASE=-O2 -DNDEBUG" >/dev/null
cmake --build build -j "$(nproc)" --target launcher demo-main zorserver zorreg zorrelease >/dev/null
BIN=$PWD/build/bin
source scripts/lib-zor.sh

STARTED_AT=$(date +%s)
WORK=$(mktemp -d /tmp/zor-scaleout.XXXXXX)
chmod 0755 "$WORK"
PIDS=()  # every process this script started and that may still run
SERVER_PID=("" "" "")
HAPROXY_PID=""
cleanup() {
  local pid
  for pid in "${SERVER_PID[@]}" "$HAPROXY_PID" "${PIDS[@]}"; do
    [ -n "$pid" ] || continue
    kill -CONT "$pid" 2>/dev/null || true
    kill -KILL "$pid" 2>/dev/null || true
  done
  for pid in "${SERVER_PID[@]}" "$HAPROXY_PID" "${PIDS[@]}"; do
    [ -n "$pid" ] && wait "$pid" 2>/dev/null || true
  done
  if [ -z "${ZOR_SCALEOUT_KEEP:-}" ]; then rm -rf "$WORK"; else echo "kept $WORK"; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM
step() { echo "== $(date +%T) $*"; }
RESULTS=()
result() {  # result NAME ok|FAIL DETAIL
  RESULTS+=("$(printf '%-34s %-5s %s' "$1" "$2" "$3")")
  echo "   -> $1: $2 $3"
}
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

step "two signed releases"
mkdir -m 700 "$WORK/keys"
RELEASE_KEY=$("$BIN/zorrelease" keygen "$WORK/keys/release.key")
V1=$WORK/release-v1
V2=$WORK/release-v2
mkdir -p "$V1/bpls" "$V1/Reports"
cp "$BIN/IClient" "$V1/IClient"
printf '[System]\r\nMainExe=IClient\r\n' >"$V1/ZORSys.ini"
for i in $(seq 1 30); do head -c $((2000 + i * 1500)) /dev/urandom >"$V1/Reports/report$i.dat"; done
for i in 1 2 3; do head -c 200000 /dev/urandom >"$V1/bpls/part$i.bpl"; done
# One large file, so that transfers run long enough to be cut.
head -c $((24 * 1024 * 1024)) /dev/urandom >"$V1/Large.dat"
find "$V1" -type f -exec touch -d '2026-01-01 10:00' {} +
"$BIN/zorrelease" sign --key "$WORK/keys/release.key" --release "$V1" >/dev/null
cp -a "$V1" "$V2"
printf '; release 2\r\n' >>"$V2/ZORSys.ini"
printf '\0' >>"$V2/IClient"
for i in 2 5 7 11 13 17 19 23 29 30; do head -c 3000 /dev/urandom >>"$V2/Reports/report$i.dat"; done
head -c $((24 * 1024 * 1024)) /dev/urandom >"$V2/Large.dat"
rm "$V2/bpls/part3.bpl"
head -c 50000 /dev/urandom >"$V2/bpls/part4.bpl"
find "$V2" -type f ! -name ZORRelease.manifest -newer "$V1/ZORSys.ini" -exec touch -d '2026-02-01 10:00' {} +
touch -d '2026-02-01 10:00' "$V2/ZORSys.ini" "$V2/IClient"
"$BIN/zorrelease" sign --key "$WORK/keys/release.key" --release "$V2" >/dev/null
# Both manifests were signed within a second and may have the same size: rsync's quick check
# (size and time) would take them for the same file, as it would for any such pair.
touch -d '2026-02-01 10:00' "$V2/ZORRelease.manifest"
"$BIN/zorrelease" verify --public "$RELEASE_KEY" --release "$V2" >/dev/null
# The release files a launcher's folder must hold (the manifest stays on the server), and
# nothing else but its own files (its record of the accepted release among them).
release_listing() { (cd "$1" && find . -type f ! -name ZORRelease.manifest | LC_ALL=C sort); }
release_listing "$V1" >"$WORK/v1.list"
release_listing "$V2" >"$WORK/v2.list"
OWN='^\./(Client|IClient\.started|DownLoadInfo\.dat|ZORRelease\.state|ZORRelease\.hashes|ZORRelease\.installed)$'

step "three zorservers, each with its own copy of release 1"
PORT=() HEALTH=()
for i in 0 1 2; do
  PORT[i]=$(free_port)
  HEALTH[i]=$(free_port)
  mkdir -p "$WORK/srv$i"
  # zor1 and zor3 serve versioned folders behind a link, zor2 a folder copied over in place.
  if [ "$i" = 1 ]; then
    cp -a "$V1" "$WORK/srv$i/release"
  else
    mkdir -p "$WORK/srv$i/releases"
    cp -a "$V1" "$WORK/srv$i/releases/v1"
    ln -s releases/v1 "$WORK/srv$i/release"
  fi
done
start_server() {  # start_server I
  local i=$1
  ZOR_REGISTRY_DIR=$WORK/srv$i/reg ZOR_RUNTIME_DIR=$WORK/srv$i/run \
    "$BIN/zorserver" --release "$WORK/srv$i/release" --port "${PORT[i]}" --bind 127.0.0.1 \
    --cache "$WORK/srv$i/cache" --pipe off --health-port "${HEALTH[i]}" --proxy-from 127.0.0.1 \
    --drain-timeout 60 >"$WORK/srv$i/out" 2>>"$WORK/srv$i/log" &
  SERVER_PID[i]=$!
  zor_wait_listening "${SERVER_PID[i]}" "$WORK/srv$i/out" "$WORK/srv$i/log"
}
ready_text() { curl -s --max-time 2 "http://127.0.0.1:${HEALTH[$1]}/ready" || true; }
wait_ready() {  # wait_ready I COUNTER
  for _ in $(seq 600); do
    ready_text "$1" | grep -q "release $2" && return 0
    sleep 0.1
  done
  echo "server $1 never became ready with release $2: $(ready_text "$1")" >&2
  tail -5 "$WORK/srv$1/log" >&2
  return 1
}
metric() {  # metric I NAME{LABELS}: the value, 0 when absent
  curl -s --max-time 2 "http://127.0.0.1:${HEALTH[$1]}/metrics" | awk -v n="$2" '$1 == n { print $2; f = 1 } END { if (!f) print 0 }'
}
for i in 0 1 2; do mkdir -p "$WORK/srv$i/reg" "$WORK/srv$i/run"; start_server "$i"; done
for i in 0 1 2; do wait_ready "$i" 1; done
for i in 0 1 2; do curl -s "http://127.0.0.1:${HEALTH[i]}/metrics" >"$WORK/metrics-before-$i"; done

step "HAProxy with the README's configuration"
FRONT=$(free_port)
# The README's block, taken from the README itself, with loopback addresses and ports.
awk '/^```$/ { inside = !inside; next } inside && /^defaults/ { take = 1 } take && inside { print } take && !inside { exit }' README.md >"$WORK/readme.cfg"
grep -q 'send-proxy-v2' "$WORK/readme.cfg" || { echo "no HAProxy configuration found in README.md" >&2; exit 1; }
{
  printf 'global\n    stats socket %s mode 600 level admin\n\n' "$WORK/haproxy.sock"
  sed -e "s|^    bind :768|    bind 127.0.0.1:$FRONT|" -e '/^    server zor/d' -e 's/ port 8768//' "$WORK/readme.cfg"
  for i in 0 1 2; do echo "    server zor$((i + 1)) 127.0.0.1:${PORT[i]} check port ${HEALTH[i]}"; done
} >"$WORK/haproxy.cfg"
haproxy -c -f "$WORK/haproxy.cfg" >/dev/null
haproxy -db -f "$WORK/haproxy.cfg" >"$WORK/haproxy.log" 2>&1 &
HAPROXY_PID=$!
haproxy_cmd() { echo "$1" | socat stdio "unix-connect:$WORK/haproxy.sock"; }
backend_status() {  # backend_status zorN: UP, DOWN, DRAIN, ...
  haproxy_cmd "show stat" | awk -F, -v s="$1" '$1 == "zor_servers" && $2 == s { print $18 }'
}
for _ in $(seq 100); do
  [ -S "$WORK/haproxy.sock" ] && [ "$(haproxy_cmd "show stat" | grep -c '^zor_servers,zor[0-9],.*,UP,')" = 3 ] && break
  sleep 0.1
done
for s in zor1 zor2 zor3; do
  [ "$(backend_status $s)" = UP ] || { cat "$WORK/haproxy.log"; echo "HAProxy does not see $s up" >&2; exit 1; }
done

# Launchers: each in a client folder of its own with its own settings and run-time folders.
mkdir -p "$WORK/reg-template"
ZOR_REGISTRY_DIR=$WORK/reg-template zor_client_settings "$BIN/zorreg" "$FRONT" "$RELEASE_KEY" 0
start_launcher() {  # start_launcher NAME: runs in the background, records its exit and time
  local dir=$WORK/clients/$1
  mkdir -p "$dir/folder" "$dir/run"
  [ -d "$dir/reg" ] || cp -r "$WORK/reg-template" "$dir/reg"
  [ -x "$dir/folder/Client" ] || cp "$BIN/Client" "$dir/folder/Client"
  rm -f "$dir/folder/IClient.started" "$dir/rc"
  (
    cd "$dir/folder"
    begin=$(date +%s.%N)
    rc=0
    ZOR_UI=headless ZOR_LCID=1033 ZOR_REGISTRY_DIR=$dir/reg ZOR_RUNTIME_DIR=$dir/run \
      XDG_CACHE_HOME=$dir/cache timeout 300 ./Client >"$dir/log" 2>&1 || rc=$?
    echo "$rc $(echo "$(date +%s.%N) - $begin" | bc)" >"$dir/rc"
  ) &
  PIDS+=($!)
}
wait_launchers() { local pid; for pid in "${PIDS[@]}"; do wait "$pid" 2>/dev/null || true; done; PIDS=(); }
# check_launchers NAMES...: prints "ok", or the faults; a folder must be exactly release 1 or 2.
FAULTS=$WORK/faults
check_launchers() {
  local name dir fault=0 which slowest=0 t
  : >"$FAULTS"
  for name in "$@"; do
    dir=$WORK/clients/$name
    read -r rc t <"$dir/rc" || { echo "$name: no exit record" >>"$FAULTS"; continue; }
    slowest=$(echo "if ($t > $slowest) $t else $slowest" | bc)
    for _ in $(seq 50); do [ -s "$dir/folder/IClient.started" ] && break; sleep 0.1; done
    if ! grep -q " /NetMode$" "$dir/folder/IClient.started" 2>/dev/null; then
      echo "$name: the main program did not start (exit $rc): $(grep -v '^$' "$dir/log" | tail -1)" >>"$FAULTS"
      continue
    fi
    (cd "$dir/folder" && find . -type f | grep -Ev "$OWN" | LC_ALL=C sort) >"$dir/list"
    which=""
    for v in 1 2; do
      local release=$V1
      [ $v = 2 ] && release=$V2
      if cmp -s "$dir/list" "$WORK/v$v.list" &&
        (cd "$release" && while read -r f; do cmp -s "$f" "$dir/folder/$f" || exit 1; done <"$WORK/v$v.list"); then
        which=$v
      fi
    done
    if [ -z "$which" ]; then
      echo "$name: the folder is not exactly one release" >>"$FAULTS"
    else
      echo "$which" >"$dir/release"
    fi
  done
  SLOWEST=$(printf "%.1f" "$slowest")
  [ ! -s "$FAULTS" ]
}
count_release() {  # count_release V NAMES...
  local v=$1 n=0 name
  shift
  for name in "$@"; do [ "$(cat "$WORK/clients/$name/release" 2>/dev/null)" = "$v" ] && n=$((n + 1)); done
  echo "$n"
}

step "a) 50 launchers at once through the balancer"
A=()
for i in $(seq -w 1 50); do A+=("a$i"); done
phase_begin=$(date +%s)
for name in "${A[@]}"; do start_launcher "$name"; done
wait_launchers
if check_launchers "${A[@]}" && [ "$(count_release 1 "${A[@]}")" = 50 ]; then
  result "a) 50 at once via send-proxy-v2" ok "50/50 started, release 1 exact; $(($(date +%s) - phase_begin)) s, slowest ${SLOWEST} s"
else
  result "a) 50 at once via send-proxy-v2" FAIL "$(wc -l <"$FAULTS") faults: $(head -3 "$FAULTS" | paste -sd ';')"
fi
# The servers saw the launchers' own addresses (127.0.0.1 here as well, but through the header).
proxied=0
for i in 0 1 2; do proxied=$((proxied + $(metric "$i" 'zor_refusals_total{reason="proxy_header"}'))); done

step "b) a rolling release while launchers update"
roll_one() {  # roll_one I: the README's roll-out steps for one server
  local i=$1 s=zor$(($1 + 1))
  haproxy_cmd "set server zor_servers/$s state drain" >/dev/null
  if [ -L "$WORK/srv$i/release" ]; then
    # A new versioned folder, switched at once: no wait for the launchers it serves.
    cp -a "$V2" "$WORK/srv$i/releases/v2"
    ln -sfn releases/v2 "$WORK/srv$i/release"
  else
    # Copied over in place: every file a launcher fetches meanwhile could belong to neither
    # release, so the copy waits until the balancer's drain left the server no connection.
    for _ in $(seq 1200); do
      [ "$(metric "$i" zor_connections)" = 0 ] && break
      sleep 0.1
    done
    echo "$(date +%T.%N) zor$((i + 1)) has $(metric "$i" zor_connections) connections; copying"
    rsync -a --delete "$V2/" "$WORK/srv$i/release/"
  fi
  kill -HUP "${SERVER_PID[i]}"
  wait_ready "$i" 2
  haproxy_cmd "set server zor_servers/$s state ready" >/dev/null
}
B=()
phase_begin=$(date +%s)
roll_log=$WORK/roll.log
(
  for i in 0 1 2; do
    sleep 2
    echo "$(date +%T.%N) rolling zor$((i + 1))"
    roll_one "$i"
    echo "$(date +%T.%N) zor$((i + 1)) on release 2"
  done
) >"$roll_log" 2>&1 &
ROLL_PID=$!
PIDS+=("$ROLL_PID")
# Waves of launchers all through the roll-out: half from empty folders, half from release 1.
wave=0
while kill -0 "$ROLL_PID" 2>/dev/null && [ $wave -lt 20 ]; do
  wave=$((wave + 1))
  for k in 1 2 3; do B+=("b$wave-new$k"); start_launcher "b$wave-new$k"; done
  for k in 1 2 3; do
    old=a$(printf '%02d' $(((wave * 3 + k) % 50 + 1)))
    [ -e "$WORK/clients/$old/used" ] && continue
    touch "$WORK/clients/$old/used"
    B+=("$old")
    start_launcher "$old"
  done
  sleep 1
done
if wait "$ROLL_PID"; then
  result "b) roll-out steps of the README" ok "$(grep -c 'on release 2' "$roll_log") servers switched"
else
  result "b) roll-out steps of the README" FAIL "$(tail -2 "$roll_log" | paste -sd ';')"
fi
wait_launchers
# After the roll-out every launcher ends on release 2.
AFTER=()
for k in $(seq 1 6); do AFTER+=("b-after$k"); start_launcher "b-after$k"; done
wait_launchers
if check_launchers "${B[@]}"; then
  result "b) rolling release, ${#B[@]} launchers" ok "all started, each exactly one release (v1: $(count_release 1 "${B[@]}"), v2: $(count_release 2 "${B[@]}")); $(($(date +%s) - phase_begin)) s"
else
  result "b) rolling release, ${#B[@]} launchers" FAIL "$(wc -l <"$FAULTS") faults: $(head -3 "$FAULTS" | paste -sd ';')"
fi
if check_launchers "${AFTER[@]}" && [ "$(count_release 2 "${AFTER[@]}")" = 6 ]; then
  result "b) after the roll-out" ok "6/6 on release 2"
else
  result "b) after the roll-out" FAIL "$(head -3 "$FAULTS" | paste -sd ';')"
fi

step "c) a backend killed with SIGKILL while launchers download"
served_before=()
for i in 0 1 2; do served_before[i]=$(metric "$i" zor_served_bytes_total); done
C=()
for k in $(seq 1 12); do C+=("c$k"); start_launcher "c$k"; done
# The victim: a backend with open connections that has sent 2 MB since these launchers began.
victim=""
for _ in $(seq 400); do
  for i in 0 1 2; do
    now=$(metric "$i" zor_served_bytes_total)
    if [ "$(metric "$i" zor_connections)" != 0 ] && [ "$((${now%.*} - ${served_before[i]%.*}))" -gt 2000000 ]; then
      victim=$i
      victim_connections=$(metric "$i" zor_connections)
      break 2
    fi
  done
  sleep 0.02
done
if [ -n "$victim" ]; then
  kill -KILL "${SERVER_PID[victim]}"
  wait "${SERVER_PID[victim]}" 2>/dev/null || true
  echo "killed zor$((victim + 1)) with $victim_connections connections open"
fi
wait_launchers
if [ -z "$victim" ]; then
  result "c) backend SIGKILLed mid-transfer" FAIL "no backend was found sending files to kill"
elif check_launchers "${C[@]}" && [ "$(count_release 2 "${C[@]}")" = 12 ]; then
  result "c) backend SIGKILLed mid-transfer" ok "zor$((victim + 1)) killed with $victim_connections connections, 12/12 started on release 2"
else
  result "c) backend SIGKILLed mid-transfer" FAIL "$(head -3 "$FAULTS" | paste -sd ';')"
fi
if [ -n "$victim" ]; then
  start_server "$victim"
  wait_ready "$victim" 2
fi

step "d) a backend stopped with SIGSTOP"
for _ in $(seq 100); do
  [ "$(haproxy_cmd "show stat" | grep -c '^zor_servers,zor[0-9],.*,UP,')" = 3 ] && break
  sleep 0.1
done
stopped=1
kill -STOP "${SERVER_PID[stopped]}"
stop_at=$(date +%s.%N)
down_after=""
for _ in $(seq 300); do
  if [ "$(backend_status zor$((stopped + 1)))" = DOWN ]; then
    down_after=$(echo "$(date +%s.%N) - $stop_at" | bc)
    break
  fi
  sleep 0.1
done
D=()
for k in $(seq 1 9); do D+=("d$k"); rm -rf "$WORK/clients/d$k"; start_launcher "d$k"; done
wait_launchers
kill -CONT "${SERVER_PID[stopped]}"
if [ -z "$down_after" ]; then
  result "d) SIGSTOPped backend" FAIL "HAProxy did not mark it down within 30 s"
elif check_launchers "${D[@]}"; then
  result "d) SIGSTOPped backend" ok "down after $(printf '%.1f' "$down_after") s; 9/9 started after, slowest ${SLOWEST} s"
else
  result "d) SIGSTOPped backend" FAIL "down after ${down_after} s; $(head -3 "$FAULTS" | paste -sd ';')"
fi

step "e) the metrics"
moved=""
for i in 0 1 2; do
  [ "$i" = "${victim:-x}" ] && continue  # restarted: its figures began again
  curl -s "http://127.0.0.1:${HEALTH[i]}/metrics" >"$WORK/metrics-after-$i"
  b=$(awk '$1 == "zor_served_bytes_total" { print $2 }' "$WORK/metrics-before-$i")
  a=$(awk '$1 == "zor_served_bytes_total" { print $2 }' "$WORK/metrics-after-$i")
  c=$(awk '$1 == "zor_release_counter" { print $2 }' "$WORK/metrics-after-$i")
  moved+="zor$((i + 1)): bytes ${b:-?}->${a:-?}, release ${c:-?}; "
  if [ -z "$a" ] || [ -z "$b" ] || [ "$(echo "$a > $b" | bc)" != 1 ] || [ "$c" != 2 ]; then moved+="(NOT MOVED) "; fi
done
if [[ $moved == *"NOT MOVED"* ]]; then
  result "e) /metrics moved" FAIL "$moved"
else
  result "e) /metrics moved" ok "$moved"
fi
[ "$proxied" = 0 ] || result "PROXY headers refused" FAIL "$proxied"

echo
echo "scale-out test on 127.0.0.1 ($(($(date +%s) - STARTED_AT)) s; HAProxy $(haproxy -v | head -1 | awk '{print $3}'))"
printf '%s\n' "${RESULTS[@]}"
if printf '%s\n' "${RESULTS[@]}" | grep -q ' FAIL '; then exit 1; fi
