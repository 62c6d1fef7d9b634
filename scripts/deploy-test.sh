#!/usr/bin/env bash
# The README's "Deploying" steps, run in a fresh Debian 12 root made with debootstrap from
# Debian's packages: installs zor-server and zor-client with apt, puts a release together,
# signs it with the shipped commands, starts zorserver as zorserver.service would (its
# user, environment, options, folders and capability, read from the installed unit), lets
# an ordinary user start the launcher headless through zor-client so that it updates from
# the signed release and starts the main program, sets up the machine-wide client copy
# (zor-client-update as its unit runs it) from which a second user starts the main program
# without changing it, then purges both packages and lists what is left. Needs root (chroot, mounts) and the network (debootstrap, apt).
#
#   bash scripts/deploy-test.sh [zor-server_*.deb zor-client_*.deb zor-common_*.deb]
#
# Without package files it builds them with scripts/package.sh (ZOR_PACKAGE_BUILD_DIR=build
# packages the test build instead, in about a minute). The debootstrapped root is
# kept as a tarball in $ZOR_DEPLOY_CACHE (default /var/cache/zor-deploy-test) for the next
# run. The server listens on 127.0.0.1 only (set in its options file, as the README
# allows); the unit's sandbox (ProtectSystem= and the rest) is not reproduced, only its
# user, capability, environment and folders.
set -euo pipefail
cd "$(dirname "$0")/.."
[ "$(id -u)" -eq 0 ] || { echo "deploy-test: run it as root" >&2; exit 2; }

SUITE=bookworm
MIRROR=${ZOR_DEPLOY_MIRROR:-http://deb.debian.org/debian}
CACHE=${ZOR_DEPLOY_CACHE:-/var/cache/zor-deploy-test}
TARBALL=$CACHE/$SUITE-minbase.tar.gz
WORK=$(mktemp -d /tmp/zor-deploy.XXXXXX)
ROOT=$WORK/root
SERVER_PID=""
installed_debootstrap=""

in_root() { chroot "$ROOT" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "$@"; }
cleanup() {
  if [ -n "$SERVER_PID" ]; then kill "$SERVER_PID" 2>/dev/null || true; wait "$SERVER_PID" 2>/dev/null || true; fi
  for mount in run dev/pts dev proc; do
    if mountpoint -q "$ROOT/$mount" 2>/dev/null; then umount -l "$ROOT/$mount"; fi
  done
  rm -rf "$WORK"
  # Tools this script installed on the machine go again.
  if [ -n "$installed_debootstrap" ]; then apt-get purge -y -qq debootstrap >/dev/null || true; fi
}
trap cleanup EXIT
step() { echo "== $*"; }
fail() { echo "FAIL: $*" >&2; exit 1; }

if [ $# -eq 3 ]; then
  SERVER_DEB=$(realpath "$1")
  CLIENT_DEB=$(realpath "$2")
  COMMON_DEB=$(realpath "$3")
else
  step "packages (scripts/package.sh)"
  bash scripts/package.sh
  DEBS=${ZOR_PACKAGE_BUILD_DIR:-build-package}/deb
  SERVER_DEB=$(realpath "$DEBS"/zor-server_*.deb)
  CLIENT_DEB=$(realpath "$DEBS"/zor-client_*.deb)
  COMMON_DEB=$(realpath "$DEBS"/zor-common_*.deb)
fi
# The stand-in main program the release starts (a suite's own program in a real deployment).
MAIN=${ZOR_DEPLOY_MAIN:-build/bin/IClient}
[ -x "$MAIN" ] || fail "no main program $MAIN: build IClient first (cmake --build build --target IClient)"

step "a clean Debian $SUITE root"
mkdir -p "$ROOT"
if [ ! -s "$TARBALL" ]; then
  if ! command -v debootstrap >/dev/null; then
    apt-get install -y -qq debootstrap >/dev/null
    installed_debootstrap=yes
  fi
  debootstrap --variant=minbase "$SUITE" "$ROOT" "$MIRROR" >"$WORK/debootstrap.log" 2>&1 ||
    { tail -20 "$WORK/debootstrap.log"; fail "debootstrap"; }
  rm -rf "$ROOT"/var/cache/apt/archives/*.deb
  mkdir -p "$CACHE"
  tar -C "$ROOT" -czf "$TARBALL.tmp" . && mv "$TARBALL.tmp" "$TARBALL"
else
  tar -C "$ROOT" -xzf "$TARBALL"
fi
chmod 0755 "$ROOT"  # "/" of the root, readable by its users whatever mktemp made
mount -t proc proc "$ROOT/proc"
mount --bind /dev "$ROOT/dev"
mount --bind /dev/pts "$ROOT/dev/pts"
mount -t tmpfs -o mode=0755 tmpfs "$ROOT/run"
cp /etc/resolv.conf "$ROOT/etc/resolv.conf"
# What the root holds before the packages: the list "left afterwards" is compared with it.
listing() { (cd "$ROOT" && find . -xdev \( -path ./proc -o -path ./dev -o -path ./run -o -path ./tmp -o -path ./var/cache/apt -o -path ./var/lib/apt/lists \) -prune -o -print | LC_ALL=C sort); }
listing >"$WORK/before"
in_root apt-get update -qq >/dev/null
mkdir -p "$ROOT/tmp/debs"
cp "$SERVER_DEB" "$CLIENT_DEB" "$COMMON_DEB" "$ROOT/tmp/debs/"
cp "$MAIN" "$ROOT/tmp/IClient"

step "server: apt install ./zor-server_*.deb"
in_root sh -c 'cd /tmp/debs && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq ./zor-common_*.deb ./zor-server_*.deb' >"$WORK/apt-server.log" 2>&1 ||
  { cat "$WORK/apt-server.log"; fail "installing zor-server"; }
in_root getent passwd zor >/dev/null || fail "no user zor after installing zor-server"

# The options file keeps its defaults, listens on the loopback address only, and names a
# log file and an upload folder where its comments say the service may write.
sed -i 's|^ZORSERVER_OPTIONS="\(.*\)"$|ZORSERVER_OPTIONS="\1 --bind 127.0.0.1 --log-file /var/log/zor/zorserver.log --upload /var/lib/zor/upload"|' "$ROOT/etc/zor/zorserver.conf"
grep -q -- '--bind 127.0.0.1 ' "$ROOT/etc/zor/zorserver.conf" || fail "could not change the options in zorserver.conf"

# zorserver as zorserver.service starts it, from the installed unit: its user and group,
# its environment and options file, the folders it makes and the capability it grants.
UNIT=$ROOT/lib/systemd/system/zorserver.service
unit_value() { sed -n "s/^$1=//p" "$UNIT"; }
start_as_unit() {
  local user group caps env=() dir
  user=$(unit_value User)
  group=$(unit_value Group)
  caps=$(unit_value AmbientCapabilities | tr 'A-Z ' 'a-z\n' | sed -n 's/^cap_/+/p' | paste -sd,)
  while read -r line; do
    eval "set -- $line"
    env+=("$@")
  done < <(unit_value Environment)
  for dir in $(unit_value RuntimeDirectory); do install -d -m "$(unit_value RuntimeDirectoryMode)" -o "$(in_root id -u "$user")" -g "$(in_root id -g "$user")" "$ROOT/run/$dir"; done
  for dir in $(unit_value LogsDirectory); do install -d -m "$(unit_value LogsDirectoryMode)" -o "$(in_root id -u "$user")" -g "$(in_root id -g "$user")" "$ROOT/var/log/$dir"; done
  for dir in $(unit_value StateDirectory); do install -d -m "$(unit_value StateDirectoryMode)" -o "$(in_root id -u "$user")" -g "$(in_root id -g "$user")" "$ROOT/var/lib/$dir"; done
  local file exec
  file=$(unit_value EnvironmentFile)
  exec=$(unit_value ExecStart)
  chroot "$ROOT" setpriv --reuid="$user" --regid="$group" --init-groups \
    --inh-caps=-all,"$caps" --ambient-caps=-all,"$caps" --bounding-set=-all,"$caps" \
    /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/var/lib/zor LANG=C.UTF-8 "${env[@]}" \
    sh -c "umask $(unit_value UMask); if [ -r ${file#-} ]; then set -a; . ${file#-}; set +a; fi; exec $exec" \
    >"$WORK/server.out" 2>"$WORK/server.log" &
  SERVER_PID=$!
}
# The unit's ExecReload= (kill -HUP), and a wait for a line of the server's log.
reload_server() { kill -HUP "$SERVER_PID"; }
wait_for_log() {  # wait_for_log PATTERN FILE
  for _ in $(seq 100); do
    grep -qs "$1" "$2" && return 0
    kill -0 "$SERVER_PID" 2>/dev/null || break
    sleep 0.1
  done
  cat "$WORK/server.log" >&2
  fail "zorserver never logged '$1'"
}

step "zorserver-check, then the service (empty release, as after the install)"
in_root zorserver-check || fail "zorserver-check found a problem"
if in_root zorserver-check --upload /srv/upload >"$WORK/check.out"; then
  fail "zorserver-check accepted an upload folder the unit may not write"
fi
grep -q 'ReadWritePaths=/srv/upload' "$WORK/check.out" || { cat "$WORK/check.out"; fail "zorserver-check did not name the drop-in"; }
start_as_unit
wait_for_log "listening on 127.0.0.1:768" "$WORK/server.out"
cat "$WORK/server.out"
wait_for_log "Serving /var/lib/zor/release" "$ROOT/var/log/zor/zorserver.log"

step "the release: files, ZORSys.ini, signature"
cp "$ROOT/tmp/IClient" "$ROOT/var/lib/zor/release/IClient"
head -c 200000 /dev/urandom >"$ROOT/var/lib/zor/release/Reports.dat"
printf '[System]\r\nMainExe=IClient\r\n' >"$ROOT/var/lib/zor/release/ZORSys.ini"
in_root install -d -m 0700 /root/zor-keys
in_root sh -c 'zorrelease keygen /root/zor-keys/release.key >/root/zor-keys/release.pub'
in_root zorrelease sign --key /root/zor-keys/release.key --release /var/lib/zor/release
in_root zorrelease verify --public /root/zor-keys/release.pub --release /var/lib/zor/release
reload_server
wait_for_log "matches its manifest" "$WORK/server.log"

step "client: apt install ./zor-client_*.deb, settings with zorreg"
in_root sh -c 'cd /tmp/debs && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq ./zor-common_*.deb ./zor-client_*.deb' >"$WORK/apt-client.log" 2>&1 ||
  { cat "$WORK/apt-client.log"; fail "installing zor-client"; }
grep 'has no "ReleaseKey"' "$WORK/apt-client.log" || fail "installing zor-client did not say that no ReleaseKey is set"
in_root dpkg -s fonts-wqy-microhei >/dev/null || fail "the recommended font was not installed"
in_root zorreg add 'HKLM\Software\ZOR\DK880' /v NetServer /t REG_SZ /d 127.0.0.1 /f
in_root zorreg add 'HKLM\Software\ZOR\DK880' /v ShowNextTime /t REG_DWORD /d 1 /f
in_root sh -c "zorreg add 'HKLM\\Software\\ZOR\\DK880' /v ReleaseKey /t REG_SZ /d \"\$(cat /root/zor-keys/release.pub)\" /f"

step "an ordinary user starts zor-client"
in_root useradd --create-home --shell /bin/sh alice
as_alice() {
  chroot --userspec=alice:alice "$ROOT" /usr/bin/env -i PATH=/usr/bin:/bin HOME=/home/alice \
    LANG=C.UTF-8 "$@"
}
run_client() { as_alice ZOR_UI=headless ZOR_LCID=1033 zor-client; }
run_client >"$WORK/client.log" 2>&1 || { cat "$WORK/client.log"; fail "zor-client exited with $?"; }
cat "$WORK/client.log"
CLIENT_DIR=$ROOT/home/alice/.local/share/zor/client
# What the client saw, for a failure below.
client_state() {
  echo "-- the client folder:"; ls -la "$CLIENT_DIR" || true
  echo "-- the machine settings:"; cat "$ROOT/etc/zor/HKLM.reg" || true
  echo "-- the user's settings:"; cat "$ROOT/home/alice/.config/zor/HKCU.reg" 2>/dev/null || echo none
  echo "-- the server's log:"; tail -20 "$ROOT/var/log/zor/zorserver.log" || true
}
for f in IClient Reports.dat ZORSys.ini; do
  cmp -s "$ROOT/var/lib/zor/release/$f" "$CLIENT_DIR/$f" || { client_state; fail "the client's $f is not the release's"; }
done
[ -f "$CLIENT_DIR/ZORRelease.state" ] || fail "the launcher did not accept the signed release"
for _ in $(seq 50); do [ -s "$CLIENT_DIR/IClient.started" ] && break; sleep 0.1; done
grep -q " /NetMode$" "$CLIENT_DIR/IClient.started" || fail "the main program was not started with /NetMode"
echo "the launcher updated from the signed release and started: $(cat "$CLIENT_DIR/IClient.started")"
if grep -q "not verified" "$WORK/client.log"; then fail "the launcher says the release is not verified"; fi

step "one copy for the whole machine: zor-client-update as its unit runs it, then another user"
in_root zorreg add 'HKLM\Software\ZOR\DK880' /v MachineClientFolder /t REG_SZ /d /var/lib/zor-client/client /f
# The updater as zor-client-update.service starts it, from the installed unit: its user,
# environment, umask and the folders it makes (the sandbox is not reproduced).
CUNIT=$ROOT/lib/systemd/system/zor-client-update.service
cunit_value() { sed -n "s/^$1=//p" "$CUNIT"; }
cuser=$(cunit_value User)
cuid=$(in_root id -u "$cuser")
cgid=$(in_root id -g "$cuser")
for dir in $(cunit_value StateDirectory); do install -d -m "$(cunit_value StateDirectoryMode)" -o "$cuid" -g "$cgid" "$ROOT/var/lib/$dir"; done
for dir in $(cunit_value RuntimeDirectory); do install -d -m "$(cunit_value RuntimeDirectoryMode)" -o "$cuid" -g "$cgid" "$ROOT/run/$dir"; done
cenv=()
while read -r line; do
  eval "set -- $line"
  cenv+=("$@")
done < <(cunit_value Environment)
chroot "$ROOT" setpriv --reuid="$cuser" --regid="$(cunit_value Group)" --init-groups \
  /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 ZOR_LCID=1033 "${cenv[@]}" \
  sh -c "umask $(cunit_value UMask); exec $(cunit_value ExecStart)" >"$WORK/update.log" 2>&1 ||
  { cat "$WORK/update.log"; fail "zor-client-update exited with $?"; }
MACHINE_DIR=$ROOT/var/lib/zor-client/client
for f in IClient Reports.dat ZORSys.ini; do
  cmp -s "$ROOT/var/lib/zor/release/$f" "$MACHINE_DIR/$f" || { cat "$WORK/update.log"; ls -la "$MACHINE_DIR"; fail "the machine copy's $f is not the release's"; }
done
[ ! -e "$MACHINE_DIR/IClient.started" ] || fail "the machine copy's update started the main program"
in_root useradd --create-home --shell /bin/sh bob
machine_listing() { (cd "$MACHINE_DIR" && find . -printf '%p %s %T@ %u %m\n' | LC_ALL=C sort); }
machine_listing >"$WORK/machine.before"
chroot --userspec=bob:bob "$ROOT" /usr/bin/env -i PATH=/usr/bin:/bin HOME=/home/bob LANG=C.UTF-8 \
  ZOR_UI=headless ZOR_LCID=1033 ZOR_DEMO_STARTED=/home/bob/IClient.started zor-client >"$WORK/bob.log" 2>&1 ||
  { cat "$WORK/bob.log"; fail "zor-client from the machine copy exited with $?"; }
cat "$WORK/bob.log"
for _ in $(seq 50); do [ -s "$ROOT/home/bob/IClient.started" ] && break; sleep 0.1; done
grep -q " /NetMode$" "$ROOT/home/bob/IClient.started" || fail "the main program was not started from the machine copy"
machine_listing >"$WORK/machine.after"
diff "$WORK/machine.before" "$WORK/machine.after" || fail "a user's launcher changed the machine copy"
[ ! -e "$ROOT/home/bob/.local/share/zor/client" ] || fail "bob got a client folder of his own"
echo "another user started the main program from the machine copy, which stayed as it was"

step "purge both packages"
kill "$SERVER_PID"
wait "$SERVER_PID" || true
SERVER_PID=""
in_root sh -c 'DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq zor-client zor-server zor-common && apt-get autoremove --purge -y -qq' >"$WORK/purge.log" 2>&1 ||
  { cat "$WORK/purge.log"; fail "purging"; }
umount -l "$ROOT/run"
echo "the users zor and zorclient after the purge (they stay, as the README says): $(in_root getent passwd zor zorclient || echo gone)"
listing >"$WORK/after"
echo "left afterwards (new since the clean root):"
LC_ALL=C comm -13 "$WORK/before" "$WORK/after" | sed 's|^\./|/|' | tee "$WORK/left"
if grep -E '^/(etc/zor|var/lib/zor|var/lib/zor-client|var/cache/zor|var/log/zor|usr/lib/zor|usr/share/zor-client|var/lib/zor-hives)(/|$)' "$WORK/left"; then
  fail "the purge left files of the packages (above)"
fi
echo "deployment test passed"
