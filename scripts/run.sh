#!/usr/bin/env bash
# Builds kelpa (installing what it needs first) and starts it.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$ROOT/scripts/setup.sh"
install_packages
BUILD="${KELPA_BUILD_DIR:-$ROOT/build}"
configure_and_build "$BUILD"
exec "$BUILD/bin/kelpa"
