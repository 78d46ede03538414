#!/usr/bin/env bash
# Installs the Debian packages the project needs, once. Idempotent: packages
# already present are not touched, and apt is not even asked when nothing is
# missing. Used by the run command, the test command and CI.
set -euo pipefail

PACKAGES=(
  cmake ninja-build g++ pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  nlohmann-json3-dev libsqlite3-dev libcpp-httplib-dev libcli11-dev
  qt6-base-dev qt6-translations-l10n fonts-dejavu-core poppler-utils
  xvfb xauth
  libpq-dev postgresql
  libsodium-dev libssl-dev openssl
  clang libclang-rt-14-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
