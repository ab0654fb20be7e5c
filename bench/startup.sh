#!/usr/bin/env bash
# Whole-process start-up measurements (README.md, "Start-up"), side by side with hyperfine:
#   - quasel-tool render on a 3520 x 2400 16-bit FITS frame, against render_floor (read and
#     expand to 8-bit RGB in plain C) and, when installed, Siril's command line doing load,
#     stat and JPEG save of the same file;
#   - the viewer from launch to its first painted picture of the bundled sample.
# Needs hyperfine; siril-cli and Xvfb are used when present. Usage: bench/startup.sh [BUILD]
set -euo pipefail
build=$(realpath "${1:-build}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
"$build/bench/make_test_fits" big.fit

commands=("$build/bench/render_floor big.fit"
          "$build/bench/render_floor big.fit floor.jpg"
          "$build/tools/quasel-tool render big.fit out.jpg")
if command -v siril-cli > /dev/null; then
    printf 'requires 1.0.0\nload big.fit\nstat\nsavejpg siril 75\n' > siril.ssf
    commands+=("siril-cli -d $work -s $work/siril.ssf")
fi
hyperfine -N -w 3 -r 40 "${commands[@]}"

viewer=("env QUASEL_EXIT_AFTER_FIRST_PAINT=1 QT_QPA_PLATFORM=offscreen $build/viewer/quasel")
if command -v Xvfb > /dev/null; then
    Xvfb :97 -screen 0 1920x1080x24 > /dev/null 2>&1 &
    xvfb=$!
    trap 'kill $xvfb; rm -rf "$work"' EXIT
    sleep 1
    viewer+=("env QUASEL_EXIT_AFTER_FIRST_PAINT=1 QT_QPA_PLATFORM=xcb DISPLAY=:97 $build/viewer/quasel")
fi
hyperfine -N -w 3 -r 30 "${viewer[@]}"
