#!/usr/bin/env bash
# The fuzz stage: builds the libFuzzer targets of fuzz/ with clang in
# build-fuzz and runs each for a bounded time on a copy of its seed corpus
# (fuzz/corpus/<target>) and of its saved regressions, so the repository is
# never written. Prints per target the executions and whether anything was
# found; exits non-zero when a target crashed, leaked, timed out or ran out
# of memory. What a target found is kept in build-fuzz/findings/<target>/.
#
#   FUZZ_SECONDS   run time of each target (default 60)
#   FUZZ_JOBS      targets run at once (default: the number of cores)
#   FUZZ_TARGETS   the targets to run (default: all five)
#   FUZZ_ASAN_OPTIONS  AddressSanitizer options of the runs (default
#                  detect_leaks=1; an ASAN_OPTIONS of the caller is not
#                  taken, since slow unwinding on malloc would cost most of
#                  the executions)
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=$ROOT/build-fuzz
SECONDS_EACH=${FUZZ_SECONDS:-60}
JOBS=${FUZZ_JOBS:-$(nproc)}
read -ra TARGETS <<<"${FUZZ_TARGETS:-fuzz_omega_answers fuzz_alpha_answers fuzz_common fuzz_readers fuzz_keypad}"
START=$(date +%s)

# clang and its fuzzer runtime.
missing=()
for p in clang libclang-rt-14-dev; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "fuzz: installing ${missing[*]}"
  SUDO=""
  [[ $(id -u) -ne 0 ]] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

echo "== fuzz: building in $BUILD"
cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DDIALCRED_FUZZ=ON -DDIALCRED_TESTS=OFF >/dev/null
cmake --build "$BUILD" -j"$(nproc)" --target fuzzers >/dev/null

export ASAN_OPTIONS=${FUZZ_ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
unset LSAN_OPTIONS

WORK=$(mktemp -d /tmp/dialcred-fuzz.XXXXXX)
trap 'rm -rf "$WORK"' EXIT

# One target: its corpus copied into the work folder, libFuzzer's report in
# run.log, whatever it found under art/.
run_target() {
  local t=$1 dir=$WORK/$1
  mkdir -p "$dir/corpus" "$dir/art"
  for src in "$ROOT/fuzz/corpus/$t" "$ROOT/fuzz/regressions/$t"; do
    [[ -d $src ]] && cp -r "$src/." "$dir/corpus/"
  done
  local rc=0
  (cd "$dir" && timeout $((SECONDS_EACH + 120)) "$BUILD/fuzz/$t" \
      -max_total_time="$SECONDS_EACH" -rss_limit_mb=2048 -timeout=10 \
      -print_final_stats=1 -artifact_prefix="$dir/art/" corpus >run.log 2>&1) || rc=$?
  echo "$rc" >"$dir/rc"
}

echo "== fuzz: ${#TARGETS[@]} targets, $SECONDS_EACH s each, $JOBS at a time"
running=0
for t in "${TARGETS[@]}"; do
  run_target "$t" &
  running=$((running + 1))
  if ((running >= JOBS)); then
    wait -n
    running=$((running - 1))
  fi
done
wait

failed=0
for t in "${TARGETS[@]}"; do
  dir=$WORK/$t
  rc=$(cat "$dir/rc" 2>/dev/null || echo 1)
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/run.log" | tail -n 1)
  found=()
  names=""
  for f in "$dir"/art/crash-* "$dir"/art/leak-* "$dir"/art/timeout-* "$dir"/art/oom-*; do
    if [[ -e $f ]]; then
      found+=("$f")
      names+="${f##*/} "
    fi
  done
  if [[ $rc == 0 && ${#found[@]} == 0 ]]; then
    printf '%-20s %10s executions   nothing found\n' "$t" "${execs:-?}"
    continue
  fi
  failed=$((failed + 1))
  keep=$BUILD/findings/$t
  mkdir -p "$keep"
  if ((${#found[@]})); then
    cp "${found[@]}" "$keep/"
  fi
  cp "$dir/run.log" "$keep/run.log"
  printf '%-20s %10s executions   FOUND (exit %s): %s\n' "$t" "${execs:-?}" "$rc" \
    "${names:-no input saved}"
  echo "  kept in $keep; the report:"
  grep -E 'ERROR:|SUMMARY:|fuzz check failed|runtime error| in xdr_| in frd_| in t2pw| in pinpw2t' \
    "$dir/run.log" | grep -v NEW_FUNC | head -n 12 | sed 's/^/    /' || true
done

echo "== fuzz: $((${#TARGETS[@]} - failed)) of ${#TARGETS[@]} targets found nothing; $(($(date +%s) - START)) s"
exit $((failed > 0))
