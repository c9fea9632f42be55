#!/usr/bin/env bash
# The main job on a local default: installs what is missing, builds, starts
# rpcbind when none runs, then runs the demo (which starts the omega and alpha
# development servers, slapd and dovecot with demo data on 127.0.0.1, runs
# dialcred three times and shows what happened), and stops what it started.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD

bash scripts/setup.sh
source scripts/rpcbind.sh
trap stop_rpcbind EXIT
start_rpcbind

cmake -S "$ROOT" -B "$ROOT/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$ROOT/build" -j"$(nproc)" --target dialcred dialcred_demo >/dev/null
"$ROOT/build/tests/dialcred_demo"
