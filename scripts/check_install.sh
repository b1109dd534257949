#!/usr/bin/env bash
# Installs the library into a scratch prefix and builds a program against it
# twice: through find_package(cgmlib) and through pkg-config.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${1:-$root/build/gcc}
prefix=$root/build/install
rm -rf "$prefix" "$root/build/consumer"
cmake --install "$build" --prefix "$prefix" >/dev/null
cmake -S "$root/tests/consumer" -B "$root/build/consumer" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$root/build/consumer" >/dev/null
"$root/build/consumer/consumer" "$root/build/consumer/out.cgm" >/dev/null
cc -o "$root/build/consumer/consumer-pc" "$root/tests/consumer/main.c" \
  $(PKG_CONFIG_PATH="$prefix/lib/pkgconfig:$prefix/lib64/pkgconfig" pkg-config --cflags --libs --static cgmlib)
"$root/build/consumer/consumer-pc" "$root/build/consumer/out2.cgm" >/dev/null
cmp "$root/build/consumer/out.cgm" "$root/build/consumer/out2.cgm"
echo "install check: find_package and pkg-config consumers built and ran"
