#!/usr/bin/env bash
# Builds kelpa (installing what it needs first) and starts it.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$ROOT/scripts/setup.sh"
install_packages
configure_and_build "$ROOT/build"
exec "$ROOT/build/bin/kelpa"
