#!/usr/bin/env bash
# Builds the program and its engine library (installing what they need first) and starts it.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$ROOT/scripts/setup.sh"
install_packages
BUILD="${KELPA_BUILD_DIR:-$ROOT/build}"
configure "$BUILD"
# The program, the engine library it loads and what installing them takes (icons, manual page),
# and nothing else: no tests, no benchmarks.
cmake --build "$BUILD" -j2 --target kelpa
exec "$BUILD/bin/kelpa"
