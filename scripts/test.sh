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
install_packages
stamp "build: $BUILD"
configure_and_build "$BUILD"
if [[ "$SKIP_ASAN" != 1 ]]; then
  stamp "build: $BUILD_ASAN (sanitizers)"
  configure_and_build "$BUILD_ASAN" -DKELPA_SANITIZE=ON
fi

# ---- private services, torn down on any exit ----
PRIVATE="$(mktemp -d -t kelpa-test.XXXXXX)"
PA_PID=""
XVFB_PID=""
cleanup() {
  local pid
  for pid in "$PA_PID" "$XVFB_PID"; do
    [[ -n "$pid" ]] || continue
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$PRIVATE"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

mkdir -p "$PRIVATE/home" "$PRIVATE/runtime"
chmod 700 "$PRIVATE/runtime"

start_pulseaudio() {
  cat >"$PRIVATE/kelpa.pa" <<PA
load-module module-native-protocol-unix socket=$PRIVATE/native auth-anonymous=1
load-module module-null-sink sink_name=kelpa_null rate=44100 channels=2
set-default-sink kelpa_null
PA
  # -n skips the system's default.pa, so only the null sink exists; running as root (CI) is
  # allowed outside --system mode, with a warning.
  env HOME="$PRIVATE/home" XDG_RUNTIME_DIR="$PRIVATE/runtime" \
    PULSE_RUNTIME_PATH="$PRIVATE/runtime" PULSE_STATE_PATH="$PRIVATE/home/pulse-state" \
    pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit --use-pid-file=no \
    --realtime=no --high-priority=no --log-target=stderr -F "$PRIVATE/kelpa.pa" \
    >"$PRIVATE/pulseaudio.log" 2>&1 &
  PA_PID=$!
  export PULSE_SERVER="unix:$PRIVATE/native"
  local i
  for ((i = 0; i < 100; i++)); do
    if pactl info >/dev/null 2>&1; then
      return 0
    fi
    kill -0 "$PA_PID" 2>/dev/null || break
    sleep 0.1
  done
  echo "test: PulseAudio did not come up; its log:" >&2
  cat "$PRIVATE/pulseaudio.log" >&2
  return 1
}

start_xvfb() {
  # Xvfb picks a free display number itself and writes it to the descriptor.
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$PRIVATE/display" \
    >"$PRIVATE/xvfb.log" 2>&1 &
  XVFB_PID=$!
  local i
  for ((i = 0; i < 100; i++)); do
    if [[ -s "$PRIVATE/display" ]] && xdpyinfo -display ":$(head -n1 "$PRIVATE/display")" >/dev/null 2>&1; then
      export DISPLAY=":$(head -n1 "$PRIVATE/display")"
      return 0
    fi
    kill -0 "$XVFB_PID" 2>/dev/null || break
    sleep 0.1
  done
  echo "test: Xvfb did not come up; its log:" >&2
  cat "$PRIVATE/xvfb.log" >&2
  return 1
}

stamp "services"
start_pulseaudio
start_xvfb
# Tests see only the private services and folders, never the user's session.
export HOME="$PRIVATE/home"
export XDG_RUNTIME_DIR="$PRIVATE/runtime"
export KELPA_NULL_SINK=kelpa_null
export KELPA_REQUIRE_SOUND=1
unset WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS
echo "PULSE_SERVER=$PULSE_SERVER DISPLAY=$DISPLAY"

failed=()
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
