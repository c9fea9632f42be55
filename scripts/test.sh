#!/usr/bin/env bash
# The whole test suite: installs what is missing, checks the layout of the
# sources (scripts/format.sh), builds, starts rpcbind when none runs, runs
# every test (the live ones start their own private slapd, dovecot, omega and
# alpha servers on loopback) once normally and once under the address and
# undefined-behaviour sanitizers, fuzzes every decoder for a bounded time
# (30 s each), builds the Debian packages (debian/, without running the suite
# a third time), installs and checks them, and stops what it started.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD

bash scripts/setup.sh
echo "== layout of the sources"
bash scripts/format.sh
source scripts/rpcbind.sh
trap stop_rpcbind EXIT
start_rpcbind

JOBS=$(nproc)
# Most of the live tests' time is spent waiting out a time-out (a silent
# server, a held lock), not computing: twice as many tests as cores.
TEST_JOBS=$((2 * JOBS))
run_suite() {  # build dir, extra cmake arguments...
  local dir=$1
  shift
  cmake -S "$ROOT" -B "$dir" -DDIALCRED_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j"$JOBS"
  (cd "$dir" && ctest --output-on-failure -j"$TEST_JOBS" --timeout 300)
}

echo "== test suite"
run_suite "$ROOT/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo

echo "== test suite under AddressSanitizer and UndefinedBehaviorSanitizer"
# CTest gives each test the sanitizer settings and the leak suppressions
# (cmake/Testing.cmake).
run_suite "$ROOT/build-asan" -DCMAKE_BUILD_TYPE=Debug -DDIALCRED_SANITIZE=ON

echo "== fuzzing: every decoder, reader and the keypad code for a bounded time"
FUZZ_SECONDS=${FUZZ_SECONDS:-30} bash scripts/fuzz.sh

echo "== Debian packages: built with dpkg-buildpackage, installed as a user gets them, lintian"
bash scripts/package-test.sh
