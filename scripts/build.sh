#!/usr/bin/env bash
# Configures and builds into $BUILD_DIR (default build/). Extra arguments are
# passed to cmake's configure step (they override the defaults below);
# $BUILD_TARGETS, when set, limits the build to those targets.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCOURIO_TESTS=ON -DCOURIO_BENCH=ON -DCOURIO_TOOLS=ON -DCOURIO_SANITIZE=OFF "$@" >/dev/null
if [ -n "${BUILD_TARGETS:-}" ]; then
  # shellcheck disable=SC2086
  cmake --build "$BUILD_DIR" -j2 --target $BUILD_TARGETS
else
  cmake --build "$BUILD_DIR" -j2
fi
