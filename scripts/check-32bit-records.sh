#!/usr/bin/env bash
# Compiles the mail records for a 32-bit target, where their sizes and offsets
# are asserted at compile time against the exchange layout. Skipped (with a
# note) when no 32-bit toolchain can be installed.
set -euo pipefail
cd "$(dirname "$0")/.."
if ! echo 'int main(){}' | g++ -m32 -x c++ - -o /dev/null 2>/dev/null; then
  if [ "$(id -u)" -eq 0 ]; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq g++-multilib >/dev/null 2>&1 || true
  fi
fi
if ! echo 'int main(){}' | g++ -m32 -x c++ - -o /dev/null 2>/dev/null; then
  echo "32-bit record layout check skipped: no 32-bit toolchain"
  exit 0
fi
g++ -m32 -std=c++20 -Wall -Wextra -I. -c records/MailRecords.cpp -o /dev/null
echo "32-bit record layout check passed"
