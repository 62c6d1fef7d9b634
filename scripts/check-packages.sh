#!/usr/bin/env bash
# Checks the built packages without installing them: the file list and modes of each, the
# service unit (systemd-analyze verify on the unpacked tree), and what the maintainer
# scripts do, run against stand-ins of the commands they call (nothing on this machine is
# touched): install creates the user and the folders; remove keeps every folder; purge
# deletes the release, the cache and the settings.
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
{
  echo "-rw-r--r-- root/root etc/zor/zorserver.conf"
  echo "-rw-r--r-- root/root lib/systemd/system/zorserver.service"
  [ -n "$(dpkg-deb -c "$SERVER_DEB" | grep ' ./usr/bin/zorrelease$' || true)" ] && {
    echo "-rwxr-xr-x root/root usr/bin/zorrelease"
    echo "-rw-r--r-- root/root usr/share/man/man1/zorrelease.1.gz"
  }
  echo "-rwxr-xr-x root/root usr/sbin/zorserver"
  echo "-rw-r--r-- root/root usr/share/doc/zor-server/changelog.gz"
  echo "-rw-r--r-- root/root usr/share/doc/zor-server/copyright"
  echo "-rw-r--r-- root/root usr/share/man/man8/zorserver.8.gz"
} | sort >"$WORK/server.expected"
expect_listing "$SERVER_DEB" "$WORK/server.expected"
sort >"$WORK/client.expected" <<'LIST'
-rwxr-xr-x root/root usr/bin/zor-client
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
[ "$(dpkg-deb -f "$SERVER_DEB" Depends | grep -c adduser)" = 1 ] || fail "zor-server does not depend on adduser"

echo "-- control files"
for deb in "$SERVER_DEB" "$CLIENT_DEB"; do
  name=$(dpkg-deb -f "$deb" Package)
  mkdir -p "$WORK/control/$name"
  dpkg-deb -e "$deb" "$WORK/control/$name"
done
for script in postinst prerm postrm; do
  [ -x "$WORK/control/zor-server/$script" ] || fail "zor-server: $script missing or not executable"
done
for script in postinst postrm; do
  [ -x "$WORK/control/zor-client/$script" ] || fail "zor-client: $script missing or not executable"
done
[ "$(cat "$WORK/control/zor-server/conffiles")" = /etc/zor/zorserver.conf ] || fail "zor-server: conffiles"
for f in "$WORK"/control/*/p*; do sh -n "$f" || fail "$f: syntax"; done

echo "-- service unit"
dpkg-deb -x "$SERVER_DEB" "$WORK/root"
UNIT=$WORK/root/lib/systemd/system/zorserver.service
for setting in User=zor ProtectSystem=strict NoNewPrivileges=yes PrivateTmp=yes StandardError=journal \
  "RuntimeDirectory=zor zor/pipe" RuntimeDirectoryMode=0755 ReadWritePaths=/var/cache/zor \
  "ExecReload=/bin/kill -HUP \$MAINPID" EnvironmentFile=-/etc/zor/zorserver.conf; do
  grep -qxF "$setting" "$UNIT" || fail "zorserver.service lacks $setting"
done
# The unpacked tree is the root the unit is checked in; what it needs of the system (the
# standard targets, kill for the reload) comes from this machine. Its manual page is
# checked by lintian.
mkdir -p "$WORK/root/bin"
cp /lib/systemd/system/*.target "$WORK/root/lib/systemd/system/"
cp /bin/kill "$WORK/root/bin/kill"
# An unknown or malformed setting is only a warning to it: any word from it fails the check.
if ! systemd-analyze verify --man=no --root="$WORK/root" "$UNIT" >"$WORK/verify" 2>&1 || [ -s "$WORK/verify" ]; then
  fail "systemd-analyze verify"
  cat "$WORK/verify"
fi

echo "-- maintainer scripts against stand-in commands"
# Every command the scripts run is a stand-in that records its arguments; getent finds no
# user, as on a machine where the package was never installed.
STUBS=$WORK/stubs
mkdir -p "$STUBS"
for command in getent addgroup adduser install rm rmdir deb-systemd-helper deb-systemd-invoke systemctl; do
  printf '#!/bin/sh\necho "%s $*" >>"%s"\n[ "%s" != getent ]\n' "$command" "$WORK/calls" "$command" >"$STUBS/$command"
  chmod +x "$STUBS/$command"
done
run() {  # run PACKAGE SCRIPT ARGS...: leaves the commands it ran in $WORK/calls
  : >"$WORK/calls"
  PATH=$STUBS /bin/sh "$WORK/control/$1/$2" "${@:3}" || fail "$1 $2 ${*:3} exited with $?"
}
expect_calls() {  # expect_calls WHAT PATTERN...: each pattern matches a line of $WORK/calls
  local what=$1
  shift
  for pattern in "$@"; do
    grep -qE "$pattern" "$WORK/calls" || fail "$what: no call matching '$pattern' in:"$'\n'"$(cat "$WORK/calls")"
  done
}
run zor-server postinst configure
expect_calls "zor-server postinst configure" \
  '^addgroup --quiet --system zor$' \
  '^adduser --quiet --system --ingroup zor --home /var/lib/zor --no-create-home --shell /usr/sbin/nologin' \
  '^install -d -m 0755 -o root -g root /var/lib/zor /var/lib/zor/release$' \
  '^install -d -m 0750 -o zor -g zor /var/cache/zor /var/cache/zor/pack$' \
  '^deb-systemd-helper (enable|update-state) zorserver.service$'
for args in remove upgrade; do
  for step in "zor-server prerm" "zor-server postrm" "zor-client postrm"; do
    # shellcheck disable=SC2086
    run $step "$args"
    if grep -E '^(rm|rmdir) ' "$WORK/calls"; then fail "$step $args deletes files"; fi
  done
done
run zor-server postrm purge
expect_calls "zor-server postrm purge" \
  '^rm -rf /var/lib/zor /var/cache/zor$' '^rm -f /etc/zor/HKLM.reg ' '^deb-systemd-helper purge zorserver.service$'
run zor-client postinst configure
expect_calls "zor-client postinst configure" '^install -d -m 0755 -o root -g root /etc/zor$'
run zor-client postrm purge
expect_calls "zor-client postrm purge" '^rm -f /etc/zor/HKLM.reg '

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "the packages are in order"
