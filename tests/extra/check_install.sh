#!/usr/bin/env bash
# usage: check_install.sh BUILD_DIR SOURCE_DIR
# Installs the build into a scratch prefix, then builds and runs a small
# application against it with find_package() and with pkg-config.
set -euo pipefail
build=$1 src=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cmake --install "$build" --prefix "$tmp/prefix" >/dev/null
libdir=$(dirname "$(find "$tmp/prefix" -name 'libnxtka.so.1' | head -1)")
test -f "$tmp/prefix/include/nxtka.h"
test -L "$libdir/libnxtka.so"

cmake -S "$src/tests/extra/consumer" -B "$tmp/cmake-app" -DCMAKE_PREFIX_PATH="$tmp/prefix" >/dev/null
cmake --build "$tmp/cmake-app" >/dev/null
LD_LIBRARY_PATH="$libdir" "$tmp/cmake-app/consumer"

export PKG_CONFIG_PATH="$libdir/pkgconfig"
cc -o "$tmp/pc-app" "$src/tests/extra/consumer/main.c" $(pkg-config --cflags --libs nxtka) ${NXTKA_EXTRA_LDFLAGS:-}
LD_LIBRARY_PATH="$libdir" "$tmp/pc-app"
echo "install works with find_package and pkg-config"
