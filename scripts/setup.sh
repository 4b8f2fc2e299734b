#!/usr/bin/env bash
# Installs what kelpa needs from Debian, then configures and builds it.
#   bash scripts/setup.sh [BUILD_DIR] [extra cmake arguments...]
# BUILD_DIR defaults to build/ in the repository. Safe to run again: packages are only
# installed when one is missing, and cmake only reconfigures what changed.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# What building and running kelpa need, and no more.
PACKAGES=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-base-dev-tools libmpg123-dev libpulse-dev libqrencode-dev
  # Xlib, to let it release what it keeps of sent requests (player/xlibrequests.h)
  libx11-dev
  # the captions are Japanese; the windows prefer the compact Motoya font for them
  fonts-noto-cjk fonts-motoya-l-cedar
  # Qt's own texts (menus, file dialog, buttons) in Japanese
  qt6-translations-l10n
)

# What the test and benchmark programs link beside the program's own libraries: TagLib, the
# yardstick our tag reader is checked and timed against. Needed before the build is configured.
TEST_BUILD_PACKAGES=(libtag1-dev)

# What the sanitizer build and the fuzz targets in it are compiled with: clang and its sanitizer
# runtimes. scripts/test.sh installs them first of the test tools and starts that build as soon
# as they are in.
SANITIZER_BUILD_PACKAGES=(clang libclang-rt-14-dev)

# What the tests add (scripts/test.sh installs them): a private sound server, fixture making,
# a virtual display, a QR code reader, a real browser, the formatter, a session bus and its
# media player client, and the checks of the installed and packaged program.
TEST_PACKAGES=(
  python3 clang-format
  pulseaudio pulseaudio-utils sox libsox-fmt-mp3 lame
  xvfb x11-utils xdotool imagemagick zbar-tools
  chromium chromium-driver python3-selenium
  dbus playerctl
  # the media controls' tests: gdbus for the calls playerctl does not make
  libglib2.0-bin
  desktop-file-utils appstream man-db dpkg-dev file lintian
)

# missing_packages NAME... prints the names that are not installed.
missing_packages() {
  local p
  for p in "$@"; do
    if [[ "$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null)" != "install ok installed" ]]; then
      printf '%s\n' "$p"
    fi
  done
}

# install_packages [--test-build | --sanitizer-build | --tests]: what building and running need;
# with --test-build also what building the tests needs, with --sanitizer-build also the compiler
# of the sanitizer build, with --tests all that and what running the tests needs.
install_packages() {
  local wanted=("${PACKAGES[@]}")
  case "${1:-}" in
    --tests) wanted+=("${TEST_PACKAGES[@]}") ;&
    --sanitizer-build) wanted+=("${SANITIZER_BUILD_PACKAGES[@]}") ;&
    --test-build) wanted+=("${TEST_BUILD_PACKAGES[@]}") ;;
  esac
  local missing
  mapfile -t missing < <(missing_packages "${wanted[@]}")
  ((${#missing[@]} == 0)) && return 0
  # sudo drops the caller's environment, so the frontend setting goes through env.
  local as_root=(env DEBIAN_FRONTEND=noninteractive)
  ((EUID == 0)) || as_root=(sudo "${as_root[@]}")
  echo "setup: installing ${missing[*]}"
  "${as_root[@]}" apt-get update -qq
  "${as_root[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
  mapfile -t missing < <(missing_packages "${wanted[@]}")
  if ((${#missing[@]} != 0)); then
    echo "setup: still missing after install: ${missing[*]}" >&2
    return 1
  fi
}

# configure DIR [cmake args...]
configure() {
  local dir="$1"
  shift
  cmake -S "$ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
}

# configure_sanitized DIR: the build with AddressSanitizer and UndefinedBehaviorSanitizer, and
# the fuzz targets beside the tests. clang, not gcc: it builds this tree in about two thirds of
# the time, and libFuzzer is clang's. scripts/test.sh and fuzz/run.sh configure it alike, so
# either finds the other's objects up to date.
configure_sanitized() {
  configure "$1" -DKELPA_SANITIZE=ON -DKELPA_FUZZ=ON \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
}

# configure_and_build DIR [cmake args...]: everything, tests and benchmarks included.
configure_and_build() {
  configure "$@"
  cmake --build "$1" -j2
}

# Sourced by run.sh and test.sh for the functions above; run directly it does the whole job.
if [[ "${BASH_SOURCE[0]}" == "$0" ]]; then
  BUILD_DIR="$ROOT/build"
  if (($# > 0)) && [[ "$1" != -* ]]; then
    BUILD_DIR="$1"
    shift
  fi
  install_packages --test-build
  configure_and_build "$BUILD_DIR" "$@"
fi
