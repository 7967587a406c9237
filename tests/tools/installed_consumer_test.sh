#!/bin/sh
# Installs the build into a temporary prefix, checks that nothing installed
# points into the build tree, then configures, builds and runs a small
# consumer against the installed package.
#
#   installed_consumer_test.sh BUILD_DIR CONSUMER_SOURCE CXX "CXX_FLAGS" [LAUNCHER]
set -eu
BUILD=$1 SOURCE=$2 CXX=$3 FLAGS=$4 LAUNCHER=${5:-}
PREFIX=$(mktemp -d "${TMPDIR:-/tmp}/scat-install.XXXXXX")
trap 'rm -rf "$PREFIX"' EXIT

fail() { echo "installed consumer: $*" >&2; exit 1; }

cmake --install "$BUILD" --prefix "$PREFIX/usr" >"$PREFIX/install.log" 2>&1 \
  || { cat "$PREFIX/install.log"; fail "cmake --install failed"; }

LIB=$(dirname "$(find "$PREFIX/usr" -name 'libstorage_catalog.so.*.*.*' | head -n 1)")
[ -n "$LIB" ] || fail "no versioned libstorage_catalog.so installed"
readelf -d "$LIB/libstorage_catalog.so.1" | grep -q 'SONAME.*\[libstorage_catalog\.so\.1\]' \
  || fail "libstorage_catalog.so.1 has no versioned SONAME"
for f in "$LIB"/lib*.so.1 "$PREFIX/usr/bin/scatctl"; do
  if readelf -d "$f" | grep -E 'R(UN)?PATH' | grep -q "$BUILD"; then
    fail "$f points into the build tree"
  fi
done
[ -f "$PREFIX/usr/include/storage_catalog/storaged/storage_catalog/storage_catalog_manager.h" ] \
  || fail "public headers missing"
if find "$PREFIX/usr/include" -name '*_internal.h' | grep -q .; then
  fail "internal headers installed"
fi

# The installed program runs on the installed libraries alone.
env -u LD_LIBRARY_PATH "$PREFIX/usr/bin/scatctl" --catalog "$PREFIX/scatctl.db" init >/dev/null \
  || fail "installed scatctl does not run"

cmake -S "$SOURCE" -B "$PREFIX/consumer" -DCMAKE_PREFIX_PATH="$PREFIX/usr" \
  -DCMAKE_CXX_COMPILER="$CXX" -DCMAKE_CXX_FLAGS="$FLAGS" \
  ${LAUNCHER:+-DCMAKE_CXX_COMPILER_LAUNCHER="$LAUNCHER"} >"$PREFIX/configure.log" 2>&1 \
  || { cat "$PREFIX/configure.log"; fail "the consumer does not configure"; }
cmake --build "$PREFIX/consumer" >"$PREFIX/build.log" 2>&1 \
  || { cat "$PREFIX/build.log"; fail "the consumer does not build"; }
mkdir "$PREFIX/data"
out=$(env -u LD_LIBRARY_PATH "$PREFIX/consumer/catalog_consumer" "$PREFIX/data") \
  || fail "the consumer failed"
[ "$out" = ok ] || fail "the consumer said '$out'"
echo "installed consumer: ok"
