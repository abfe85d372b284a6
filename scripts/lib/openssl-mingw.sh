# OpenSSL for the Windows program: Debian's own source package of OpenSSL, cross-built with
# mingw-w64 into static libraries, once, and reused from build/openssl-mingw/VERSION/ after that.
# shellcheck shell=bash
#
# openssl_mingw_prefix prints the folder to hand to CMake as the OpenSSL root (include/, lib/);
# what it does goes to standard error, one line when the folder is reused.
#
# The source comes through apt with a private list of deb-src entries made from the machine's
# own sources (same archives, same suites, same keyrings) and private state under
# build/openssl-mingw/apt, so apt checks it against Debian's signed Release files and the
# machine's apt configuration stays as it was. The version is the one of the installed
# libssl-dev when the archive still has it, else the newest the archive offers.
#
# ZUMELKO_OPENSSL_REBUILD=1 fetches and builds again; ZUMELKO_OPENSSL_MINGW_DIR puts the cache
# elsewhere (default build/openssl-mingw under the source tree).

# The options of the build: static, no tests, no loading of DLLs (engines, provider modules).
# Everything the program uses stays in (TLS 1.3, EC, X25519, scrypt and PBKDF2, AES-GCM,
# ChaCha20-Poly1305).
ZUMELKO_OPENSSL_OPTIONS=(mingw64 no-shared no-dso no-module no-tests --cross-compile-prefix=x86_64-w64-mingw32- --libdir=lib)
# Where a Windows PC's copy looks for openssl.cnf and a default certificate store, and where an
# engine or module would be looked for: folders only an administrator can write. Left to
# themselves they would be paths of this build machine, which on Windows name C:\work\…,
# a folder any user may create.
ZUMELKO_OPENSSL_WINDOWS_DIRS=(
  "OPENSSLDIR=C:/Program Files/Common Files/SSL"
  "ENGINESDIR=C:/Program Files/OpenSSL/lib/engines-3"
  "MODULESDIR=C:/Program Files/OpenSSL/lib/ossl-modules"
)

_openssl_mingw_log() { echo "openssl-mingw: $*" >&2; }

# What the cached build was made from; a build whose stamp differs is made again.
_openssl_mingw_stamp() {
  printf 'version %s\nconfigure CC=gcc-posix %s\nmake %s\ncompiler %s\n' "$1" "${ZUMELKO_OPENSSL_OPTIONS[*]}" \
    "${ZUMELKO_OPENSSL_WINDOWS_DIRS[*]}" "$(x86_64-w64-mingw32-gcc-posix -dumpfullversion 2>/dev/null)"
}

# _openssl_mingw_apt DIR ARGS...: apt-get and apt-cache with the private list and state in DIR.
_openssl_mingw_apt_options() {
  local dir=$1
  local opts=(-o "Dir::Etc::SourceList=$dir/sources.list" -o "Dir::Etc::SourceParts=$dir/sources.list.d"
    -o "Dir::State::Lists=$dir/lists" -o "Dir::Cache=$dir/cache" -o "Dir::Cache::archives=$dir/cache/archives")
  # Downloads into folders of ours: the sandbox user could not write them.
  [ "$(id -u)" -ne 0 ] || opts+=(-o APT::Sandbox::User=root)
  printf '%s\n' "${opts[@]}"
}

# The machine's binary archives as source archives, in the private list.
_openssl_mingw_sources() {
  local dir=$1 f
  rm -rf "$dir/sources.list.d" && mkdir -p "$dir/sources.list.d" "$dir/lists/partial" "$dir/cache/archives/partial"
  : >"$dir/sources.list"
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    sed -n 's/^[[:space:]]*deb[[:space:]]/deb-src /p' "$f" >>"$dir/sources.list"
  done
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    sed 's/^Types:.*/Types: deb-src/' "$f" >"$dir/sources.list.d/$(basename "$f")"
  done
}

# Versions of the source package "openssl" the archive offers, newest first, the one of the
# installed libssl-dev (if offered) before all.
_openssl_mingw_versions() {
  local wanted=$1
  shift
  local all=() v i j t
  mapfile -t all < <(apt-cache "$@" showsrc --only-source openssl 2>/dev/null | sed -n 's/^Version: //p' | sort -u)
  for ((i = 0; i < ${#all[@]}; i++)); do
    for ((j = i + 1; j < ${#all[@]}; j++)); do
      if dpkg --compare-versions "${all[j]}" gt "${all[i]}"; then t=${all[i]}; all[i]=${all[j]}; all[j]=$t; fi
    done
  done
  for v in "${all[@]}"; do [ "$v" = "$wanted" ] && echo "$v"; done
  for v in "${all[@]}"; do [ "$v" = "$wanted" ] || echo "$v"; done
}

# _openssl_mingw_check PREFIX BUILD-PATH...: what the build must have given: no DLL loading, and
# no path of this machine inside the libraries (a Windows PC would look there for its
# configuration). Says what is wrong and fails otherwise.
_openssl_mingw_check() {
  local prefix=$1 path
  shift
  grep -q '^# *define OPENSSL_NO_DSO$' "$prefix/include/openssl/configuration.h" ||
    { _openssl_mingw_log "the build can load DLLs (no OPENSSL_NO_DSO)"; return 1; }
  for path in "$@"; do
    if grep -qaF "$path" "$prefix/lib/libcrypto.a" "$prefix/lib/libssl.a"; then
      _openssl_mingw_log "the libraries name a folder of this machine ($path)"
      return 1
    fi
  done
}

# _openssl_mingw_build CACHE: fetches, checks and builds; prints the version built.
_openssl_mingw_build() {
  local cache=$1 apt="$1/apt" wanted version src tree prefix opts=()
  mapfile -t opts < <(_openssl_mingw_apt_options "$apt")
  _openssl_mingw_sources "$apt"
  _openssl_mingw_log "reading the archive's source lists"
  apt-get "${opts[@]}" -q update >"$cache/apt-update.log" 2>&1 || { cat "$cache/apt-update.log" >&2; return 1; }
  wanted=$(dpkg-query -W -f='${Version}' libssl-dev 2>/dev/null || true)
  version=
  local v
  while read -r v; do
    src="$cache/src/$v"
    rm -rf "$src" && mkdir -p "$src"
    _openssl_mingw_log "fetching the source package openssl $v"
    # apt checks every file against the Sources index, which the archive's signed Release names.
    if (cd "$src" && apt-get "${opts[@]}" -q source --download-only --only-source "openssl=$v") >"$src/fetch.log" 2>&1; then
      version=$v
      break
    fi
    _openssl_mingw_log "openssl $v could not be fetched: $(grep -m1 '^E:' "$src/fetch.log")"
    rm -rf "$src"
  done < <(_openssl_mingw_versions "$wanted" "${opts[@]}")
  [ -n "$version" ] || { _openssl_mingw_log "no source package openssl could be fetched"; return 1; }
  [ "$version" = "$wanted" ] ||
    _openssl_mingw_log "note: libssl-dev here is ${wanted:-not installed}; the archive no longer has its source, $version is used"

  # dpkg-source checks the files against the .dsc and applies Debian's patches.
  tree="$src/tree"
  (cd "$src" && dpkg-source -x ./*.dsc tree) >"$src/unpack.log" 2>&1 || { cat "$src/unpack.log" >&2; return 1; }
  prefix="$cache/$version"
  rm -rf "$prefix"
  _openssl_mingw_log "building OpenSSL $version for mingw-w64 (a few minutes)"
  (
    cd "$tree" &&
      CC=gcc-posix ./Configure "${ZUMELKO_OPENSSL_OPTIONS[@]}" --prefix="$prefix" &&
      make -j "$(nproc)" "${ZUMELKO_OPENSSL_WINDOWS_DIRS[@]}" build_libs &&
      make "${ZUMELKO_OPENSSL_WINDOWS_DIRS[@]}" install_dev
  ) >"$src/build.log" 2>&1 || { tail -30 "$src/build.log" >&2; return 1; }
  _openssl_mingw_check "$prefix" "$prefix" "$tree" || return 1
  cp "$tree/LICENSE.txt" "$prefix/LICENSE.txt"
  _openssl_mingw_stamp "$version" >"$prefix/zumelko-stamp"
  echo "$version" >"$cache/current"
  # The sources are not needed again; the licence went along with the libraries.
  rm -rf "$src/tree"
  echo "$version"
}

openssl_mingw_prefix() {
  local cache=${ZUMELKO_OPENSSL_MINGW_DIR:-$ZUMELKO_ROOT/build/openssl-mingw} version
  mkdir -p "$cache"
  cache=$(cd "$cache" && pwd)
  version=$(cat "$cache/current" 2>/dev/null || true)
  if [ "${ZUMELKO_OPENSSL_REBUILD:-}" != 1 ] && [ -n "$version" ] &&
    [ "$(cat "$cache/$version/zumelko-stamp" 2>/dev/null)" = "$(_openssl_mingw_stamp "$version")" ]; then
    _openssl_mingw_log "reusing OpenSSL $version in $cache/$version"
    echo "$cache/$version"
    return 0
  fi
  local started=$SECONDS
  version=$(_openssl_mingw_build "$cache") || return 1
  _openssl_mingw_log "OpenSSL $version built into $cache/$version in $((SECONDS - started)) s"
  echo "$cache/$version"
}
