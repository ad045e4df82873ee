# Shared by ./run and ./test: installs what the build needs, then configures and builds.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${ZT_BUILD_DIR:-$ROOT/build/release}"
FUZZ_BUILD="${ZT_FUZZ_BUILD_DIR:-$ROOT/build/fuzz}"
SANITIZE_BUILD="${ZT_SANITIZE_BUILD_DIR:-$ROOT/build/sanitize}"

PACKAGES=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-webengine-dev
  libsqlite3-dev sqlite3
  libgtest-dev libgmock-dev libbenchmark-dev
  libx11-dev libx11-xcb-dev libxcb1-dev libxtst-dev libxi-dev libxkbcommon-dev
  xvfb xauth
  qt6-svg-dev qt6-multimedia-dev libcanberra-dev sound-theme-freedesktop libxcb-xinput-dev
  openbox tint2 xdotool x11-utils dbus at-spi2-core
  clang libclang-rt-14-dev
  libexpat1-dev libpugixml-dev
  iproute2
  qt6-wayland sway python3-dbus python3-gi
  locales-all
  dpkg-dev lintian appstream mandoc
)

install_packages() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
  done
  if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
  fi
}

# configure_and_build [CMAKE_OPTION...] [--target NAME]: configures with the options and
# builds everything, or the one target.
configure_and_build() {
  local options=() target=()
  while (($#)); do
    if [ "$1" = "--target" ]; then
      target=(--target "$2")
      shift 2
    else
      options+=("$1")
      shift
    fi
  done
  cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZT_HARDENING=ON \
    "${options[@]}" >/dev/null
  cmake --build "$BUILD" -j"$(nproc)" "${target[@]}"
}
