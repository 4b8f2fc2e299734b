#!/usr/bin/env bash
# Builds kelpa and runs its tests, by tier (tests/CMakeLists.txt: unit, x11, sound, process,
# browser, package), against a private sound server with null sinks, a virtual X display and a
# session bus.
#   bash scripts/test.sh [--quick] [extra ctest arguments, e.g. -R test_support]
# Without --quick: builds normally and, with clang, with AddressSanitizer and
# UndefinedBehaviorSanitizer, the fuzz targets included; checks the formatting, runs every tier in
# the normal build and the tiers where our own code does the work (unit, x11, sound, process) in
# the sanitizer build, and runs the fuzz targets.
# --quick: builds normally and runs the unit tier alone, without display or sound.
# Environment: KELPA_BUILD_DIR, KELPA_ASAN_BUILD_DIR (default build/, build-asan/),
# KELPA_SKIP_ASAN=1 for a quicker local run, KELPA_FUZZ_SECONDS (default 30; 0 skips),
# KELPA_TEST_JOBS (tests run at once, default 4).
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$ROOT/scripts/setup.sh"

QUICK=0
if [[ "${1:-}" == --quick ]]; then
  QUICK=1
  shift
fi
BUILD="${KELPA_BUILD_DIR:-$ROOT/build}"
BUILD_ASAN="${KELPA_ASAN_BUILD_DIR:-$ROOT/build-asan}"
SKIP_ASAN="${KELPA_SKIP_ASAN:-0}"
FUZZ_SECONDS="${KELPA_FUZZ_SECONDS:-30}"
# Most tests wait on the sound server's clock, on chromium or on other processes, not on the
# processor: more of them than there are cores run side by side.
JOBS="${KELPA_TEST_JOBS:-4}"
# The tiers the sanitizer build runs: those whose time goes to our own code. Chromium and dpkg
# would take the time of the browser and package tiers, and find nothing in ours.
ASAN_TIERS="unit|x11|sound|process"
CTEST_ARGS=("$@")

# A clean machine, as CI's is, has nothing cached: ccache would only add its own work to every
# compile there.
if [[ "${CI:-}" == true ]]; then
  export CCACHE_DISABLE=1
fi

started=$SECONDS
stamp() { echo "== $* ($((SECONDS - started)) s)"; }

# build_for_tests DIR [cmake args...]: configures DIR and builds all but the benchmarks, which no
# test runs; the full run builds them later, behind the tests.
build_for_tests() {
  configure "$@"
  local targets
  mapfile -t targets < <(ninja -C "$1" -t query all |
    awk '/^  input:/ { f = 1; next } /^  outputs:/ { f = 0 } f && $1 != "bench/all" { print $1 }')
  cmake --build "$1" -j2 --target "${targets[@]}"
}

failed=()
# run_ctest DIR TIERS [VAR=value...]: the tests of the tiers (a regular expression) in DIR.
run_ctest() {
  local dir="$1" tiers="$2"
  shift 2
  stamp "tests: $dir, tiers $tiers"
  local began=$SECONDS
  # A subset named by the caller may hold none of the tiers' tests.
  local none=error
  ((${#CTEST_ARGS[@]} == 0)) || none=ignore
  if ! (cd "$dir" && env "$@" ctest --output-on-failure --no-tests=$none -j"$JOBS" \
    -L "^($tiers)\$" "${CTEST_ARGS[@]}"); then
    failed+=("$dir")
  fi
  stamp "tests: $dir done in $((SECONDS - began)) s"
}

if ((QUICK)); then
  install_packages --test-build
  stamp "build: $BUILD"
  build_for_tests "$BUILD"
  source "$ROOT/scripts/services.sh"
  start_services --no-display-no-sound
  run_ctest "$BUILD" unit
  stamp "done"
  if ((${#failed[@]} != 0)); then
    echo "test: failures in: ${failed[*]}" >&2
    exit 1
  fi
  exit 0
fi

stamp "packages"
install_packages --test-build
# The test tools install while the build runs: apt waits on the network and dpkg, the build on
# the compiler, and on a new machine the tools take minutes. clang comes first, on its own, so
# that the sanitizer build can start with it; the rest follows in the same job, as dpkg takes one
# install at a time. $compilers gets the status of clang's install.
tools_log="$(mktemp)"
compilers="$(mktemp)"
(
  status=0
  install_packages --sanitizer-build || status=$?
  echo "$status" >"$compilers"
  ((status == 0)) && install_packages --tests
) >"$tools_log" 2>&1 &
tools=$!

# What uses the processor runs behind the normal build and its tests, at a lower priority: they
# keep their timing, and it takes what they leave. The build waits on the processor and the tests
# mostly on the sound server's clock, chromium and other processes. The sanitizer build makes
# only what its tiers and the fuzzing run (no benchmarks, no remotehost).
# nicely LEVEL LOG COMMAND...: runs the command in the background at that niceness.
nicely() {
  local level="$1" log="$2"
  shift 2
  (
    renice -n "$level" "$BASHPID" >/dev/null
    "$@"
  ) >"$log" 2>&1 &
}
asan_log="$(mktemp)"
asan=""
if [[ "$SKIP_ASAN" != 1 ]]; then
  build_asan() {
    local began=$SECONDS
    until [[ -s "$compilers" ]]; do
      sleep 0.2
    done
    if [[ "$(<"$compilers")" != 0 ]]; then
      echo "== build: $BUILD_ASAN (sanitizers): clang did not install"
      return 1
    fi
    if ((SECONDS > began)); then
      echo "== build: $BUILD_ASAN (sanitizers) waited $((SECONDS - began)) s for clang"
    fi
    configure_sanitized "$BUILD_ASAN" && cmake --build "$BUILD_ASAN" -j2 || return 1
    echo "== build: $BUILD_ASAN (sanitizers) took $((SECONDS - began)) s"
  }
  nicely 10 "$asan_log" build_asan
  asan=$!
fi
# The benchmarks, which nothing here runs but which must go on building, build behind the normal
# build's tests and behind the sanitizer build, lowest of all.
bench_log="$(mktemp)"
bench=""
build_benchmarks() {
  local began=$SECONDS
  cmake --build "$BUILD" -j2 --target bench/all || return 1
  echo "== build: benchmarks took $((SECONDS - began)) s"
}

# An interrupted run takes what runs behind it down with it.
stop_tree() {
  local child
  for child in $(pgrep -P "$1"); do
    stop_tree "$child"
  done
  kill "$1" 2>/dev/null || true
}
stop_behind() {
  local job
  for job in "$asan" "$bench"; do
    [[ -n "$job" ]] && stop_tree "$job"
  done
  rm -f "$compilers" "$asan_log" "$bench_log"
}
trap stop_behind EXIT

stamp "build: $BUILD"
build_for_tests "$BUILD"
stamp "test tools"
if ! wait "$tools"; then
  cat "$tools_log" >&2
  exit 1
fi
cat "$tools_log"
rm -f "$tools_log"

# Formatting drift fails the run like a failing test, after the build has shown its errors.
stamp "format check"
cmake --build "$BUILD" --target format-check || failed+=("format-check")

source "$ROOT/scripts/services.sh"
trap 'stop_behind; cleanup' EXIT

stamp "services"
start_services
export KELPA_REQUIRE_SOUND=1
echo "PULSE_SERVER=$PULSE_SERVER DISPLAY=$DISPLAY"

run_ctest "$BUILD" "unit|x11|sound|process|browser|package"

nicely 19 "$bench_log" build_benchmarks
bench=$!

if [[ -n "$asan" ]]; then
  stamp "waiting for the sanitizer build"
  asan_status=0
  wait "$asan" || asan_status=$?
  cat "$asan_log"
  if ((asan_status != 0)); then
    failed+=("$BUILD_ASAN (build)")
  else
    # Qt and fontconfig keep some memory until exit, so leak reports would be noise; every
    # other sanitizer finding stops the test with a failure.
    run_ctest "$BUILD_ASAN" "$ASAN_TIERS" \
      ASAN_OPTIONS="detect_leaks=0" \
      UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
  fi
fi

# The fuzz targets are the sanitizer build's, built with it. They run for a time, not a number of
# runs: last, ahead of nothing but the benchmarks' build, and not beside the sanitizer tests, where
# they would get a tenth of the processor and make a tenth of the runs.
if [[ -f "$ROOT/fuzz/run.sh" && "$FUZZ_SECONDS" != 0 ]]; then
  stamp "fuzz: $FUZZ_SECONDS s"
  KELPA_FUZZ_BUILD="$BUILD_ASAN" bash "$ROOT/fuzz/run.sh" "$FUZZ_SECONDS" || failed+=("fuzz")
fi
stamp "waiting for the benchmarks' build"
if wait "$bench"; then
  tail -n 3 "$bench_log"
else
  cat "$bench_log"
  failed+=("benchmarks (build)")
fi

stamp "done"
if ((${#failed[@]} != 0)); then
  echo "test: failures in: ${failed[*]}" >&2
  exit 1
fi
