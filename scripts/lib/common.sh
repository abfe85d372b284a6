# Shared by scripts/run and scripts/test: install what is missing, then configure and build.
# shellcheck shell=bash

ZUMELKO_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
# shellcheck source=scripts/lib/openssl-mingw.sh
. "$ZUMELKO_ROOT/scripts/lib/openssl-mingw.sh"

# Debian packages that building and running the program need (scripts/run).
ZUMELKO_BUILD_PACKAGES=(
  build-essential cmake ninja-build pkg-config netbase libssl-dev
  qt6-base-dev libwayland-dev libwayland-bin libxcb1-dev libsmbclient-dev libavahi-client-dev avahi-daemon dbus-daemon
  wl-clipboard fonts-ipafont-gothic
)
# What scripts/run's demo (without a display) needs besides: test hosts, X displays, a user
# played by xdotool and xclip, pictures made and compared.
ZUMELKO_DEMO_PACKAGES=(iproute2 procps xvfb xclip xdotool x11-utils imagemagick)
# Making the Debian packages (scripts/package-linux): the build's, dpkg-shlibdeps and file.
ZUMELKO_PACKAGE_PACKAGES=(dpkg-dev file)
# The tests, the demo without a display, the Windows cross-build and its Wine, the Wayland and
# SMB test hosts, the package tests (scripts/test installs all of them). The Windows build's
# OpenSSL is made from Debian's source package: dpkg-source (dpkg-dev) unpacks it.
ZUMELKO_TEST_PACKAGES=(
  iproute2 procps python3 avahi-utils
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xclip xdotool x11-utils imagemagick samba wmdocker
  clang libclang-rt-14-dev openssl tcpdump nftables
  g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev binutils-mingw-w64-x86-64 googletest dpkg-dev
  wine64 wine locales nsis
  sway xwayland python3-dbus python3-gi mutter libsm-dev
  debootstrap lintian
)
ZUMELKO_PACKAGES=("${ZUMELKO_BUILD_PACKAGES[@]}" "${ZUMELKO_PACKAGE_PACKAGES[@]}" "${ZUMELKO_TEST_PACKAGES[@]}")

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

# configure_windows_build DIR [cmake options...]: the Windows program, cross-built, with OpenSSL
# built for it from Debian's source (scripts/lib/openssl-mingw.sh; once, then reused).
configure_windows_build() {
  local dir=$1 openssl
  shift
  openssl=$(openssl_mingw_prefix) || { echo "OpenSSL for mingw-w64 could not be built" >&2; return 1; }
  cmake -S "$ZUMELKO_ROOT" -B "$dir" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$ZUMELKO_ROOT/cmake/mingw-w64-x86_64.cmake" -DZUMELKO_OPENSSL_ROOT="$openssl" \
    -DZUMELKO_QT=OFF -DZUMELKO_BENCHMARKS=OFF "$@"
  cmake --build "$dir" -j "$(nproc)"
}
