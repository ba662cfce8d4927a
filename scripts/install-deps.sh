#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the portal need,
# only those that are missing. Safe to run again.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libgmime-3.0-dev libical-dev libcurl4-gnutls-dev libetpan-dev libsqlite3-dev libldap-dev
  libcpp-httplib-dev libsodium-dev libhiredis-dev g++-multilib
  redis-server dovecot-imapd slapd ldap-utils wrk curl python3
)
if [ "${LUMAREST_BROWSER_TESTS:-0}" = 1 ]; then
  packages+=(chromium fonts-dejavu-core)
  # Node.js may come from elsewhere on this machine; add Debian's only when none is there.
  command -v node >/dev/null && command -v npm >/dev/null || packages+=(nodejs npm)
fi
if [ "${LUMAREST_FUZZ:-0}" = 1 ]; then
  packages+=(clang libclang-rt-dev)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
