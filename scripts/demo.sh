#!/usr/bin/env bash
# Installs what is needed, builds, and runs CourioSvc in the foreground on a
# fresh sandbox home folder. Ctrl-C stops it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh -DCOURIO_TESTS=OFF -DCOURIO_BENCH=OFF
HOME_DIR=${COURIO_DEMO_HOME:-$PWD/sandbox/demo}
rm -rf "$HOME_DIR" && mkdir -p "$HOME_DIR"
echo "Home folder: $HOME_DIR (log: $HOME_DIR/CourioSvc ($(hostname)).log)"
exec build/CourioSvc debug --home "$HOME_DIR"
