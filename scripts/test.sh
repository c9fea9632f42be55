#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds, starts rpcbind when
# none runs, runs every test (the live ones start their own private slapd,
# dovecot, omega and alpha servers on loopback), and stops what it started.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD

bash scripts/setup.sh
source scripts/rpcbind.sh
trap stop_rpcbind EXIT
start_rpcbind

JOBS=$(nproc)
cmake -S "$ROOT" -B "$ROOT/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDIALCRED_WERROR=ON >/dev/null
cmake --build "$ROOT/build" -j"$JOBS"
(cd "$ROOT/build" && ctest --output-on-failure -j"$JOBS" --timeout 300)
