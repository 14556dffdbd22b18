#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need.
# Idempotent and quiet: does nothing when everything is present.
set -euo pipefail

packages=(
  build-essential cmake pkg-config git ca-certificates openssl
  libsqlite3-dev sqlite3 zlib1g-dev libssl-dev libcurl4-openssl-dev
  nlohmann-json3-dev libcpp-httplib-dev libkainjow-mustache-dev
  unixodbc unixodbc-dev odbcinst libsqliteodbc tdsodbc
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  procps psmisc curl
  chromium
)
# Node.js and npm drive the browser test; a Node.js from elsewhere that
# already brings npm is kept.
command -v npm >/dev/null 2>&1 || packages+=(nodejs npm)

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

# The browser test's npm packages (playwright-core, pinned by its lock file),
# installed again only when the lock file changed.
browser_dir="$(cd "$(dirname "$0")/.." && pwd)/tests/browser"
if [ -f "$browser_dir/package-lock.json" ] &&
   ! cmp -s "$browser_dir/package-lock.json" "$browser_dir/node_modules/.installed-lock.json"; then
  echo "Installing the browser test's npm packages"
  (cd "$browser_dir" && npm ci --no-audit --no-fund --loglevel=error >/dev/null &&
    cp package-lock.json node_modules/.installed-lock.json)
fi
