#!/usr/bin/env bash
# Private services for tests and benchmarks: a PulseAudio daemon with null sinks only, an Xvfb
# display and a session bus, all in a private folder and torn down on exit. Sourced, not run:
#   source scripts/services.sh; start_services [--no-display-no-sound]
# afterwards PULSE_SERVER, DISPLAY, DBUS_SESSION_BUS_ADDRESS, HOME and XDG_RUNTIME_DIR point at
# the private ones. With --no-display-no-sound (the unit tier) only the folders and the bus are
# made, and DISPLAY and PULSE_SERVER lead nowhere.

PRIVATE="$(mktemp -d -t kelpa-test.XXXXXX)"
PA_PID=""
XVFB_PID=""
DBUS_PID=""
cleanup() {
  local pid
  for pid in "$PA_PID" "$XVFB_PID" "$DBUS_PID"; do
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

# The sinks tests take in turn, kelpa_sink_1 and up (KELPA_TEST_SINKS in tests/CMakeLists.txt),
# so that each test that plays or records hears only itself; kelpa_null for everything else.
KELPA_TEST_SINKS=12

start_pulseaudio() {
  {
    echo "load-module module-native-protocol-unix socket=$PRIVATE/native auth-anonymous=1"
    local sink
    for sink in kelpa_null $(seq -f "kelpa_sink_%g" 1 "$KELPA_TEST_SINKS"); do
      echo "load-module module-null-sink sink_name=$sink rate=44100 channels=2"
    done
    echo "set-default-sink kelpa_null"
  } >"$PRIVATE/kelpa.pa"
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
  # Xvfb picks a free display number itself and writes it to the descriptor. Without -noreset
  # it resets whenever its last client leaves, and a program connecting in that moment is
  # refused ("could not connect to display"), which failed process tests now and then.
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$PRIVATE/display" \
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

# A session bus of our own: kelpa puts itself on the session bus, and without one libdbus would
# start a bus for the X display that outlives the tests.
start_dbus() {
  dbus-daemon --session --nofork --print-address=3 3>"$PRIVATE/bus" >"$PRIVATE/dbus.log" 2>&1 &
  DBUS_PID=$!
  local i
  for ((i = 0; i < 100; i++)); do
    if [[ -s "$PRIVATE/bus" ]]; then
      export DBUS_SESSION_BUS_ADDRESS="$(head -n1 "$PRIVATE/bus")"
      return 0
    fi
    kill -0 "$DBUS_PID" 2>/dev/null || break
    sleep 0.1
  done
  echo "test: dbus-daemon did not come up; its log:" >&2
  cat "$PRIVATE/dbus.log" >&2
  return 1
}

start_services() {
  if [[ "${1:-}" == --no-display-no-sound ]]; then
    export DISPLAY= PULSE_SERVER="unix:/nowhere/kelpa-no-sound"
  else
    start_pulseaudio
    start_xvfb
    export KELPA_NULL_SINK=kelpa_null
  fi
  # Programs see only the private services and folders, never the user's session.
  export HOME="$PRIVATE/home"
  export XDG_RUNTIME_DIR="$PRIVATE/runtime"
  unset WAYLAND_DISPLAY
  start_dbus
}
