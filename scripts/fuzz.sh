#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang (ASan + UBSan) and runs each in turn for
# SECONDS seconds (default 60), seeded from the shared sample files. Prints, per target, the
# executions and findings; exits non-zero when any target found something.
#
#   scripts/fuzz.sh [SECONDS]
#   FUZZ_TARGETS="FITSReaderFuzz XISFReaderFuzz" scripts/fuzz.sh 600   # a subset
#   FUZZ_SEED=1 scripts/fuzz.sh 5                                      # repeatable run
#   FUZZ_FLAGS="-fork=1 -ignore_crashes=1" scripts/fuzz.sh 600          # more libFuzzer flags
#
# Findings (crash-*, timeout-*, leak-*, oom-*) land in build-fuzz/findings/<target>/; the corpus
# each target grows is kept in build-fuzz/corpus/<target>/ and reused by the next run.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
targets=(${FUZZ_TARGETS:-FITSReaderFuzz FITSHeaderFuzz XISFReaderFuzz RawBlobFuzz CameraRawFuzz
  DecoderRegistryFuzz DecompressFuzz TokenFileFuzz SerialModeFuzz NetworkAddressFuzz HttpBlobFuzz})
testdata="${QUASEL_TESTDATA_DIR:-$PWD/../shared/testdata}"
dir=build-fuzz

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang-14 \
  -DCMAKE_CXX_COMPILER=clang++-14 -DQUASEL_FUZZ=ON -DQUASEL_BUILD_TESTS=OFF \
  -DQUASEL_BUILD_BENCH=OFF "${launcher[@]}" >/dev/null
cmake --build "$dir" -j4 --target "${targets[@]}" >/dev/null

# Seeds, laid out afresh on every run from the sample files (never copied into the tree).
seeds="$dir/seeds"
rm -rf "$seeds"
mkdir -p "$seeds"/{fits,xisf,images,blobs,hostile}
# Tile-compressed FITS files (.fz, comp.fits) and the hostile samples included: their decoders
# run in the helper program, which the targets start as the viewer does.
for f in "$testdata"/fits/* "$testdata"/xisf/* "$testdata"/images/* "$testdata"/hostile/*; do
  if [ -f "$f" ]; then ln -sf "$(realpath "$f")" "$seeds/$(basename "$(dirname "$f")")/"; fi
done
# Raw frame blobs: 12-byte header (type, width, height little-endian) and packed rows.
blob() {
  { printf '%s' "$1"; printf "\\x$(printf %02x "$2")\\0\\0\\0\\x$(printf %02x "$3")\\0\\0\\0"
    head -c "$4" /dev/zero | tr '\0' '\101'; } >"$seeds/blobs/$1-$2x$3"
}
blob RAW1 8 4 32
blob RAW2 8 4 64
blob RAW3 8 4 96
# Small FITS files written by CFITSIO, their images fpacked with every codec (integer and
# quantized floating-point, tiles of rows, squares and the whole frame), and sample tables.
if [ -x "$dir/fuzz/make_fits_seeds" ]; then
  h="$seeds/headers"
  mkdir -p "$h"
  "$dir/fuzz/make_fits_seeds" "$h"
  while read -r name source flags; do
    # shellcheck disable=SC2086
    fpack $flags -O "$h/$name.fits.fz" "$h/$source.fits"
  done <<'EOF'
rice image16 -r
hcompress image16 -h
hcompress-lossy image16 -h -s 2.5
gzip1 image16 -g
gzip2 image16 -g2
plio image16 -p
whole-tile image16 -r -w
square-tiles image16 -r -t 16,16
rice32 image32 -r
quantized float32 -q 4
quantized-zero float32 -qz 4
lossless-float float32 -g -q 0
EOF
  for f in "$testdata"/fits/btable.fits "$testdata"/fits/asciitab.fit "$testdata"/fits/test0.fits; do
    if [ -f "$f" ]; then ln -sf "$(realpath "$f")" "$h/"; fi
  done
fi
mkdir -p "$seeds/camera"
python3 fuzz/dng_seed.py "$seeds/camera/bayer.dng"
# The support library's parsers: a gzip stream (after its capacity byte), a token file, serial
# modes, device addresses (after the caller's protocol byte) and HTTP replies.
mkdir -p "$seeds"/{gzip,tokens,serial,address,http}
body="SIMPLE  =                    T"
{ printf '\x02'; printf '%s' "$body" | gzip -c; } >"$seeds/gzip/frame.gz"
printf '# Device ACL saved by SOLVAN\n    1a2b CCD Simulator\ndeadbeef @\n' >"$seeds/tokens/acl"
printf '115200-7E2' >"$seeds/serial/fast"
printf '9600-8n1' >"$seeds/serial/slow"
printf '\0tcp://127.0.0.1:7624' >"$seeds/address/tcp"
printf '\2udp://[::1]' >"$seeds/address/udp"
printf 'HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n%s' "${#body}" "$body" >"$seeds/http/plain"
{ printf 'HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: %d\r\n' \
    "$(printf '%s' "$body" | gzip -c | wc -c)"
  printf 'X-Uncompressed-Content-Length: %d\r\n\r\n' "${#body}"
  printf '%s' "$body" | gzip -c; } >"$seeds/http/gzip"

seed_dirs() {
  case "$1" in
    FITSReaderFuzz) echo "$seeds/fits $seeds/hostile" ;;
    FITSHeaderFuzz) echo "$seeds/headers" ;;
    XISFReaderFuzz) echo "$seeds/xisf" ;;
    RawBlobFuzz) echo "$seeds/blobs" ;;
    CameraRawFuzz) echo "$seeds/camera $seeds/images $seeds/hostile" ;;
    DecompressFuzz) echo "$seeds/gzip" ;;
    TokenFileFuzz) echo "$seeds/tokens" ;;
    SerialModeFuzz) echo "$seeds/serial" ;;
    NetworkAddressFuzz) echo "$seeds/address" ;;
    HttpBlobFuzz) echo "$seeds/http" ;;
    DecoderRegistryFuzz) echo "$seeds/fits $seeds/xisf $seeds/images $seeds/blobs $seeds/hostile" ;;
    *) ;;
  esac
}

symbolizer=$(command -v llvm-symbolizer-14 || command -v llvm-symbolizer || true)
if [ -n "$symbolizer" ]; then export ASAN_SYMBOLIZER_PATH="$symbolizer"; fi
# A failed allocation returns null as in a release build (CFITSIO asks calloc for absurd column
# counts and handles the null); reads out of bounds, leaks and undefined behaviour still abort.
export ASAN_OPTIONS="allocator_may_return_null=1${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export UBSAN_OPTIONS="print_stacktrace=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
export QT_QPA_PLATFORM=offscreen

failed=0
for t in "${targets[@]}"; do
  corpus="$dir/corpus/$t"
  findings="$dir/findings/$t"
  mkdir -p "$corpus" "$findings"
  log="$dir/$t.log"
  before=$(find "$findings" -type f | wc -l)
  # -timeout: an input taking longer counts as a hang; -rss_limit_mb: as running out of memory.
  set +e
  # shellcheck disable=SC2046
  "$dir/fuzz/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -seed="${FUZZ_SEED:-0}" -artifact_prefix="$findings/" \
    ${FUZZ_FLAGS:-} "$corpus" $(seed_dirs "$t") >"$log" 2>&1
  rc=$?
  set -e
  execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' |
    tail -1 || true)
  # Fork mode prints no final statistics: its last status line counts the executions.
  [ -n "$execs" ] || execs=$(grep -o '^#[0-9]*' "$log" | tr -d '#' | tail -1 || true)
  found=$(( $(find "$findings" -type f | wc -l) - before ))
  if [ "$rc" -ne 0 ] && [ "$found" -eq 0 ]; then found=1; fi
  line="$t: ${execs:-?} executions, $found findings"
  if [ "$found" -ne 0 ]; then
    failed=1
    line="$line (see $log)"
    grep -m1 -E '^(==[0-9]+==ERROR|SUMMARY|.*runtime error)' "$log" || true
  fi
  echo "$line"
done
echo "fuzz: ${#targets[@]} targets, $seconds s each"
exit "$failed"
