#!/usr/bin/env bash
# Checks the built packages without installing them: the file list and modes of each, the
# service units (systemd-analyze verify on the unpacked tree), and what the maintainer
# scripts do in a scratch root ($DPKG_ROOT; nothing on this machine is touched, installed
# packages included): install creates the user and the folders; remove keeps every folder;
# purge deletes the release, the cache, the logs and the settings the packages made, and
# keeps settings that were there before.
# Usage: check-packages.sh zor-server_*.deb zor-client_*.deb zor-common_*.deb
set -euo pipefail
SERVER_DEB=$1
CLIENT_DEB=$2
COMMON_DEB=$3
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# "mode owner path" of every entry, directories left out.
listing() {
  dpkg-deb -c "$1" | awk '$1 !~ /^d/ { sub(/^\.\//, "", $6); print $1, $2, $6 ($7 == "->" ? " -> " $8 : "") }' | sort
}
expect_listing() {  # expect_listing DEB EXPECTED_FILE
  if ! diff -u "$2" <(listing "$1") >"$WORK/diff"; then
    fail "$(basename "$1"): file list differs (- expected, + found)"
    cat "$WORK/diff"
  fi
}

echo "-- file lists and permissions"
sort >"$WORK/server.expected" <<'LIST'
-rw-r--r-- root/root etc/logrotate.d/zor-server
-rw-r--r-- root/root etc/zor/zorserver.conf
-rw-r--r-- root/root lib/systemd/system/zorserver.service
-rwxr-xr-x root/root usr/bin/zorrelease
-rw-r--r-- root/root usr/share/man/man1/zorrelease.1.gz
-rwxr-xr-x root/root usr/sbin/zorserver
-rwxr-xr-x root/root usr/sbin/zorserver-check
-rw-r--r-- root/root usr/share/doc/zor-server/changelog.gz
-rw-r--r-- root/root usr/share/doc/zor-server/copyright
-rw-r--r-- root/root usr/share/man/man8/zorserver.8.gz
-rw-r--r-- root/root usr/share/man/man8/zorserver-check.8.gz
LIST
expect_listing "$SERVER_DEB" "$WORK/server.expected"
sort >"$WORK/client.expected" <<'LIST'
-rw-r--r-- root/root lib/systemd/system/zor-client-update.service
-rw-r--r-- root/root lib/systemd/system/zor-client-update.timer
-rwxr-xr-x root/root usr/bin/zor-client
-rwxr-xr-x root/root usr/lib/zor/zor-client-update
-rwxr-xr-x root/root usr/lib/zor/client/Client
-rw-r--r-- root/root usr/lib/zor/client/M880CloudClient.dll
-rw-r--r-- root/root usr/share/applications/zor-client.desktop
-rw-r--r-- root/root usr/share/doc/zor-client/changelog.gz
-rw-r--r-- root/root usr/share/doc/zor-client/copyright
-rw-r--r-- root/root usr/share/icons/hicolor/scalable/apps/zor-client.svg
-rw-r--r-- root/root usr/share/man/man1/Client.1.gz
lrwxrwxrwx root/root usr/share/man/man1/zor-client.1.gz -> Client.1.gz
-rw-r--r-- root/root usr/share/zor-client/HKLM.reg
LIST
expect_listing "$CLIENT_DEB" "$WORK/client.expected"
sort >"$WORK/common.expected" <<'LIST'
-rwxr-xr-x root/root usr/bin/zorreg
-rw-r--r-- root/root usr/share/doc/zor-common/changelog.gz
-rw-r--r-- root/root usr/share/doc/zor-common/copyright
-rw-r--r-- root/root usr/share/man/man1/zorreg.1.gz
LIST
expect_listing "$COMMON_DEB" "$WORK/common.expected"
# zorreg reaches both sides through the common package.
for deb in "$SERVER_DEB" "$CLIENT_DEB"; do
  dpkg-deb -f "$deb" Depends | grep -q 'zor-common (= ' || fail "$(basename "$deb") does not depend on zor-common"
done
for deb in "$SERVER_DEB" "$CLIENT_DEB"; do
  [ "$(dpkg-deb -f "$deb" Depends | grep -c adduser)" = 1 ] || fail "$(basename "$deb") does not depend on adduser"
done

echo "-- control files"
for deb in "$SERVER_DEB" "$CLIENT_DEB"; do
  name=$(dpkg-deb -f "$deb" Package)
  mkdir -p "$WORK/control/$name"
  dpkg-deb -e "$deb" "$WORK/control/$name"
done
for script in postinst prerm postrm; do
  [ -x "$WORK/control/zor-server/$script" ] || fail "zor-server: $script missing or not executable"
done
for script in postinst prerm postrm; do
  [ -x "$WORK/control/zor-client/$script" ] || fail "zor-client: $script missing or not executable"
done
[ "$(cat "$WORK/control/zor-server/conffiles")" = $'/etc/logrotate.d/zor-server\n/etc/zor/zorserver.conf' ] || fail "zor-server: conffiles"
[ "$(dpkg-deb -f "$CLIENT_DEB" Recommends)" = fonts-wqy-microhei ] || fail "zor-client does not recommend fonts-wqy-microhei"
for f in "$WORK"/control/*/p*; do sh -n "$f" || fail "$f: syntax"; done

echo "-- service units"
dpkg-deb -x "$SERVER_DEB" "$WORK/root"
dpkg-deb -x "$CLIENT_DEB" "$WORK/root"
UNIT=$WORK/root/lib/systemd/system/zorserver.service
for setting in User=zor ProtectSystem=strict NoNewPrivileges=yes PrivateTmp=yes StandardError=journal \
  "RuntimeDirectory=zor zor/pipe" RuntimeDirectoryMode=0755 ReadWritePaths=/var/cache/zor LogsDirectory=zor StateDirectory=zor/upload \
  "ExecReload=/bin/kill -HUP \$MAINPID" EnvironmentFile=-/etc/zor/zorserver.conf; do
  grep -qxF "$setting" "$UNIT" || fail "zorserver.service lacks $setting"
done
# The unpacked tree is the root the unit is checked in; what it needs of the system (the
# standard targets, kill for the reload) comes from this machine. Its manual page is
# checked by lintian.
mkdir -p "$WORK/root/bin"
cp /lib/systemd/system/*.target "$WORK/root/lib/systemd/system/"
cp /bin/kill "$WORK/root/bin/kill"
# The machine-wide client copy's units: a sandboxed one-shot as zorclient, writing only its
# state folder, and a timer that is off until the administrator enables it.
CLIENT_UNIT=$WORK/root/lib/systemd/system/zor-client-update.service
for setting in User=zorclient Type=oneshot ProtectSystem=strict ProtectHome=yes NoNewPrivileges=yes \
  PrivateTmp=yes "StateDirectory=zor-client zor-client/client" StateDirectoryMode=0755 \
  ExecStart=/usr/lib/zor/zor-client-update; do
  grep -qxF "$setting" "$CLIENT_UNIT" || fail "zor-client-update.service lacks $setting"
done
if grep -q '^\[Install\]' "$CLIENT_UNIT"; then fail "zor-client-update.service can be enabled by itself (only its timer should)"; fi
grep -qxF "WantedBy=timers.target" "$WORK/root/lib/systemd/system/zor-client-update.timer" || fail "zor-client-update.timer is not wanted by timers.target"
# An unknown or malformed setting is only a warning to it: any word from it fails the check.
for unit in "$UNIT" "$CLIENT_UNIT" "$WORK/root/lib/systemd/system/zor-client-update.timer"; do
  if ! systemd-analyze verify --man=no --root="$WORK/root" "$unit" >"$WORK/verify" 2>&1 || [ -s "$WORK/verify" ]; then
    fail "systemd-analyze verify $(basename "$unit")"
    cat "$WORK/verify"
  fi
done

echo "-- maintainer scripts in a scratch root"
# The scripts run with $DPKG_ROOT set to a scratch root into which each package is unpacked
# (and from which its files are taken again on removal, as dpkg does), so nothing on this
# machine is touched and whether the packages are installed here does not matter. Commands
# that would change the system are stand-ins that record their arguments (the scratch root
# shown as nothing); install, rm and rmdir also act, but only inside the scratch root.
STUBS=$WORK/stubs
mkdir -p "$STUBS"
cat >"$STUBS/.recorded" <<'STUB'
#!/bin/bash
name=${0##*/}
echo "$name ${*//$ROOT/}" >>"$CALLS"
case $name in
  getent) exit 2 ;;  # no such user or group yet
  install | rm | rmdir) ;;
  *) exit 0 ;;
esac
args=()
while [ $# -gt 0 ]; do
  case $1 in
    -o | -g) shift 2; continue ;;  # owners are the stand-ins' business
    /*) case $1 in "$ROOT"/*) ;; *) echo "OUTSIDE-ROOT $name $1" >>"$CALLS"; exit 1 ;; esac ;;
  esac
  args+=("$1")
  shift
done
for dir in /usr/bin /bin; do
  if [ -x "$dir/$name" ]; then exec "$dir/$name" "${args[@]}"; fi
done
exit 127
STUB
chmod +x "$STUBS/.recorded"
for command in getent addgroup adduser install rm rmdir deb-systemd-helper deb-systemd-invoke systemctl; do
  ln -s .recorded "$STUBS/$command"
done
for command in grep cat; do ln -s "$(command -v "$command")" "$STUBS/$command"; done
ROOT=$WORK/target
export ROOT CALLS=$WORK/calls
new_root() {  # new_root: an empty scratch root, with systemd's helper as a stand-in
  rm -rf "$ROOT"
  mkdir -p "$ROOT/etc" "$ROOT/usr/bin"
  ln -s "$STUBS/deb-systemd-helper" "$ROOT/usr/bin/deb-systemd-helper"
}
unpack() { dpkg-deb -x "$(deb_of "$1")" "$ROOT"; }  # unpack PACKAGE: its files, as dpkg unpacks them
take_away() {  # take_away PACKAGE: its files gone, conffiles too (removal followed by purge)
  dpkg-deb -c "$(deb_of "$1")" | awk '$1 !~ /^d/ { sub(/^\.\//, "", $6); print $6 }' |
    while read -r f; do /bin/rm -f "$ROOT/$f"; done
}
deb_of() { if [ "$1" = zor-server ]; then echo "$SERVER_DEB"; else echo "$CLIENT_DEB"; fi; }
run() {  # run PACKAGE SCRIPT ARGS...: leaves the commands it ran in $WORK/calls, its errors in $WORK/stderr
  : >"$WORK/calls"
  DPKG_ROOT=$ROOT PATH=$STUBS /bin/sh "$WORK/control/$1/$2" "${@:3}" 2>"$WORK/stderr" ||
    fail "$1 $2 ${*:3} exited with $?: $(cat "$WORK/stderr")"
  if grep -q '^OUTSIDE-ROOT' "$WORK/calls"; then fail "$1 $2 ${*:3} touched a path outside \$DPKG_ROOT"; fi
}
expect_calls() {  # expect_calls WHAT PATTERN...: each pattern matches a line of $WORK/calls
  local what=$1
  shift
  for pattern in "$@"; do
    grep -qE "$pattern" "$WORK/calls" || fail "$what: no call matching '$pattern' in:"$'\n'"$(cat "$WORK/calls")"
  done
}
install_package() { unpack "$1"; run "$1" postinst configure; }
purge_package() {
  run "$1" prerm remove
  take_away "$1"
  run "$1" postrm remove
  run "$1" postrm purge
}
left_in_root() { (cd "$ROOT" && find . -mindepth 1 ! -type d ! -path ./usr/bin/deb-systemd-helper -printf '%P\n' | sort); }

# A machine without either package: each creates what it needs; purging both in either order
# leaves nothing of theirs.
for order in "zor-server zor-client" "zor-client zor-server"; do
  new_root
  for package in $order; do install_package "$package"; done
  [ -f "$ROOT/etc/zor/HKLM.reg" ] || fail "$order: no /etc/zor/HKLM.reg after installing"
  for package in $order; do
    purge_package "$package"
    if [ "$package" = "${order%% *}" ] && [ ! -f "$ROOT/etc/zor/HKLM.reg" ]; then
      fail "purging $package while the other package is installed deleted /etc/zor/HKLM.reg"
    fi
  done
  left=$(left_in_root)
  [ -z "$left" ] || fail "installing and purging $order left:"$'\n'"$left"
  [ ! -e "$ROOT/etc/zor" ] || fail "installing and purging $order left /etc/zor"
done

new_root
install_package zor-server
expect_calls "zor-server postinst configure" \
  '^addgroup --quiet --system zor$' \
  '^adduser --quiet --system --ingroup zor --home /var/lib/zor --no-create-home --shell /usr/sbin/nologin' \
  '^install -d -m 0755 -o root -g root /var/lib/zor /var/lib/zor/release$' \
  '^install -d -m 0750 -o zor -g zor /var/cache/zor /var/cache/zor/pack$' \
  '^deb-systemd-helper (enable|update-state) zorserver.service$'
install_package zor-client
grep -q 'has no "ReleaseKey"' "$WORK/stderr" || fail "zor-client postinst does not say that no ReleaseKey is set"
expect_calls "zor-client postinst configure" \
  '^addgroup --quiet --system zorclient$' \
  '^adduser --quiet --system --ingroup zorclient --home /var/lib/zor-client --no-create-home --shell /usr/sbin/nologin' \
  '^deb-systemd-helper --quiet was-enabled zor-client-update.timer$' \
  '^deb-systemd-helper (enable|update-state) zor-client-update.timer$'
# The timer is enabled again only when it was before (the stand-in says it was); nothing
# starts it.
if grep -q '^deb-systemd-invoke' "$WORK/calls"; then fail "zor-client postinst starts the machine-wide copy's timer"; fi
for args in remove upgrade; do
  for step in "zor-server prerm" "zor-server postrm" "zor-client prerm" "zor-client postrm"; do
    # shellcheck disable=SC2086
    run $step "$args"
    if grep -E '^(rm|rmdir) ' "$WORK/calls"; then fail "$step $args deletes files"; fi
  done
done
purge_package zor-server
expect_calls "zor-server postrm purge" \
  '^rm -rf /var/lib/zor /var/cache/zor /var/log/zor$' '^deb-systemd-helper purge zorserver.service$'
# A machine-wide copy the service made goes with the purge.
mkdir -p "$ROOT/var/lib/zor-client/client" && echo copy >"$ROOT/var/lib/zor-client/client/Client"
purge_package zor-client
expect_calls "zor-client postrm purge" \
  '^rm -rf /var/lib/zor-client$' '^deb-systemd-helper purge zor-client-update.timer$'
[ ! -e "$ROOT/var/lib/zor-client" ] || fail "purging zor-client left /var/lib/zor-client"

# Settings an administrator had before: purging both packages keeps them; a "ReleaseKey" in
# them silences the note.
new_root
mkdir -p "$ROOT/etc/zor"
printf 'Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\ZOR\\DK880]\n"ReleaseKey"="KEY"\n' >"$ROOT/etc/zor/HKLM.reg"
cp "$ROOT/etc/zor/HKLM.reg" "$WORK/HKLM.before"
install_package zor-client
if [ -s "$WORK/stderr" ]; then fail "zor-client postinst with a ReleaseKey said: $(cat "$WORK/stderr")"; fi
install_package zor-server
purge_package zor-server
purge_package zor-client
cmp -s "$WORK/HKLM.before" "$ROOT/etc/zor/HKLM.reg" || fail "purging both packages did not keep the /etc/zor/HKLM.reg that was there before"
left=$(left_in_root)
[ "$left" = etc/zor/HKLM.reg ] || fail "purging both packages over an existing HKLM.reg left:"$'\n'"$left"

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "the packages are in order"
