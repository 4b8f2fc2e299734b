#!/usr/bin/env bash
# Builds kelpa and runs every benchmark against its peer, with the same private sound server
# and virtual display the tests use. Prints the figures; asserts nothing.
#   bash bench/run.sh [ARGS]   (ARGS go to bench_remote_memory.py, e.g. --full)
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$ROOT/scripts/setup.sh"
BUILD="${KELPA_BUILD_DIR:-$ROOT/build}"
install_packages --tests
# The peers are benchmarks' business only, so they are installed here and not by setup.sh.
for peer in mpg123 audacious; do
  if ! command -v "$peer" >/dev/null; then
    as_root=(env DEBIAN_FRONTEND=noninteractive)
    ((EUID == 0)) || as_root=(sudo "${as_root[@]}")
    "${as_root[@]}" apt-get install -y -qq "$peer" >/dev/null
  fi
done
configure_and_build "$BUILD"
source "$ROOT/scripts/services.sh"
start_services
export QT_QPA_PLATFORM=xcb

for bench in "$BUILD"/bin/bench_*; do
  [[ -x "$bench" ]] || continue
  echo "== $(basename "$bench")"
  "$bench"
done
echo "== bench_startup.py"
python3 "$ROOT/bench/bench_startup.py" "$BUILD/bin/kelpa" 11
echo "== bench_memory.py"
python3 "$ROOT/bench/bench_memory.py" "$BUILD/bin/kelpa"
echo "== bench_trust.py"
python3 "$ROOT/bench/bench_trust.py" "$BUILD/bin/remotehost" "$BUILD/bin"
echo "== bench_remote_memory.py"
python3 "$ROOT/bench/bench_remote_memory.py" "$BUILD/bin/remotehost" "$BUILD/bin" "$@"
