#!/usr/bin/env bash
# Builds the Debian packages zor-server and zor-client (with Debian's hardening build flags)
# into build-package/deb, then checks them: file lists, permissions, the maintainer scripts
# (scripts/check-packages.sh), the service unit (systemd-analyze verify), the manual pages
# (man --warnings) and lintian.
set -euo pipefail
cd "$(dirname "$0")/.."
# With the packaging tools, only for this script.
bash scripts/install-deps.sh dpkg-dev lintian systemd man-db

# $ZOR_PACKAGE_BUILD_DIR packages the programs of a tree configured already (for example
# the test build, to try the packaging quickly); by default a tree of its own is built
# with Debian's flags and every hardening feature, without debug information (the
# programs are stripped).
BUILD=${ZOR_PACKAGE_BUILD_DIR:-$PWD/build-package}
OUT=$BUILD/deb
STAGE=$BUILD/stage
VERSION=$(sed -n 's/^project(zor VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
ARCH=$(dpkg --print-architecture)
MAINTAINER="ZOR developers <zor@example.com>"

echo "== build $VERSION ($ARCH) in $BUILD"
if [ -z "${ZOR_PACKAGE_BUILD_DIR:-}" ]; then
  eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
  CFLAGS="${CFLAGS//-g /} $CPPFLAGS"
  CXXFLAGS="${CXXFLAGS//-g /} $CPPFLAGS"
  cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS_RELEASE=-DNDEBUG \
    -DCMAKE_CXX_FLAGS_RELEASE=-DNDEBUG "-DCMAKE_C_FLAGS=$CFLAGS" "-DCMAKE_CXX_FLAGS=$CXXFLAGS" \
    "-DCMAKE_EXE_LINKER_FLAGS=$LDFLAGS" "-DCMAKE_SHARED_LINKER_FLAGS=$LDFLAGS" \
    -DZOR_TESTS=OFF -DZOR_BENCH=OFF >/dev/null
fi
programs=(bin/Client bin/M880CloudClient.dll bin/zorserver bin/zorreg bin/zorrelease)
ninja -C "$BUILD" -j "$(nproc)" "${programs[@]}"

# Shared steps of both packages.
umask 022
rm -rf "$STAGE" "$OUT"
mkdir -p "$OUT"

put() {  # put MODE SOURCE DEST: copy one file into the staging tree
  install -D -m "$1" "$2" "$3"
}
put_program() {  # put_program SOURCE DEST: a stripped program or library
  install -D -m "${3:-0755}" "$1" "$2"
  strip --strip-unneeded --remove-section=.comment --remove-section=.note "$2"
}
put_man() {  # put_man PAGE DEST_DIR
  mkdir -p "$2"
  gzip -9n <"$1" >"$2/$(basename "$1").gz"
  chmod 0644 "$2/$(basename "$1").gz"
}
put_doc() {  # put_doc ROOT PACKAGE
  put 0644 packaging/copyright "$1/usr/share/doc/$2/copyright"
  sed "s/@VERSION@/$VERSION/" packaging/changelog | gzip -9n >"$1/usr/share/doc/$2/changelog.gz"
  chmod 0644 "$1/usr/share/doc/$2/changelog.gz"
}
shlib_depends() {  # shlib_depends FILE...: the library packages the programs need
  local work
  work=$(mktemp -d)
  mkdir -p "$work/debian"
  printf 'Source: zor\n\nPackage: zor\nArchitecture: any\n' >"$work/debian/control"
  local files=()
  for f in "$@"; do files+=("$(realpath "$f")"); done
  (cd "$work" && dpkg-shlibdeps -O "${files[@]}" 2>/dev/null) | sed -n 's/^shlibs:Depends=//p'
  rm -rf "$work"
}
finish() {  # finish ROOT PACKAGE DEPENDS RECOMMENDS SECTION SUMMARY DESCRIPTION [MORE_CONTROL_LINES]
  local root=$1 package=$2 recommends="" more=""
  if [ -n "$4" ]; then recommends="Recommends: $4"$'\n'; fi
  if [ -n "${8:-}" ]; then more="$8"$'\n'; fi
  (cd "$root" && find . -type f ! -path './DEBIAN/*' -printf '%P\0' | sort -z | xargs -0 md5sum) >"$root/DEBIAN/md5sums"
  chmod 0644 "$root/DEBIAN/md5sums"
  local size
  size=$(du -sk --exclude=DEBIAN "$root" | cut -f1)
  cat >"$root/DEBIAN/control" <<CONTROL
Package: $package
Version: $VERSION
Architecture: $ARCH
Maintainer: $MAINTAINER
Installed-Size: $size
Depends: $3
${recommends}${more}Section: $5
Priority: optional
Homepage: https://zor.example.com/
Description: $6
$7
CONTROL
  find "$root" -type d -exec chmod 0755 {} +
  dpkg-deb --root-owner-group -Zxz --build "$root" "$OUT/${package}_${VERSION}_${ARCH}.deb" >/dev/null
  echo "built $OUT/${package}_${VERSION}_${ARCH}.deb"
}

# zorreg for both sides: the administrator of a client machine sets the site's server in
# the machine-wide settings with it, the server's administrator the server's settings.
echo "== zor-common"
M=$STAGE/zor-common
put_program "$BUILD/bin/zorreg" "$M/usr/bin/zorreg"
put_man packaging/man/zorreg.1 "$M/usr/share/man/man1"
put_doc "$M" zor-common
mkdir -p "$M/DEBIAN"
finish "$M" zor-common "$(shlib_depends "$M/usr/bin/zorreg")" "" admin \
  "settings tool of the ZOR launcher and application server" \
" zorreg queries and changes the settings hives of the ZOR launcher and
 application server (/etc/zor/HKLM.reg, ~/.config/zor/HKCU.reg) in the
 style of reg.exe: query, add, delete, import and export." \
  "Breaks: zor-server (<< $VERSION)"$'\n'"Replaces: zor-server (<< $VERSION)"

echo "== zor-server"
S=$STAGE/zor-server
put_program "$BUILD/bin/zorserver" "$S/usr/sbin/zorserver"
put_man packaging/man/zorserver.8 "$S/usr/share/man/man8"
put_program "$BUILD/bin/zorrelease" "$S/usr/bin/zorrelease"
put_man packaging/man/zorrelease.1 "$S/usr/share/man/man1"
put 0755 packaging/zorserver-check "$S/usr/sbin/zorserver-check"
put_man packaging/man/zorserver-check.8 "$S/usr/share/man/man8"
server_programs=("$S/usr/sbin/zorserver" "$S/usr/bin/zorrelease")
put 0644 packaging/zorserver.service "$S/lib/systemd/system/zorserver.service"
put 0644 packaging/zorserver.conf "$S/etc/zor/zorserver.conf"
put 0644 packaging/zor-server.logrotate "$S/etc/logrotate.d/zor-server"
put_doc "$S" zor-server
mkdir -p "$S/DEBIAN"
for script in postinst prerm postrm; do put 0755 "packaging/zor-server/$script" "$S/DEBIAN/$script"; done
printf '%s\n' /etc/logrotate.d/zor-server /etc/zor/zorserver.conf >"$S/DEBIAN/conffiles"
# zorserver-check takes the service's user and capability with setpriv (util-linux, an
# essential package).
finish "$S" zor-server "adduser, zor-common (= $VERSION), $(shlib_depends "${server_programs[@]}")" "" net \
  "application server for the ZOR launchers" \
" The application server the ZOR launchers update from: it serves a release
 folder (file list, file information and data in plain and packed form,
 uploads) over TCP, and optionally a UDP name service and the HTTP cloud
 lookup. Runs as the service zorserver.service under the system user zor,
 with its release in /var/lib/zor/release and its packed files in
 /var/cache/zor/pack. Its settings are changed with zorreg (zor-common)."

echo "== zor-client"
C=$STAGE/zor-client
put_program "$BUILD/bin/Client" "$C/usr/lib/zor/client/Client"
put_program "$BUILD/bin/M880CloudClient.dll" "$C/usr/lib/zor/client/M880CloudClient.dll" 0644
sed "s/@VERSION@/$VERSION/" packaging/zor-client/zor-client >"$BUILD/zor-client"
put 0755 "$BUILD/zor-client" "$C/usr/bin/zor-client"
put 0644 packaging/zor-client/zor-client.desktop "$C/usr/share/applications/zor-client.desktop"
put 0644 packaging/zor-client/zor-client.svg "$C/usr/share/icons/hicolor/scalable/apps/zor-client.svg"
put 0644 packaging/zor-client/HKLM.reg "$C/usr/share/zor-client/HKLM.reg"
# The machine-wide client copy: its updater, service and timer (off until enabled).
sed "s/@VERSION@/$VERSION/" packaging/zor-client/zor-client-update >"$BUILD/zor-client-update"
put 0755 "$BUILD/zor-client-update" "$C/usr/lib/zor/zor-client-update"
put 0644 packaging/zor-client/zor-client-update.service "$C/lib/systemd/system/zor-client-update.service"
put 0644 packaging/zor-client/zor-client-update.timer "$C/lib/systemd/system/zor-client-update.timer"
put_man packaging/man/Client.1 "$C/usr/share/man/man1"
ln -s Client.1.gz "$C/usr/share/man/man1/zor-client.1.gz"
put_doc "$C" zor-client
mkdir -p "$C/DEBIAN"
for script in postinst prerm postrm; do put 0755 "packaging/zor-client/$script" "$C/DEBIAN/$script"; done
# The windows draw Chinese captions in this font when it is installed (else in the default
# font, where CJK characters may show as boxes).
finish "$C" zor-client "adduser, zor-common (= $VERSION), $(shlib_depends "$C/usr/lib/zor/client/Client" "$C/usr/lib/zor/client/M880CloudClient.dll")" \
  fonts-wqy-microhei x11 \
  "launcher of the ZOR business suite" \
" The launcher users start instead of the suite's main program: it connects
 to the ZOR application server, brings the client files up to date (itself
 included) while showing the progress, and starts the main program. Each
 user runs it from a client folder of their own; the menu entry and
 zor-client set that folder up. A machine may instead keep one copy for
 all its users, updated by zor-client-update.timer as the user zorclient."

echo "== checks"
bash scripts/check-packages.sh "$OUT/zor-server_${VERSION}_${ARCH}.deb" "$OUT/zor-client_${VERSION}_${ARCH}.deb" \
  "$OUT/zor-common_${VERSION}_${ARCH}.deb"
echo "== manual pages"
for page in packaging/man/*.[18]; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  if [ -n "$warnings" ]; then
    echo "$page:"$'\n'"$warnings"
    exit 1
  fi
done
echo "== lintian"
lintian --fail-on error,warning --info "$OUT"/*.deb
echo "packages in $OUT: lintian found no error or warning"
