#!/usr/bin/env bash
# Installs what is needed, builds with -j2 and runs every test. Then repeats
# the tests under AddressSanitizer + UBSan (build-asan/) and the threaded
# parts under ThreadSanitizer (build-tsan/). COURIO_SKIP_SANITIZE=1 skips both.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
(cd build && ctest --output-on-failure -j2 --timeout 300)
if [ "${COURIO_SKIP_SANITIZE:-0}" != 1 ]; then
  BUILD_DIR=build-asan scripts/build.sh -DCOURIO_SANITIZE=ON -DCOURIO_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug
  (cd build-asan && ctest --output-on-failure -j2 --timeout 300)
  threaded="common_tests store_tests trackers_tests service_tests uploader_tests console_tests"
  BUILD_DIR=build-tsan BUILD_TARGETS="$threaded" \
    scripts/build.sh -DCOURIO_TSAN=ON -DCOURIO_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug
  (cd build-tsan && TSAN_OPTIONS="halt_on_error=1" ctest --output-on-failure -j2 --timeout 300 \
    -L 'common|store|trackers|service|uploader|console')
fi
