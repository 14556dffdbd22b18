#!/usr/bin/env bash
# Installs what is needed, builds with -j2 and runs every test.
# Then repeats the tests in an AddressSanitizer/UBSan build (build-asan/)
# unless COURIO_SKIP_SANITIZE=1.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
(cd build && ctest --output-on-failure -j2 --timeout 300)
if [ "${COURIO_SKIP_SANITIZE:-0}" != 1 ]; then
  BUILD_DIR=build-asan scripts/build.sh -DCOURIO_SANITIZE=ON -DCOURIO_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug
  (cd build-asan && ctest --output-on-failure -j2 --timeout 300)
fi
