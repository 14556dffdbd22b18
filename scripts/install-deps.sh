#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need.
# Idempotent and quiet: does nothing when everything is present.
set -euo pipefail

packages=(
  build-essential cmake pkg-config git ca-certificates openssl
  libsqlite3-dev sqlite3 zlib1g-dev libssl-dev libcurl4-openssl-dev
  nlohmann-json3-dev libcpp-httplib-dev
  unixodbc unixodbc-dev odbcinst libsqliteodbc tdsodbc
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  procps psmisc curl
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
