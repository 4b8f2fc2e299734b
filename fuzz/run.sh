#!/usr/bin/env bash
# Builds the fuzz targets and runs both at once for a bounded time: the engine's file handling
# and the web remote's request handling.
# Usage: fuzz/run.sh [seconds]   (default 60)
# They are built in the sanitizer build (clang; scripts/setup.sh, configure_sanitized), whose
# code carries libFuzzer's coverage hooks: KELPA_FUZZ_BUILD, default build-asan/, as
# scripts/test.sh builds it. Only what they need is built; after the test script, nothing is.
set -euo pipefail
seconds=${1:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/setup.sh"
build=${KELPA_FUZZ_BUILD:-$root/build-asan}
corpus=$build/corpus
configure_sanitized "$build"
cmake --build "$build" -j2 --target fuzz_engine fuzz_request
mkdir -p "$corpus"
# Seed with small real MP3s so the fuzzer starts inside the decoder, not at the frame check.
if command -v sox >/dev/null && command -v lame >/dev/null && [ ! -e "$corpus/seed-cbr.mp3" ]; then
  tmp=$(mktemp -d)
  sox -n -r 22050 -c 1 "$tmp/t.wav" synth 0.3 sine 440 2>/dev/null
  lame --quiet -b 32 --tt "Seed" --ta "Tone" "$tmp/t.wav" "$corpus/seed-cbr.mp3"
  lame --quiet -V 6 "$tmp/t.wav" "$corpus/seed-vbr.mp3"
  lame --quiet -V 6 -t "$tmp/t.wav" "$tmp/bare.mp3"
  # A VBRI header frame, a tag of a thousand tiny frames, an unsynchronised ID3v2.3 tag and an
  # APE tag, in front of (or behind) the same audio.
  python3 - "$tmp/bare.mp3" "$corpus/seed-cbr.mp3" "$corpus" <<'PY'
import struct, sys
bare, cbr, out = open(sys.argv[1], 'rb').read(), open(sys.argv[2], 'rb').read(), sys.argv[3]
def syncsafe(n): return bytes([(n >> 21) & 127, (n >> 14) & 127, (n >> 7) & 127, n & 127])
def frame(fid, body, v4): return fid + (syncsafe(len(body)) if v4 else struct.pack('>I', len(body))) + b'\0\0' + body
vbri = bytearray(b'\xff\xf3\x48\xc4' + bytes(140))
vbri[36:54] = b'VBRI\0\1\0\0\0\x4b' + struct.pack('>II', len(bare) + 144, 12)
open(out + '/seed-vbri.mp3', 'wb').write(bytes(vbri) + bare)
body = b''.join(frame(b'TXXX', b'\0a\0b', True) for _ in range(1000)) + frame(b'TIT2', b'\3T', True)
open(out + '/seed-frames.mp3', 'wb').write(b'ID3\4\0\0' + syncsafe(len(body)) + body + cbr)
body = frame(b'TIT2', b'\0\xff\0\xe0', False)
open(out + '/seed-unsync.mp3', 'wb').write(b'ID3\3\0\x80' + syncsafe(len(body)) + body + cbr)
items = struct.pack('<II', 1, 0) + b'Title\0T'
footer = b'APETAGEX' + struct.pack('<IIII', 2000, len(items) + 32, 1, 0) + bytes(8)
open(out + '/seed-ape.mp3', 'wb').write(cbr + items + footer)
PY
  rm -rf "$tmp"
fi

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

# The two targets run side by side, one core each, each for the whole time given.
export ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1
"$build/bin/fuzz_engine" -max_total_time="$seconds" -max_len=65536 -dict="$root/fuzz/engine.dict" -timeout=10 -rss_limit_mb=2048 \
  -print_final_stats=1 "$corpus" >"$build/fuzz_engine.log" 2>&1 &
engine=$!
"$build/bin/fuzz_request" -max_total_time="$seconds" -max_len=20000 -timeout=10 -rss_limit_mb=2048 \
  -print_final_stats=1 "$corpus_request" >"$build/fuzz_request.log" 2>&1 &
request=$!
# A finding stops its target with a failure; show both reports before failing.
status=0
report() { # NAME PID
  wait "$2" || status=1
  echo "== $1"
  tail -n 12 "$build/$1.log"
}
report fuzz_engine "$engine"
report fuzz_request "$request"
exit "$status"
