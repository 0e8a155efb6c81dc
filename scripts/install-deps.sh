#!/usr/bin/env bash
# Installs what building and testing Slimwick needs on Debian; idempotent.
set -euo pipefail

packages=(
  cmake make g++ zlib1g-dev libdeflate-dev dpkg-dev googletest libgtest-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 libz-mingw-w64-dev binutils-mingw-w64
  wine wine64 xvfb xauth imagemagick x11-apps
  clang libclang-rt-14-dev time
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "install-deps: installing ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The 32-bit Windows lane: wine32 comes from the i386 architecture, added only
# where the kernel runs i386 programs. Elsewhere it stays out: installed, the
# `wine` launcher prefers its 32-bit loader, which cannot start there. The test
# scripts name their loader and prefix themselves, so nothing is prepared here.
if ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed"; then
  if reason=$("$(dirname "$0")/i386-probe.sh"); then
    echo "install-deps: this machine runs i386 programs; installing wine32:i386"
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO=sudo
    dpkg --print-foreign-architectures | grep -qx i386 || $SUDO dpkg --add-architecture i386
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends wine32:i386 >/dev/null
  else
    echo "install-deps: no wine32, the 32-bit Windows tests will be skipped: $reason"
  fi
fi

# libdeflate for the two mingw targets: Debian ships no mingw build, so its
# source package is built once into static libraries under the deps folder
# ($SLIMWICK_DEPS_DIR, default /var/cache/slimwick), where the mingw toolchain
# files look for them. Later runs find the libraries there and need no network.
deps_dir="${SLIMWICK_DEPS_DIR:-/var/cache/slimwick}"
libdeflate_ready() {
  [ -f "$deps_dir/mingw-i686/lib/libdeflate.a" ] && [ -f "$deps_dir/mingw-x86_64/lib/libdeflate.a" ]
}
if ! libdeflate_ready; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO mkdir -p "$deps_dir"
  $SUDO chown "$(id -u):$(id -g)" "$deps_dir"
  src=$(find "$deps_dir" -maxdepth 1 -type d -name 'libdeflate-*' | sort | tail -n1)
  if [ -z "$src" ]; then
    if ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ && ! grep -qs '^deb-src .* bookworm ' /etc/apt/sources.list; then
      echo "install-deps: adding the bookworm source list"
      printf 'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: bookworm\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' |
        $SUDO tee /etc/apt/sources.list.d/slimwick-src.sources >/dev/null
    fi
    $SUDO apt-get update -qq
    command -v dpkg-source >/dev/null || DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq dpkg-dev >/dev/null
    echo "install-deps: fetching the libdeflate source package"
    (cd "$deps_dir" && apt-get source -qq libdeflate >/dev/null 2>&1)
    src=$(find "$deps_dir" -maxdepth 1 -type d -name 'libdeflate-*' | sort | tail -n1)
  fi
  for arch in i686 x86_64; do
    out="$deps_dir/mingw-$arch"
    [ -f "$out/lib/libdeflate.a" ] && continue
    echo "install-deps: building libdeflate for $arch-w64-mingw32"
    work="$deps_dir/build-$arch"
    rm -rf "$work" && cp -r "$src" "$work"
    make -s -C "$work" CC="$arch-w64-mingw32-gcc" AR="$arch-w64-mingw32-ar" \
      CFLAGS="-O2" libdeflatestatic.lib >/dev/null
    mkdir -p "$out/lib" "$out/include"
    cp "$work/libdeflatestatic.lib" "$out/lib/libdeflate.a"
    cp "$work/libdeflate.h" "$out/include/"
    rm -rf "$work"
  done
fi
