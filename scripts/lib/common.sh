# Shared by scripts/run and scripts/test: install what is missing, then configure and build.
# shellcheck shell=bash

ZUMELKO_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

# Debian packages the build, the tests and the program need.
ZUMELKO_PACKAGES=(
  build-essential cmake ninja-build pkg-config netbase iproute2 procps python3
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev libwayland-dev libsmbclient-dev libavahi-client-dev avahi-daemon avahi-utils dbus-daemon
  xvfb xclip xdotool x11-utils imagemagick fonts-ipafont-gothic samba wmdocker
  clang libclang-rt-14-dev
  g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev binutils-mingw-w64-x86-64 googletest
  wine64 wine locales
  sway xwayland wl-clipboard python3-dbus python3-gi
)

ensure_packages() {
  local missing=()
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if ((${#missing[@]})); then
    echo "Installing Debian packages: ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    "${sudo[@]}" apt-get update -q
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
  fi
}

# configure_build DIR [cmake options...]
configure_build() {
  local dir=$1
  shift
  cmake -S "$ZUMELKO_ROOT" -B "$dir" -G Ninja "$@"
  cmake --build "$dir" -j "$(nproc)"
}

# configure_windows_build DIR [cmake options...]: the Windows program, cross-built.
configure_windows_build() {
  local dir=$1
  shift
  cmake -S "$ZUMELKO_ROOT" -B "$dir" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$ZUMELKO_ROOT/cmake/mingw-w64-x86_64.cmake" -DZUMELKO_QT=OFF -DZUMELKO_BENCHMARKS=OFF "$@"
  cmake --build "$dir" -j "$(nproc)"
}
