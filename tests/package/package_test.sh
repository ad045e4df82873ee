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
  ./usr/share/doc/zibtam/changelog.gz; do
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

command -v lintian >/dev/null || fail "lintian is not installed (tools/common.sh installs it)"
status=0
lintian --fail-on error "$deb" >"$out/lintian.log" 2>&1 || status=$?
grep -v 'root privileges' "$out/lintian.log" || true
((status == 0)) || fail "lintian reports errors"

# apt resolves the dependencies against this machine's packages without installing.
apt-get install --simulate "$deb" >"$out/apt.log" 2>&1 ||
  { cat "$out/apt.log"; fail "apt-get install --simulate"; }
grep -q '^Inst zibtam' "$out/apt.log" || { cat "$out/apt.log"; fail "apt would not install zibtam"; }

dpkg-deb -x "$deb" "$out/root"
"$out/root/usr/bin/zibtam" --help | grep -q -- '--server' || fail "the unpacked program does not run"
echo "package checks passed"
