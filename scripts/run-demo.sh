#!/usr/bin/env bash
# Sets up what is missing, builds the portal and the component, and starts
# the web-mail site with a demo mailbox. Prints the address and the demo
# user's password on the first start.
#   scripts/run-demo.sh [DATA_DIR] [HOST:PORT]
# Defaults: ./demo-data and 127.0.0.1:8080. Stop with Ctrl-C.
set -euo pipefail
cd "$(dirname "$0")/.."

data=${1:-demo-data}
listen=${2:-127.0.0.1:8080}

scripts/install-deps.sh

# The portal target depends on the component module, so one build makes both.
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build-release -j"${LUMAREST_JOBS:-2}" --target lumarest-portal

exec build-release/bin/lumarest-portal --data "$data" --listen "$listen" --demo
