#!/usr/bin/env bash
# Builds kelpa normally and with AddressSanitizer/UndefinedBehaviorSanitizer, then runs every
# test in both builds against a private sound server (PulseAudio with a null sink) and a
# virtual X display, and the fuzz targets briefly when fuzz/run.sh exists.
#   bash scripts/test.sh [extra ctest arguments, e.g. -R test_support]
# Environment: KELPA_BUILD_DIR, KELPA_ASAN_BUILD_DIR (default build/, build-asan/),
# KELPA_SKIP_ASAN=1 for a quicker local run, KELPA_FUZZ_SECONDS (default 60; 0 skips).
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$ROOT/scripts/setup.sh"

BUILD="${KELPA_BUILD_DIR:-$ROOT/build}"
BUILD_ASAN="${KELPA_ASAN_BUILD_DIR:-$ROOT/build-asan}"
SKIP_ASAN="${KELPA_SKIP_ASAN:-0}"
FUZZ_SECONDS="${KELPA_FUZZ_SECONDS:-60}"

started=$SECONDS
stamp() { echo "== $* ($((SECONDS - started)) s)"; }

stamp "packages"
install_packages --test-build
# The test tools install while the two builds run: apt waits on the network and dpkg, the
# builds on the compiler, and on a new machine the tools take minutes.
tools_log="$(mktemp)"
install_packages --tests >"$tools_log" 2>&1 &
tools=$!
stamp "build: $BUILD"
configure_and_build "$BUILD"
if [[ "$SKIP_ASAN" != 1 ]]; then
  stamp "build: $BUILD_ASAN (sanitizers)"
  configure_and_build "$BUILD_ASAN" -DKELPA_SANITIZE=ON
fi
stamp "test tools"
if ! wait "$tools"; then
  cat "$tools_log" >&2
  exit 1
fi
cat "$tools_log"
rm -f "$tools_log"

failed=()
# Formatting drift fails the run like a failing test, after the builds have shown their errors.
stamp "format check"
cmake --build "$BUILD" --target format-check || failed+=("format-check")

source "$ROOT/scripts/services.sh"

stamp "services"
start_services
export KELPA_REQUIRE_SOUND=1
echo "PULSE_SERVER=$PULSE_SERVER DISPLAY=$DISPLAY"

run_ctest() {
  local dir="$1"
  shift
  stamp "tests: $dir"
  if ! (cd "$dir" && env "$@" ctest --output-on-failure --no-tests=error -j2 "${CTEST_ARGS[@]}"); then
    failed+=("$dir")
  fi
}

CTEST_ARGS=("$@")
run_ctest "$BUILD"
# Qt and fontconfig keep some memory until exit, so leak reports would be noise; every other
# sanitizer finding stops the test with a failure.
if [[ "$SKIP_ASAN" != 1 ]]; then
  run_ctest "$BUILD_ASAN" \
    ASAN_OPTIONS="detect_leaks=0" \
    UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
fi

if [[ -f "$ROOT/fuzz/run.sh" && "$FUZZ_SECONDS" != 0 ]]; then
  stamp "fuzz: $FUZZ_SECONDS s"
  if ! bash "$ROOT/fuzz/run.sh" "$FUZZ_SECONDS"; then
    failed+=("fuzz")
  fi
fi

stamp "done"
if ((${#failed[@]} != 0)); then
  echo "test: failures in: ${failed[*]}" >&2
  exit 1
fi
