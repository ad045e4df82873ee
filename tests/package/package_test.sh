#!/usr/bin/env bash
# Builds the Debian package from the build folder and checks it: its files, its computed
# dependencies, lintian, that apt would install it, and that the unpacked program runs.
# Usage: package_test.sh CPACK BUILD_DIR
set -euo pipefail
cpack="$1"
build="$2"
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }

"$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$out" >"$out/cpack.log" 2>&1 ||
  { cat "$out/cpack.log"; fail "cpack -G DEB"; }
deb="$(ls "$out"/*.deb)"
echo "package: $(basename "$deb")"

dpkg-deb -c "$deb" | awk '{print $6}' >"$out/contents"
for file in ./usr/bin/zibtam \
  ./usr/share/applications/com.fernquillsoft.zibtam.desktop \
  ./usr/share/icons/hicolor/scalable/apps/zibtam.svg \
  ./usr/share/metainfo/com.fernquillsoft.zibtam.metainfo.xml \
  ./usr/share/man/man1/zibtam.1.gz \
  ./usr/lib/systemd/user/zibtam-server.service \
  ./usr/share/doc/zibtam/copyright \
  ./usr/share/doc/zibtam/changelog.gz \
  ./usr/lib/zibtam/modules/zibtam_webview.so; do
  grep -qx "$file" "$out/contents" || fail "the package lacks $file"
done
if grep -v '/$' "$out/contents" | grep -qv '^\./usr/'; then
  fail "files outside /usr: $(grep -v '^\./usr/' "$out/contents" | tr '\n' ' ')"
fi

depends="$(dpkg-deb -f "$deb" Depends)"
echo "depends: $depends"
for library in libc6 libqt6core6 libqt6widgets6 libqt6network6 libsqlite3-0; do
  [[ "$depends" == *"$library"* ]] || fail "Depends does not name $library"
done

for tool in lintian appstreamcli mandoc systemd-analyze; do
  command -v "$tool" >/dev/null || fail "$tool is not installed (tools/common.sh installs it)"
done
# Every tag counts, down to the pedantic ones; lintian's note that it runs as root is no tag.
lintian --pedantic --display-info --tag-display-limit 0 "$deb" >"$out/lintian.log" 2>&1 || true
hardened=false
grep -q '^ZT_HARDENING:BOOL=ON' "$build/CMakeCache.txt" && hardened=true
# A build without ZT_HARDENING has no fortified functions; ./test's build has them.
grep -v -e 'root privileges' $($hardened || echo "-e hardening-no-fortify-functions") \
  "$out/lintian.log" >"$out/lintian.tags" || true
if [ -s "$out/lintian.tags" ]; then cat "$out/lintian.tags"; fail "lintian --pedantic reports tags"; fi

dpkg-deb -x "$deb" "$out/root"
root="$out/root"
appstreamcli validate --pedantic --no-net --explain \
  "$root/usr/share/metainfo/com.fernquillsoft.zibtam.metainfo.xml" >"$out/appstream.log" 2>&1 ||
  { cat "$out/appstream.log"; fail "appstreamcli validate --pedantic"; }
grep -q '^✔ Validation was successful.$' "$out/appstream.log" ||
  { cat "$out/appstream.log"; fail "appstreamcli reports issues"; }
for tag in '<release version=' '<screenshot ' '<url type="homepage">'; do
  grep -q "$tag" "$root/usr/share/metainfo/com.fernquillsoft.zibtam.metainfo.xml" ||
    fail "the AppStream data lacks $tag"
done
zcat "$root/usr/share/man/man1/zibtam.1.gz" >"$out/zibtam.1"
lint="$(mandoc -Tlint "$out/zibtam.1" 2>&1)" || true
[ -z "$lint" ] || fail "mandoc -Tlint: $lint"

# Hardening: read-only relocations bound at start, fortified functions. grep reads to the
# end: with pipefail, grep -q stopping early gives readelf a broken pipe and a false failure.
for binary in usr/bin/zibtam usr/lib/zibtam/modules/zibtam_webview.so; do
  readelf -d "$root/$binary" | grep 'BIND_NOW' >/dev/null || fail "$binary is not linked with -z now"
  readelf -lW "$root/$binary" | grep 'GNU_RELRO' >/dev/null || fail "$binary has no RELRO"
done
if $hardened; then
  readelf -sW --dyn-syms "$root/usr/bin/zibtam" | grep '__[a-z]*_chk@' >/dev/null ||
    fail "usr/bin/zibtam uses no fortified functions"
else
  echo "note: built without ZT_HARDENING (./test sets it): fortified functions not checked"
fi

# The user unit: nothing a user manager cannot see, and sandboxed.
unit="$root/usr/lib/systemd/user/zibtam-server.service"
! grep -q 'network-online.target' "$unit" || fail "the user unit names network-online.target"
mkdir -p "$out/runtime" && chmod 700 "$out/runtime"
XDG_RUNTIME_DIR="$out/runtime" systemd-analyze security --offline=true --user --threshold=49 \
  "$unit" >"$out/security.log" 2>&1 || { cat "$out/security.log"; fail "the user unit's exposure is 5 or more"; }
grep 'Overall exposure' "$out/security.log"

# apt resolves the dependencies against this machine's packages without installing.
apt-get install --simulate "$deb" >"$out/apt.log" 2>&1 ||
  { cat "$out/apt.log"; fail "apt-get install --simulate"; }
grep -q '^Inst zibtam' "$out/apt.log" || { cat "$out/apt.log"; fail "apt would not install zibtam"; }

"$out/root/usr/bin/zibtam" --help | grep -- '--server' >/dev/null || fail "the unpacked program does not run"
# Installed for real, run as root, purged: the program's files are in the user's data folder,
# never beside /usr/bin/zibtam, and purging leaves nothing of the package behind. Only where
# the package is not installed already (a developer's own copy is left alone).
if [ "$(id -u)" -eq 0 ] && ! dpkg-query -W -f='${Status}' zibtam 2>/dev/null | grep -q installed; then
  trap 'apt-get purge -y -q zibtam >/dev/null 2>&1 || true; rm -rf "$out"' EXIT
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "$deb" \
    >"$out/install.log" 2>&1 || { cat "$out/install.log"; fail "apt-get install"; }
  home="$out/home"
  mkdir -p "$home"
  HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share" \
    /usr/bin/zibtam --config set LogMessages 1 >/dev/null || fail "zibtam --config set"
  # The answers of the first run, then a message to everyone once the networking is up.
  { printf 'Ann\n1\n'; sleep 2; printf '/to all\nhello from the package test\ny\n'; sleep 3
    printf '/quit\n'; } |
    HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share" \
      unshare -n sh -c 'ip link set lo up; timeout 20 /usr/bin/zibtam --console' \
      >"$out/console.log" 2>&1 || true
  [ -s "$home/.local/share/zibtam/zibtam.xml" ] ||
    { cat "$out/console.log"; find "$home" /usr/bin -newer "$deb" -name "*zibtam*"; fail "the installed program kept no log in the user's data folder"; }
  leftovers="$(ls /usr/bin | grep -i '^zibtam.' || true)"
  [ -z "$leftovers" ] || fail "files beside /usr/bin/zibtam: $leftovers"
  DEBIAN_FRONTEND=noninteractive apt-get purge -y -q zibtam >"$out/purge.log" 2>&1 ||
    { cat "$out/purge.log"; fail "apt-get purge"; }
  left="$(find /usr /etc /var/lib /var/cache /opt -path /var/lib/dpkg -prune -o \
            -iname '*zibtam*' -print 2>/dev/null | grep -v '^/usr/share/lintian' || true)"
  [ -z "$left" ] || fail "purge left: $left"
  echo "installed, run as root and purged: nothing left"
fi
echo "package checks passed"
