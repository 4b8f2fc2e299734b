#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for a bounded time: the engine's file
# handling, then the web remote's request handling.
# Usage: fuzz/run.sh [seconds]   (default 60)
set -euo pipefail
seconds=${1:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KELPA_FUZZ_BUILD:-$root/build-fuzz}
corpus=$build/corpus
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DKELPA_FUZZ=ON \
  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined" \
  -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
cmake --build "$build" -j2 --target fuzz_engine fuzz_request
mkdir -p "$corpus"
# Seed with small real MP3s so the fuzzer starts inside the decoder, not at the frame check.
if command -v sox >/dev/null && command -v lame >/dev/null && [ ! -e "$corpus/seed-cbr.mp3" ]; then
  tmp=$(mktemp -d)
  sox -n -r 22050 -c 1 "$tmp/t.wav" synth 0.3 sine 440 2>/dev/null
  lame --quiet -b 32 --tt "Seed" --ta "Tone" "$tmp/t.wav" "$corpus/seed-cbr.mp3"
  lame --quiet -V 6 "$tmp/t.wav" "$corpus/seed-vbr.mp3"
  rm -rf "$tmp"
fi
export ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1
"$build/bin/fuzz_engine" -max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=2048 \
  -print_final_stats=1 "$corpus" 2>&1 | tail -n 12

# Seed the request target with the requests a browser and the remote's own pages make.
corpus_request=$build/corpus-request
mkdir -p "$corpus_request"
if [ ! -e "$corpus_request/seed-login" ]; then
  printf 'GET / HTTP/1.0\r\n\r\n' >"$corpus_request/seed-root"
  printf 'GET /l.cgi?id=wuzel HTTP/1.1\r\nHost: kelpa\r\n\r\n' >"$corpus_request/seed-login"
  printf 'GET /42/p12#12 HTTP/1.0\r\n\r\n' >"$corpus_request/seed-entry"
  printf 'GET /42/3 HTTP/1.0\r\nUser-Agent: x\r\n\r\n' >"$corpus_request/seed-stop"
  printf 'POST /42/ HTTP/1.0\r\n\r\nbody' >"$corpus_request/seed-post"
fi
"$build/bin/fuzz_request" -max_total_time="$seconds" -max_len=20000 -timeout=10 -rss_limit_mb=2048 \
  -print_final_stats=1 "$corpus_request" 2>&1 | tail -n 12
